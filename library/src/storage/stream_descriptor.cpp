// The descriptor under a file stream, and the calls of a stream that cannot
// seek (stream_descriptor.h).
#include "storage/stream_descriptor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "storage/access_detail.h"
#include "storage/file_detail.h"

namespace quelbo::detail {

bool readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

StreamDescriptor::~StreamDescriptor()
{
    if (fd >= 0)
        ::close(fd);
}

std::size_t StreamDescriptor::read(uint8_t* dst, std::size_t size)
{
    ssize_t const n = retried([&] { return ::read(fd, dst, size); }, [this] { return carryOn(); });
    if (n < 0) {
        int const err = errno;
        failed = failed || err != EINTR;
        fileError("cannot read file", path, err);
    }
    return std::size_t(n);
}

void StreamDescriptor::write(const uint8_t* src, std::size_t size, bool through)
{
    if (through || outLen + size > capacity)
        deliver("cannot write file");
    if (through || size >= capacity)
        return straight(src, size);
    roomFor(out, outRoom, capacity);
    std::memcpy(out.get() + outLen, src, size);
    outLen += size;
}

void StreamDescriptor::deliver(char const* what)
{
    if (!outLen)
        return;
    std::size_t const n = outLen;
    outLen = 0; // handed over once, whether they land or not
    std::size_t const done = put(out.get(), n, what, true);
    if (done < n) {
        std::memmove(out.get(), out.get() + done, n - done);
        outLen = n - done;
        fileError(what, path, EINTR);
    }
    if (outRoom > capacity)
        roomFor(out, outRoom, capacity, true);
}

// It may run code that uses the stream meanwhile: the stream refuses it
// (idle), being midway through a call. It is also asked before the stream
// waits again after a transfer that moved fewer bytes than it asked for: a
// signal that came meanwhile, or cut a write short (the system then returns
// the count written, not EINTR), is not left waiting behind the next call.
bool StreamDescriptor::carryOn()
{
    if (Received* const got = received; got && got->kept.size() < got->done) {
        std::size_t const from = got->kept.size();
        got->kept.resize(got->done);
        std::memcpy(got->kept.data() + from, got->dst + from, got->done - from);
    }
    bool const serving = serves;
    waiting = true;
    serves = false;
    bool const again = detail::carryOn();
    waiting = false;
    serves = serving;
    return again;
}

void StreamDescriptor::reentered() const
{
    throw Error("reentrant call inside file stream '" + path + "'");
}

void StreamDescriptor::refuse(int err, char const* what)
{
    refused = err;
    failed = true;
    fileError(what, path, err);
}

// Writes size bytes to the descriptor: the count written, all of them but
// when the interrupt handler ended the write, or (not `own`: the caller's
// bytes, the rest of which it then keeps first) a first system call took
// fewer, before the handler is asked again.
std::size_t StreamDescriptor::put(const uint8_t* src, std::size_t size, char const* what, bool own)
{
    std::size_t done = 0;
    while (done < size) {
        if (done && (!own || !carryOn()))
            break;
        ssize_t const n = retried([&] { return ::write(fd, src + done, size - done); }, [this] { return carryOn(); });
        if (n < 0 && errno == EINTR)
            break;
        if (n <= 0)
            refuse(n < 0 ? errno : EIO, what);
        done += std::size_t(n);
    }
    return done;
}

// A write's own bytes straight to the descriptor (nothing is queued). Once
// some reached it, the stream has taken them all: the rest is queued before
// the handler is asked, and goes on from there (pending, should the handler
// end it). When none did, the handler ended the wait and it took none.
void StreamDescriptor::straight(const uint8_t* src, std::size_t size)
{
    std::size_t const done = put(src, size, "cannot write file", false);
    if (done == size)
        return;
    if (!done)
        fileError("cannot write file", path, EINTR);
    roomFor(out, outRoom, std::max(size - done, capacity));
    std::memcpy(out.get(), src + done, size - done);
    outLen = size - done;
    if (!carryOn())
        fileError("cannot write file", path, EINTR);
    deliver("cannot write file");
}

} // namespace quelbo::detail
