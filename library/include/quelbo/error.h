// The errors the library throws, and the checked size arithmetic.
#pragma once
#include <exception>
#include <string>
#include <utility>

#include "quelbo/export.h"

namespace quelbo {

// Base of every failure the library reports. Copy, move and destruction are
// inline so that users of the headers compile them in.
class QUELBO_API Error : public std::exception
{
public:
    explicit Error(std::string const& message);
    Error(Error const& other) : std::exception(other), m_message(other.m_message) {}
    Error(Error&& other) noexcept : std::exception(other), m_message(std::move(other.m_message))
    {
        other.m_message.clear();
    }
    ~Error() override {}

    const char* what() const noexcept override;

private:
    std::string m_message;
};

// An argument a call cannot accept (index, size, region, buffer...).
class QUELBO_API InvalidArgument : public Error
{
public:
    explicit InvalidArgument(std::string const& message);
    InvalidArgument(InvalidArgument const& other) = default;
    InvalidArgument(InvalidArgument&& other) noexcept = default;
    ~InvalidArgument() override {}
};

// An operation the object does not support.
class QUELBO_API NotImplemented : public Error
{
public:
    explicit NotImplemented(std::string const& message);
    NotImplemented(NotImplemented const& other) = default;
    NotImplemented(NotImplemented&& other) noexcept = default;
    ~NotImplemented() override {}
};

// A system call that a signal interrupted and that the interrupt handler
// ended (setInterruptHandler, stream_access.h): the Error "<what> '<path>':
// Interrupted system call". Nothing the call's stream took is lost, and the
// stream is not marked failed.
class QUELBO_API Interrupted : public Error
{
public:
    using Error::Error;
};

// Multiplies two sizes, throwing InvalidArgument when the product does not fit.
QUELBO_API std::size_t checkedMultiply(std::size_t a, std::size_t b, char const* what);
// Adds two sizes, throwing InvalidArgument when the sum does not fit.
QUELBO_API std::size_t checkedAdd(std::size_t a, std::size_t b, char const* what);

} // namespace quelbo
