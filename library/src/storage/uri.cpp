// Uri: parsing, checking and percent-encoding of resource identifiers.
#include "quelbo/uri.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "quelbo/error.h"
#include "storage/shown_uri.h"

namespace quelbo {

namespace detail {
struct UriParts
{
    std::string scheme;
    bool hasAuthority = false;
    std::string authority; // as written
    bool hasUserInfo = false;
    std::string userInfo;
    std::string host;
    bool hasPort = false;
    uint16_t port = 0;
    std::string path; // encoded
    bool hasQuery = false;
    std::string query; // encoded
    bool hasFragment = false;
    std::string fragment; // encoded
};
} // namespace detail

using Impl = detail::UriParts;

namespace {

[[noreturn]] void malformed(std::string const& text, char const* why)
{
    throw InvalidArgument("Malformed URI '" + detail::shownUri(text) + "': " + why);
}

bool isHex(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

int hexValue(char c)
{
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

bool isUnreserved(unsigned char c)
{
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

bool isSubDelim(unsigned char c)
{
    return std::strchr("!$&'()*+,;=", c) != nullptr && c != 0;
}

// Every '%' must start a two-digit hexadecimal escape.
void checkEscapes(std::string const& text, std::string const& part)
{
    for (size_t i = 0; i < part.size(); ++i)
        if (part[i] == '%' && (i + 2 >= part.size() || !isHex(part[i + 1]) || !isHex(part[i + 2])))
            malformed(text, "invalid percent escape");
}

// Only unreserved characters, sub-delimiters, escapes, the extra characters
// and non-ASCII bytes may stand in a part of the authority.
void checkPart(std::string const& text, std::string const& part, char const* extraAllowed, char const* why)
{
    for (char ch : part) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x80 && !isUnreserved(c) && !isSubDelim(c) && c != '%' && !std::strchr(extraAllowed, c))
            malformed(text, why);
    }
    checkEscapes(text, part);
}

std::string decode(std::string const& encoded)
{
    std::string out;
    out.reserve(encoded.size());
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size() && isHex(encoded[i + 1]) && isHex(encoded[i + 2])) {
            out += char(hexValue(encoded[i + 1]) * 16 + hexValue(encoded[i + 2]));
            i += 2;
        } else
            out += encoded[i];
    }
    return out;
}

// Escapes every byte that may not stand as it is, keeping existing escapes
// (or, for raw text, escaping its '%' too).
std::string encode(std::string const& raw, char const* extraAllowed, bool keepEscapes = true)
{
    static char const kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(raw.size());
    for (char ch : raw) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (isUnreserved(c) || isSubDelim(c) || (c == '%' && keepEscapes) || (c != 0 && std::strchr(extraAllowed, c)))
            out += ch;
        else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

void parseHostPort(std::string const& text, std::string const& hostPort, Impl& uri)
{
    size_t portStart = std::string::npos;
    if (!hostPort.empty() && hostPort[0] == '[') {
        const size_t close = hostPort.find(']');
        if (close == std::string::npos)
            malformed(text, "unclosed IPv6 host");
        uri.host = hostPort.substr(1, close - 1);
        if (uri.host.find(':') == std::string::npos)
            malformed(text, "invalid IPv6 host");
        for (char c : uri.host)
            if (!isHex(c) && c != ':' && c != '.')
                malformed(text, "invalid IPv6 host");
        if (close + 1 < hostPort.size()) {
            if (hostPort[close + 1] != ':')
                malformed(text, "unexpected text after IPv6 host");
            portStart = close + 2;
        }
    } else {
        const size_t colon = hostPort.find(':');
        uri.host = hostPort.substr(0, colon);
        checkPart(text, uri.host, "", "invalid character in host");
        if (colon != std::string::npos)
            portStart = colon + 1;
    }
    if (portStart == std::string::npos || portStart >= hostPort.size())
        return; // no port, or an empty one
    unsigned long value = 0;
    for (size_t i = portStart; i < hostPort.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(hostPort[i])))
            malformed(text, "invalid port");
        value = value * 10 + unsigned(hostPort[i] - '0');
        if (value > 65535)
            malformed(text, "port out of range");
    }
    uri.hasPort = true;
    uri.port = uint16_t(value);
}

