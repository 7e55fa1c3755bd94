// Uri: a parsed resource identifier.
#include "quelbo/uri.h"
#include "core_args.h"

namespace {

using namespace qw;
using quelbo::Uri;

QW_TYPE(Uri, "_p_quelbo__Uri");

struct UriTr
{
    using T = Uri;
    static constexpr const char* name = "Uri";
    static constexpr const char* native = "quelbo::Uri";
    static constexpr const char* self_type = "quelbo::Uri const *";
};

PyObject* new_Uri(PyObject*, PyObject* args)
{
    static const char* fn = "new_Uri";
    static const Overloads rows(
        fn, {{"quelbo::Uri::Uri(quelbo::Uri const &)", 1, 1, [](Args a, Py_ssize_t) { return is_obj<Uri>(a[0]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  Uri* other;
                  if (!ref(a[0], {fn, 1, "quelbo::Uri const &"}, other))
                      return nullptr;
                  return call([&] { return constructed(new Uri(*other)); });
              },
              1},
             {"quelbo::Uri::Uri(std::string const &)", 1, 1, [](Args a, Py_ssize_t) { return is<std::string>(a[0]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  std::string text;
                  if (!arg(a[0], {fn, 1, "std::string const &"}, text))
                      return nullptr;
                  // a malformed text is refused by the parser
                  return call([&] { return constructed(new Uri(text)); });
              },
              0}});
    return rows(args);
}

constexpr char kScheme[] = "scheme";
constexpr char kAuthority[] = "authority";
constexpr char kUserInfo[] = "user_info";
constexpr char kHost[] = "host";
constexpr char kPort[] = "port";
constexpr char kPath[] = "path";
constexpr char kQuery[] = "query";
constexpr char kPathAndQuery[] = "path_and_query";
constexpr char kToString[] = "to_string";

void add_uri(Methods& m)
{
    m.add<&new_Uri>("new_Uri", METH_VARARGS);
    m.add<&ClassOps<UriTr>::del>("delete_Uri", METH_O);
    add_const_getter<UriTr, kScheme, &Uri::scheme>(m);
    add_const_getter<UriTr, kAuthority, &Uri::authority>(m);
    add_const_getter<UriTr, kUserInfo, &Uri::userInfo>(m);
    add_const_getter<UriTr, kHost, &Uri::host>(m);
    add_const_getter<UriTr, kPort, &Uri::port>(m);
    add_const_getter<UriTr, kPath, &Uri::path>(m);
    add_const_getter<UriTr, kQuery, &Uri::query>(m);
    add_const_getter<UriTr, kPathAndQuery, &Uri::pathAndQuery>(m);
    add_const_getter<UriTr, kToString, &Uri::toString>(m);
    add_hooks<Uri>(m, "Uri");
}

QW_FAMILY(order::uri, add_uri);

} // namespace
