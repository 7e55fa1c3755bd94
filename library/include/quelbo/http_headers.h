// HTTPHeaders: the request header entries of an HTTP operation.
#pragma once
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>

#include "quelbo/export.h"

namespace quelbo {

// The ordered request header entries an HTTP operation sends.
class QUELBO_API HTTPHeaders
{
public:
    struct Entry
    {
        std::string name;
        std::string value;
    };

    HTTPHeaders();
    // count entries read one after another from entries.
    HTTPHeaders(Entry const* entries, std::size_t count);
    HTTPHeaders(std::initializer_list<Entry> entries);
    HTTPHeaders(HTTPHeaders const& other);
    HTTPHeaders(HTTPHeaders&& other) noexcept;
    HTTPHeaders& operator=(HTTPHeaders const& other);
    ~HTTPHeaders();

    std::size_t size() const;
    // InvalidArgument for an index at or past size().
    Entry at(std::size_t index) const;
    void add(Entry const& entry);
    void add(std::string const& name, std::string const& value);

private:
    struct Private;
    std::unique_ptr<Private> m_private;
};

} // namespace quelbo
