// The errors and the checked size arithmetic.
#include "quelbo/error.h"

namespace quelbo {

Error::Error(std::string const& message) : m_message(message) {}

const char* Error::what() const noexcept
{
    return m_message.c_str();
}

InvalidArgument::InvalidArgument(std::string const& message) : Error(message) {}

NotImplemented::NotImplemented(std::string const& message) : Error(message) {}

std::size_t checkedMultiply(std::size_t a, std::size_t b, char const* what)
{
    std::size_t r;
    if (__builtin_mul_overflow(a, b, &r))
        throw InvalidArgument(std::string(what) + ": size overflows 64 bits");
    return r;
}

std::size_t checkedAdd(std::size_t a, std::size_t b, char const* what)
{
    std::size_t r;
    if (__builtin_add_overflow(a, b, &r))
        throw InvalidArgument(std::string(what) + ": size overflows 64 bits");
    return r;
}

} // namespace quelbo
