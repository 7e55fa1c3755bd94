// The descriptor under a file stream (private to the library): what the
// stream's calls leave there (its failures, the interrupt handler's turn),
// and the calls of a stream that cannot seek (a pipe, a FIFO, a terminal, a
// device), which read and write the descriptor as they go and run Python's
// signal handlers (the interrupt handler) while they wait. Whatever such a
// stream received or took is its own before the handler runs: a handler
// that changes the caller's memory changes nothing the stream gives back or
// writes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "values/large_block.h"

namespace quelbo::detail {

// The bytes a read of a stream that cannot seek has put in its caller's
// memory so far, and its own copy of them, made before the interrupt
// handler runs (Python code, which may change the caller's memory): what
// the read gives back when the handler ends it.
struct Received
{
    uint8_t const* dst;
    std::size_t done = 0;
    Bytes kept;
};

struct StreamDescriptor
{
    StreamDescriptor(std::string path) : path(std::move(path)) {}
    StreamDescriptor(StreamDescriptor const&) = delete;
    StreamDescriptor& operator=(StreamDescriptor const&) = delete;
    ~StreamDescriptor();

    // Up to size bytes from the descriptor: fewer at its end, none past it.
    std::size_t read(uint8_t* dst, std::size_t size);
    // A stream's write: small ones wait in the queue, larger ones, and all
    // of a stream that also reads (`through`), go to the descriptor at once.
    void write(const uint8_t* src, std::size_t size, bool through);
    // Hands the queue to the descriptor; `what` names the failure. What an
    // interrupted delivery did not hand over stays queued.
    void deliver(char const* what);
    // The interrupt handler's answer (what a read in flight received so far
    // copied first).
    bool carryOn();
    // Refuses a use of the stream while the interrupt handler runs in one of
    // its calls.
    void idle() const
    {
        if (waiting)
            reentered();
    }
    // The file refused written bytes (err tells why): every later flush
    // reports it.
    [[noreturn]] void refuse(int err, char const* what);

    std::string path;
    int fd = -1;
    std::size_t capacity = 0;
    bool failed = false;
    int refused = 0;              // errno of the last write the file refused
    bool waiting = false;         // the interrupt handler runs in a call of the stream
    bool serves = false;          // reads may be served from the buffer: the stream reads, and is not waiting
    Received* received = nullptr; // the read in flight
    // The queue: bytes written, in the order the descriptor takes them.
    std::unique_ptr<uint8_t[]> out;
    std::size_t outRoom = 0, outLen = 0;

private:
    [[noreturn]] void reentered() const;
    std::size_t put(const uint8_t* src, std::size_t size, char const* what, bool own);
    void straight(const uint8_t* src, std::size_t size);
};

// Whether the descriptor has bytes to read, or its end, now: a read would
// not wait.
bool readable(int fd);

// Gives the buffer room for n bytes, dropping what it holds when it has to
// grow; with `exactly`, one grown past n comes back to n.
inline void roomFor(std::unique_ptr<uint8_t[]>& buffer, std::size_t& room, std::size_t n, bool exactly = false)
{
    if (room < n || (exactly && room != n)) {
        buffer.reset(new uint8_t[n]);
        room = n;
    }
}

} // namespace quelbo::detail
