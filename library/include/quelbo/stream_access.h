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

// A signal that interrupts a file's system call that waits (a read or write
// of a stream that cannot seek: a pipe, a FIFO, a terminal; the open of a
// FIFO, which waits for its other end) asks the handler set here, on the
// thread of the call, whether to carry on: true makes the call again, false
// ends it with Interrupted (the handler must not throw). Without a handler
// the call is made again, as the system does for a signal installed with
// SA_RESTART: a signal whose work its own handler does ends no transfer, and
// no byte is lost or written twice. A program that wants a signal to end a
// waiting call says so here (its signal handler flags it, this handler
// answers false).
//
// What a call ended so leaves, as a buffered file of Python's leaves it:
// - a read gives back the bytes it had taken: the next read takes them again;
// - bytes written earlier and still buffered stay buffered, less those that
//   reached the file, for the next write, flush or read (or as the stream
//   goes); the ending write took none of its own bytes then;
// - a write whose own bytes went straight to the file took them all once some
//   of them reached it (the rest buffered as above), and none otherwise.
// The stream is not marked failed. While the handler runs, the stream refuses
// to be used (Error "reentrant call inside file stream '<path>'").
using InterruptHandler = bool (*)();
// Sets the handler (nullptr: none); returns the one set before.
QUELBO_API InterruptHandler setInterruptHandler(InterruptHandler handler);

} // namespace quelbo
