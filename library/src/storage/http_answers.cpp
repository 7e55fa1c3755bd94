// What HTTP failures say: the status with its reason, TLS failures as such,
// and texts a peer sent only as printable ASCII.
#include <string>

#include "quelbo/error.h"
#include "storage/http_client.h"

namespace quelbo::detail {

namespace {

// The reason phrase of a status code, or null for an unknown code.
char const* reasonOf(long code)
{
    static constexpr struct
    {
        long code;
        char const* reason;
    } kReasons[] = {
        {100, "Continue"}, {101, "Switching Protocols"}, {200, "OK"}, {201, "Created"}, {202, "Accepted"},
        {203, "Non-Authoritative Information"}, {204, "No Content"}, {205, "Reset Content"},
        {206, "Partial Content"}, {300, "Multiple Choices"}, {301, "Moved Permanently"}, {302, "Found"},
        {303, "See Other"}, {304, "Not Modified"}, {305, "Use Proxy"}, {307, "Temporary Redirect"},
        {308, "Permanent Redirect"}, {400, "Bad Request"}, {401, "Unauthorized"}, {402, "Payment Required"},
        {403, "Forbidden"}, {404, "Not Found"}, {405, "Method Not Allowed"}, {406, "Not Acceptable"},
        {407, "Proxy Authentication Required"}, {408, "Request Timeout"}, {409, "Conflict"}, {410, "Gone"},
        {411, "Length Required"}, {412, "Precondition Failed"}, {413, "Content Too Large"},
        {414, "URI Too Long"}, {415, "Unsupported Media Type"}, {416, "Range Not Satisfiable"},
        {417, "Expectation Failed"}, {421, "Misdirected Request"}, {422, "Unprocessable Content"},
        {425, "Too Early"}, {426, "Upgrade Required"}, {428, "Precondition Required"},
        {429, "Too Many Requests"}, {431, "Request Header Fields Too Large"},
        {451, "Unavailable For Legal Reasons"}, {500, "Internal Server Error"}, {501, "Not Implemented"},
        {502, "Bad Gateway"}, {503, "Service Unavailable"}, {504, "Gateway Timeout"},
        {505, "HTTP Version Not Supported"}, {511, "Network Authentication Required"},
    };
    for (auto const& r : kReasons)
        if (r.code == code)
            return r.reason;
    return nullptr;
}

// Whether the client failed in setting up or checking the TLS session.
bool tlsFailure(CURLcode res)
{
    switch (res) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
        return true;
    default:
        return false;
    }
}

// The client's reason for a redirect target it cannot parse, without its
// own words for the failure.
std::string unparsedTarget(std::string const& reason)
{
    static constexpr char kSaid[] = "The redirect target URL could not be parsed: ";
    return reason.compare(0, sizeof kSaid - 1, kSaid) == 0 ? reason.substr(sizeof kSaid - 1) : reason;
}

} // namespace

std::string shownText(std::string const& text)
{
    constexpr std::size_t kMost = 80;
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < kMost; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        out += c >= 0x20 && c < 0x7f ? char(c) : '?';
    }
    return text.size() > kMost ? out + "..." : out;
}

void HttpClient::raise(std::string const& what) const
{
    throw Error("HTTP " + m_method + " '" + m_shown + "': " + what);
}

// A status is the reason a request ended only when it is the answer: not
// an interim one (1xx), nor a redirect that is being followed or whose
// following failed.
bool HttpClient::finalAnswer(long code, CURLcode res) const
{
    if (code < 200)
        return false;
    return code < 300 || code > 399 || !m_follow || (res == CURLE_OK && m_done);
}

std::string HttpClient::reason(CURLcode res) const
{
    return m_error[0] ? m_error : curl_easy_strerror(res);
}

void HttpClient::fail(std::string const& what, CURLcode res) const
{
    std::string text = what;
    if (long code = status(); finalAnswer(code, res))
        text += " (status " + std::to_string(code) + ")";
    if (res != CURLE_OK)
        text += ": " + reason(res);
    raise(text);
}

void HttpClient::checkAnswer(CURLcode res, char const* unanswered) const
{
    long const code = status();
    if (tlsFailure(res))
        raise("TLS: " + reason(res));
    if (code == 0)
        fail("no answer", res);
    if (finalAnswer(code, res)) {
        if (code > 299) {
            char const* text = reasonOf(code);
            raise("the server answered " + std::to_string(code) + (text ? std::string(" ") + text : std::string()));
        }
        return;
    }
    // The transfer failed before a final answer came: its failure decides.
    switch (res) {
    case CURLE_TOO_MANY_REDIRECTS:
        raise("too many redirects");
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        raise("cannot connect: " + reason(res));
    case CURLE_UNSUPPORTED_PROTOCOL:
        raise("redirect to a scheme other than http/https refused");
    case CURLE_URL_MALFORMAT:
        if (code > 299 && code < 400)
            raise("the server answered with a redirect whose target cannot be parsed: " + unparsedTarget(reason(res)));
        [[fallthrough]];
    default:
        fail(unanswered, res);
    }
}

} // namespace quelbo::detail
