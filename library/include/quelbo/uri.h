// Uri: parsed, checked resource identifiers.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "quelbo/export.h"

namespace quelbo {

namespace detail {
struct UriParts;
}

// A parsed resource identifier:
//   scheme ":" ["//" [userInfo "@"] host [":" port]] path ["?" query] ["#" fragment]
class QUELBO_API Uri
{
public:
    // An empty identifier: every part empty.
    Uri();
    // Parses string and sets uri fields. InvalidArgument for a malformed
    // string (bad scheme, unclosed IPv6 host, bad port, bad percent escape,
    // control characters).
    explicit Uri(std::string const& text);
    Uri(Uri const& other);
    Uri(Uri&& other) noexcept;
    Uri& operator=(Uri const& other);
    Uri& operator=(Uri&& other) noexcept;
    ~Uri();

    // Scheme or protocol e.g. http, https, ftp (lower case)
    std::string scheme() const;
    // the authority part (userInfo, host and port), as written
    std::string authority() const;
    std::string userInfo() const;
    // The host, without the brackets of an IPv6 address.
    std::string host() const;
    // The given port, else the usual port of http (80), https (443) and ftp
    // (21), else 0.
    uint16_t port() const;
    // the decoded path part
    std::string path() const;
    // the decoded query part
    std::string query() const;
    // the encoded path and query parts
    std::string pathAndQuery() const;
    // a string representation of the URI
    std::string toString() const;

    // The "file" URI of an absolute path, any bytes: every byte that may not
    // stand in a path is escaped ('%', '?', '#', blanks, bytes above 0x7f),
    // so that the path of the parsed URI is the given one.
    static std::string fileUri(std::string const& path);

private:
    std::unique_ptr<detail::UriParts> m_pimpl;
};

} // namespace quelbo
