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

constexpr auto kUriRef = named<const quelbo::Uri&>;

struct new_copy : Candidate<Params<Ref<Uri, kUriRef>>, 1>
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
    m.add<new_uri>();
    m.add<Delete<UriTr>>();
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

QW_FAMILY(add_uri);

} // namespace