void parse(std::string const& text, Impl& uri)
{
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f)
            malformed(text, "control character");
    }
    size_t pos = 0;

    // scheme: a letter, then letters, digits, '+', '-', '.', before the first ':'
    const size_t colon = text.find(':');
    const size_t firstDelim = text.find_first_of("/?#");
    if (colon != std::string::npos && colon < firstDelim) {
        if (colon == 0 || !std::isalpha(static_cast<unsigned char>(text[0])))
            malformed(text, "invalid scheme");
        for (size_t i = 0; i < colon; ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
                malformed(text, "invalid scheme");
            uri.scheme += char(std::tolower(c));
        }
        pos = colon + 1;
    }

    if (text.compare(pos, 2, "//") == 0) {
        pos += 2;
        const size_t end = std::min(text.find_first_of("/?#", pos), text.size());
        uri.hasAuthority = true;
        uri.authority = text.substr(pos, end - pos);
        const size_t at = uri.authority.rfind('@');
        std::string hostPort = uri.authority;
        if (at != std::string::npos) {
            uri.hasUserInfo = true;
            uri.userInfo = uri.authority.substr(0, at);
            checkPart(text, uri.userInfo, ":", "invalid character in user information");
            hostPort = uri.authority.substr(at + 1);
        }
        parseHostPort(text, hostPort, uri);
        pos = end;
    }

    const size_t pathEnd = std::min(text.find_first_of("?#", pos), text.size());
    uri.path = text.substr(pos, pathEnd - pos);
    pos = pathEnd;
    if (pos < text.size() && text[pos] == '?') {
        const size_t end = std::min(text.find('#', pos), text.size());
        uri.hasQuery = true;
        uri.query = text.substr(pos + 1, end - pos - 1);
        pos = end;
    }
    if (pos < text.size() && text[pos] == '#') {
        uri.hasFragment = true;
        uri.fragment = text.substr(pos + 1);
    }
    checkEscapes(text, uri.path);
    checkEscapes(text, uri.query);
    checkEscapes(text, uri.fragment);
}

Impl const& emptyImpl()
{
    static const Impl empty;
    return empty;
}

} // namespace

// The authority is found as the parser finds it: "//" before any other '/',
// '?' or '#', up to the next of them; its user information ends at its last
// '@'.
std::string detail::shownUri(std::string const& text)
{
    std::size_t const slash = text.find_first_of("/?#");
    if (slash == std::string::npos || text.compare(slash, 2, "//") != 0)
        return text;
    std::size_t const start = slash + 2;
    std::size_t const end = std::min(text.find_first_of("/?#", start), text.size());
    std::size_t const at = text.rfind('@', end - 1);
    if (at == std::string::npos || at < start)
        return text;
    std::size_t const colon = text.find(':', start);
    std::size_t const kept = colon < at ? colon + 1 : start;
    return text.substr(0, kept) + "***" + text.substr(at);
}

Uri::Uri() : m_pimpl(new Impl) {}

Uri::Uri(std::string const& text) : m_pimpl(new Impl)
{
    parse(text, *m_pimpl);
}

Uri::Uri(Uri const& other) : m_pimpl(new Impl(other.m_pimpl ? *other.m_pimpl : emptyImpl())) {}

Uri::Uri(Uri&& other) noexcept = default;

Uri& Uri::operator=(Uri const& other)
{
    if (this != &other)
        m_pimpl.reset(new Impl(other.m_pimpl ? *other.m_pimpl : emptyImpl()));
    return *this;
}

Uri& Uri::operator=(Uri&& other) noexcept = default;

Uri::~Uri() = default;

#define QUELBO_IMPL (m_pimpl ? *m_pimpl : emptyImpl())

std::string Uri::scheme() const
{
    return QUELBO_IMPL.scheme;
}

std::string Uri::authority() const
{
    return QUELBO_IMPL.authority;
}

std::string Uri::userInfo() const
{
    return QUELBO_IMPL.userInfo;
}

std::string Uri::host() const
{
    return QUELBO_IMPL.host;
}

uint16_t Uri::port() const
{
    Impl const& impl = QUELBO_IMPL;
    if (impl.hasPort)
        return impl.port;
    if (impl.scheme == "http")
        return 80;
    if (impl.scheme == "https")
        return 443;
    if (impl.scheme == "ftp")
        return 21;
    return 0;
}

std::string Uri::path() const
{
    return decode(QUELBO_IMPL.path);
}

std::string Uri::query() const
{
    return decode(QUELBO_IMPL.query);
}

std::string Uri::pathAndQuery() const
{
    Impl const& impl = QUELBO_IMPL;
    std::string text = encode(impl.path, ":@/");
    if (impl.hasQuery)
        text += "?" + encode(impl.query, ":@/?");
    return text;
}

std::string Uri::fileUri(std::string const& path)
{
    return "file://" + encode(path, ":@/", false);
}

std::string Uri::toString() const
{
    Impl const& impl = QUELBO_IMPL;
    std::string text;
    if (!impl.scheme.empty())
        text += impl.scheme + ":";
    if (impl.hasAuthority)
        text += "//" + impl.authority;
    text += pathAndQuery();
    if (impl.hasFragment)
        text += "#" + encode(impl.fragment, ":@/?");
    return text;
}

#undef QUELBO_IMPL

} // namespace quelbo
