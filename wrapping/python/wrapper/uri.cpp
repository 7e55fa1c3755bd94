// Uri: a parsed resource identifier.
#include "quelbo/uri.h"
#include "core_args.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::Uri;

QW_TYPE(Uri);

using UriTr = Traits<Uri>;

struct new_copy : Candidate<Params<Ref<Uri>>, 1>
{
    static constexpr const char* member = UriTr::constructor;
    static constexpr auto call = [](const Uri& other) { return constructed(new Uri(other)); };
};
// a malformed text is refused by the parser
struct new_parsed : Candidate<Params<Arg<std::string, text::string_ref>>, 0>
{
    static constexpr const char* member = UriTr::constructor;
    static constexpr auto call = [](const std::string& text) { return constructed(new Uri(text)); };
};
struct new_uri : DeclareOverloads<new_uri, new_copy, new_parsed>
{
    static constexpr const char* name = "new_Uri";
};

void add_uri(Methods& m)
{
    m.add<new_uri>();
    m.add<Delete<UriTr>>();
    add_const_getter<UriTr, QW_NAME("scheme"), &Uri::scheme>(m);
    add_const_getter<UriTr, QW_NAME("authority"), &Uri::authority>(m);
    add_const_getter<UriTr, QW_NAME("user_info"), &Uri::userInfo>(m);
    add_const_getter<UriTr, QW_NAME("host"), &Uri::host>(m);
    add_const_getter<UriTr, QW_NAME("port"), &Uri::port>(m);
    add_const_getter<UriTr, QW_NAME("path"), &Uri::path>(m);
    add_const_getter<UriTr, QW_NAME("query"), &Uri::query>(m);
    add_const_getter<UriTr, QW_NAME("path_and_query"), &Uri::pathAndQuery>(m);
    add_const_getter<UriTr, QW_NAME("to_string"), &Uri::toString>(m);
    add_hooks<Uri>(m, "Uri");
}

QW_FAMILY(add_uri);

} // namespace
