// File streams that cannot seek (file_stream.h): a pipe, a FIFO, a terminal
// or a device, read and written at the descriptor as it goes, with Python's
// signal handlers (the interrupt handler) run while a call waits. Whatever
// the stream received or took is its own before the handler runs: a handler
// that changes the caller's memory changes nothing the stream gives back or
// writes.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "storage/file_stream.h"

namespace quelbo::detail {

bool readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

std::size_t FileStream::readDescriptor(uint8_t* dst, std::size_t size) const
{
    ssize_t const n = retried([&] { return ::read(m_fd, dst, size); }, [this] { return carryOn(); });
    if (n < 0) {
        int const err = errno;
        m_failed = m_failed || err != EINTR;
        fileError("cannot read file", m_path, err);
    }
    return std::size_t(n);
}

// The interrupt handler's answer. It may run code that uses the stream
// meanwhile: the stream refuses it (idle), being midway through a call. It
// is also asked before the stream waits again after a transfer that moved
// fewer bytes than it asked for: a signal that came meanwhile, or cut a
// write short (the system then returns the count written, not EINTR), is not
// left waiting behind the next call. What a read in flight received so far
// is copied first.
bool FileStream::carryOn() const
{
    if (Received* const got = m_received; got && got->kept.size() < got->done) {
        std::size_t const from = got->kept.size();
        got->kept.resize(got->done);
        std::memcpy(got->kept.data() + from, got->dst + from, got->done - from);
    }
    m_waiting = true;
    m_serves = false;
    bool const again = detail::carryOn();
    m_waiting = false;
    m_serves = m_caps.has(StreamAccessCapability::READ);
    return again;
}

// At most a first system call's worth when not `own` (the caller's bytes,
// the rest of which it then keeps first): asking the handler again could
// let it change them.
std::size_t FileStream::writeDescriptor(const uint8_t* src, std::size_t size, char const* what, bool own) const
{
    std::size_t done = 0;
    while (done < size) {
        if (done && (!own || !carryOn()))
            break;
        ssize_t const n = retried([&] { return ::write(m_fd, src + done, size - done); }, [this] { return carryOn(); });
        if (n < 0 && errno == EINTR)
            break;
        if (n <= 0)
            refused(n < 0 ? errno : EIO, what);
        done += std::size_t(n);
    }
    return done;
}

// Small writes wait in the queue for the descriptor; larger ones, and all of
// a stream that also reads, go to it at once.
std::size_t FileStream::writeOn(std::size_t size, const uint8_t* src)
{
    if (m_writesThrough || m_outLen + size > m_capacity)
        deliver("cannot write file");
    if (m_writesThrough || size >= m_capacity) {
        toDescriptor(src, size);
        return size;
    }
    roomFor(m_out, m_outRoom, m_capacity);
    std::memcpy(m_out.get() + m_outLen, src, size);
    m_outLen += size;
    return size;
}

// A write's own bytes straight to the descriptor (nothing is queued). Once
// some reached it, the stream has taken them all: the rest is queued before
// the handler is asked, and goes on from there (pending, should the handler
// end it). When none did, the handler ended the wait and it took none.
void FileStream::toDescriptor(const uint8_t* src, std::size_t size)
{
    std::size_t const out = putOut(0, src, size, "cannot write file", false);
    if (out == size)
        return;
    if (!out)
        fileError("cannot write file", m_path, EINTR);
    roomFor(m_out, m_outRoom, std::max(size - out, m_capacity));
    std::memcpy(m_out.get(), src + out, size - out);
    m_outLen = size - out;
    if (!carryOn())
        fileError("cannot write file", m_path, EINTR);
    deliver("cannot write file");
}

// The queue to the descriptor; what an interrupted delivery did not hand
// over stays queued.
void FileStream::deliverQueued(char const* what) const
{
    if (!m_outLen)
        return;
    std::size_t const n = m_outLen;
    m_outLen = 0; // handed over once, whether they land or not
    std::size_t const out = putOut(0, m_out.get(), n, what);
    if (out < n) {
        std::memmove(m_out.get(), m_out.get() + out, n - out);
        m_outLen = n - out;
        fileError(what, m_path, EINTR);
    }
    if (m_outRoom > m_capacity)
        roomFor(m_out, m_outRoom, m_capacity, true);
}

} // namespace quelbo::detail
