// StreamAccess: sequential byte streams with a cursor.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "quelbo/data_access.h"
#include "quelbo/error.h"
#include "quelbo/flags.h"

namespace quelbo {

enum class SeekOrigin : int32_t
{
    BEGIN = 1,
    CURRENT = 2,
    END = 3,
};

// A sequential byte stream with a cursor. Operations need capabilities:
// read and peek READ, write and flush WRITE, tell and seek SEEK; a missing
// capability raises Error.
class QUELBO_API StreamAccess : public DataAccess
{
public:
    using DataAccess::DataAccess;

    virtual StreamAccessCapabilitySet capabilities() const = 0;
    // Neither end of stream nor failure: the stream can be read.
    virtual bool good() const = 0;
    // No byte left at the cursor.
    virtual bool eof() const = 0;
    // A transfer failed.
    virtual bool fail() const = 0;
    // Reads up to size bytes at the cursor into dst; returns the count read
    // and moves the cursor by it.
    virtual std::size_t read(std::size_t size, uint8_t* dst) = 0;
    // The byte at the cursor, without moving it; Error at the end.
    virtual uint8_t peek() = 0;
    // Writes size bytes of src at the cursor; returns the count written.
    virtual std::size_t write(std::size_t size, const uint8_t* src) = 0;
    // Makes sure everything written has reached the endpoint.
    virtual void flush() = 0;
    virtual std::size_t tell() = 0;
    // The new position is the origin's position plus offset; a position
    // before the beginning raises Error and keeps the previous one.
    virtual void seek(int64_t offset, SeekOrigin origin) = 0;

    std::string toString() const;
    bool support(StreamAccessCapabilitySet flags) const { return capabilities().has(flags); }
};

// A stream let go with bytes its endpoint refused as it finished (written
// but never flushed) cannot raise: it logs the error (LOG_ERR) and hands it
// to the handler set here, if any, on the thread that let the stream go
// (the handler must not throw).
using UndeliveredHandler = void (*)(Error const& error);
// Sets the handler (nullptr: none); returns the one set before.
QUELBO_API UndeliveredHandler setUndeliveredHandler(UndeliveredHandler handler);

} // namespace quelbo
