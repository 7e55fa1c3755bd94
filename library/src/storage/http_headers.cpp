// HTTPHeaders: the ordered request header entries.
#include <vector>

#include "quelbo/error.h"
#include "quelbo/http_headers.h"

namespace quelbo {

struct HTTPHeaders::Private
{
    std::vector<Entry> entries;
};

HTTPHeaders::HTTPHeaders() : m_private(new Private) {}

HTTPHeaders::HTTPHeaders(Entry const* entries, std::size_t count) : HTTPHeaders()
{
    if (count && !entries)
        throw InvalidArgument("HTTPHeaders: null entries");
    m_private->entries.assign(entries, entries + count);
}

HTTPHeaders::HTTPHeaders(std::initializer_list<Entry> entries) : HTTPHeaders()
{
    m_private->entries.assign(entries.begin(), entries.end());
}

HTTPHeaders::HTTPHeaders(HTTPHeaders const& other) : m_private(new Private(*other.m_private)) {}

HTTPHeaders::HTTPHeaders(HTTPHeaders&& other) noexcept : m_private(std::move(other.m_private)) {}

HTTPHeaders& HTTPHeaders::operator=(HTTPHeaders const& other)
{
    if (this != &other)
        m_private.reset(new Private(*other.m_private));
    return *this;
}

HTTPHeaders::~HTTPHeaders() = default;

std::size_t HTTPHeaders::size() const
{
    return m_private ? m_private->entries.size() : 0;
}

HTTPHeaders::Entry HTTPHeaders::at(std::size_t index) const
{
    if (index >= size())
        throw InvalidArgument("HTTPHeaders::at: index " + std::to_string(index) + " out of range (size " +
                              std::to_string(size()) + ")");
    return m_private->entries[index];
}

void HTTPHeaders::add(Entry const& entry)
{
    if (!m_private)
        m_private.reset(new Private);
    m_private->entries.push_back(entry);
}

void HTTPHeaders::add(std::string const& name, std::string const& value)
{
    add(Entry{name, value});
}

} // namespace quelbo
