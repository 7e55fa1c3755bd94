// File streams: a buffer of their own over the file's descriptor, as a
// buffered file of Python's has. A stream over a regular file knows its
// position and moves bytes by positioned calls; one over a pipe, a FIFO, a
// terminal or a device reads and writes the descriptor as it goes.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/access_detail.h"
#include "storage/file_detail.h"

namespace quelbo {

namespace {

using SCap = StreamAccessCapability;
using detail::fileError;
using Mode = detail::FileMode;

// The largest offset a file can have: the system's positions are signed.
constexpr std::size_t kLargestOffset = std::size_t(std::numeric_limits<off_t>::max());

// The buffer's size: the file system's block (as Python's files take it),
// 8 KiB where it names none, 1 MiB at most.
std::size_t bufferSize(struct stat const& st)
{
    return st.st_blksize > 1 ? std::min(std::size_t(st.st_blksize), std::size_t(1) << 20) : std::size_t(8192);
}

// The count of a transfer at offset that the system takes: none reaches past
// the largest offset a file can have (the system would refuse it whole,
// though the file ends before).
std::size_t withinLargest(std::size_t offset, std::size_t size)
{
    return offset < kLargestOffset ? std::min(size, kLargestOffset - offset) : 0;
}

// The buffer keeps two things apart. What the stream read ahead: the bytes
// [m_aheadAt, m_aheadAt + m_aheadLen) of the file (of the stream, when it
// cannot seek), kept as the file will hold them once the stream's pending
// writes land. And those pending writes: m_pendingLen bytes at m_pendingAt,
// one run, handed to the file when the buffer is full, before the stream
// reads the file, at a flush and as the stream goes. Each is the stream's
// capacity, except after a call the interrupt handler ended: what that call
// gives back or keeps pending may be more, until the buffer is refilled or
// delivered.
class FileStream : public StreamAccess, public detail::PositionedStream, public detail::Lineage
{
public:
    FileStream(std::string const& path, Mode mode, detail::Place place, detail::Opener const& open)
        : StreamAccess(std::move(place.storage), std::move(place.id)), m_path(path)
    {
        int const flags = mode == Mode::read    ? O_RDONLY
                          : mode == Mode::write ? (O_WRONLY | O_CREAT | O_TRUNC)
                                                : (O_RDWR | O_CREAT);
        m_fd = open ? open(flags) : detail::openPath(path, flags);
        if (m_fd < 0)
            fileError("cannot open file", path, errno);
        struct stat st;
        bool const statted = ::fstat(m_fd, &st) == 0;
        if (!statted || S_ISDIR(st.st_mode)) {
            int const err = statted ? EISDIR : errno;
            ::close(m_fd);
            fileError("cannot open file", path, err);
        }
        if (mode != Mode::write)
            m_caps.add(SCap::READ);
        if (mode != Mode::read)
            m_caps.add(SCap::WRITE);
        m_seekable = S_ISREG(st.st_mode);
        if (m_seekable)
            m_caps.add(SCap::SEEK);
        // One that reads and writes but cannot seek (a FIFO, a terminal)
        // writes past its buffer, which keeps what it read ahead for the next
        // reads: the bytes written do not follow those in the file.
        m_writesThrough = !m_seekable && mode == Mode::readWrite;
        m_capacity = bufferSize(st);
        m_knownSize = std::size_t(st.st_size);
        m_identity = detail::fileIdentity(st);
    }
    // What is still pending is written here; a failure then raises nowhere,
    // so it is reported as undelivered.
    ~FileStream() override
    {
        try {
            deliver("cannot flush file");
        } catch (Error const& e) {
            detail::reportUndelivered(e);
        } catch (...) {
        }
        ::close(m_fd);
    }

    StreamAccessCapabilitySet capabilities() const override { return m_caps; }
    std::string heldFile() const override { return m_identity; }
    bool good() const override { return !fail() && !eof(); }
    bool eof() const override { return m_caps.has(SCap::READ) && !ahead(); }
    bool fail() const override { return m_failed; }
    std::size_t read(std::size_t size, uint8_t* dst) override
    {
        need(SCap::READ, "read");
        std::size_t const in = m_pos - m_aheadAt;
        if (in < m_aheadLen && size <= m_aheadLen - in) {
            std::memcpy(dst, m_ahead.get() + in, size);
            m_pos += size;
            return size;
        }
        return readOn(size, dst);
    }
    uint8_t peek() override
    {
        need(SCap::READ, "peek");
        if (!ahead())
            throw Error("peek: end of file '" + m_path + "'");
        return m_ahead[m_pos - m_aheadAt];
    }
    std::size_t write(std::size_t size, const uint8_t* src) override
    {
        need(SCap::WRITE, "write");
        if (!size)
            return 0;
        if (m_writesThrough) {
            deliver("cannot write file");
            writeOwn(0, src, size);
            return size;
        }
        if (m_seekable)
            cover(m_pos, size, src);
        // A write that does not follow the pending bytes, or would not fit
        // with them, hands them over first.
        if (m_pendingLen && ((m_seekable && m_pendingAt + m_pendingLen != m_pos) || m_pendingLen + size > m_capacity))
            deliver("cannot write file");
        if (size >= m_capacity) {
            detail::Reservation reserved = reserve(size);
            writeOwn(m_pos, src, size);
            reserved.keep();
        } else {
            roomFor(m_pending, m_pendingRoom, m_capacity);
            if (!m_pendingLen)
                m_pendingAt = m_pos;
            std::memcpy(m_pending.get() + m_pendingLen, src, size);
            m_pendingLen += size;
        }
        if (m_seekable)
            m_pos += size;
        return size;
    }
    void flush() override
    {
        need(SCap::WRITE, "flush");
        deliver("cannot flush file");
        if (m_refused)
            fileError("cannot flush file", m_path, m_refused);
    }
    std::size_t tell() override
    {
        need(SCap::SEEK, "tell");
        return m_pos;
    }
    // A seek within what was read ahead keeps it, as a buffered file does:
    // another writer's changes there are seen after a seek outside it.
    void seek(int64_t offset, SeekOrigin origin) override
    {
        need(SCap::SEEK, "seek");
        // Only a seek from the end needs the file's size, which the pending
        // bytes may extend.
        std::size_t const end = origin == SeekOrigin::END ? sizeNow("cannot seek in file") : 0;
        std::size_t const target = detail::seekTarget(m_pos, end, offset, origin);
        if (target > kLargestOffset)
            throw Error("cannot seek in file '" + m_path + "': position " + std::to_string(target) +
                        " is past the largest offset a file can have");
        if (target - m_aheadAt >= m_aheadLen)
            m_aheadLen = 0;
        m_pos = target;
    }

    // Positioned transfers: pread and pwrite on the descriptor, after the
    // pending bytes reach the file, and with what was read ahead dropped
    // where a write changes the file under it (the size counts the pending
    // bytes without writing them).
    std::size_t byteSize() override
    {
        idle();
        return sizeNow("cannot read file");
    }
    std::size_t readRunsAt(ReadRun const* runs, std::size_t count) override
    {
        need(SCap::READ, "read");
        deliver("cannot flush file");
        // A run reaching past the largest offset a file can have is measured
        // against the file's size first, as writes are (positioned calls
        // would refuse it).
        for (std::size_t i = 0; i < count; ++i)
            if (runs[i].offset > kLargestOffset || runs[i].size > kLargestOffset - runs[i].offset)
                return detail::clampedRuns(runs, count, measured("cannot read file"),
                                           [this](ReadRun const* r, std::size_t c) { return readRunsAt(r, c); });
        // Runs far apart are copied from a mapping of a regular file (those
        // lay within the file), the rest read by positioned calls.
        std::size_t done = 0;
        std::size_t const mapped = m_seekable ? m_mapping.read(m_fd, runs, count, done) : 0;
        std::size_t const moved = done + onFile(runs + mapped, count - mapped, "cannot read file");
        // A read stops at the end; one starting past it is refused (the
        // size is measured again only then).
        for (std::size_t i = mapped; i < count; ++i) {
            bool const whole = done + runs[i].size <= moved;
            if (!whole || runs[i].offset > m_knownSize) {
                detail::clampedCount(runs[i].offset, 0, measured("cannot read file"));
                if (!whole)
                    break;
            }
            done += runs[i].size;
        }
        return moved;
    }
    std::size_t writeRunsAt(WriteRun const* runs, std::size_t count) override
    {
        need(SCap::WRITE, "write");
        deliver("cannot flush file");
        std::size_t begin = SIZE_MAX, end = 0;
        for (std::size_t i = 0; i < count; ++i) {
            begin = std::min(begin, runs[i].offset);
            end = std::max(end, runs[i].size < SIZE_MAX - runs[i].offset ? runs[i].offset + runs[i].size : SIZE_MAX);
        }
        if (begin < m_aheadAt + m_aheadLen && end > m_aheadAt)
            m_aheadLen = 0;
        if (end > m_knownSize)
            measured("cannot write file");
        return detail::clampedRuns(runs, count, m_knownSize, [this](WriteRun const* r, std::size_t c) {
            return onFile(r, c, "cannot write file");
        });
    }

private:
    // The file's size now (also kept for positioned transfers).
    std::size_t measured(char const* failure) const
    {
        struct stat st;
        if (::fstat(m_fd, &st) != 0)
            fileError(failure, m_path, errno);
        return m_knownSize = std::size_t(st.st_size);
    }
    // The file's size once the pending bytes land (they may extend it).
    std::size_t sizeNow(char const* failure) const
    {
        return std::max(measured(failure), m_pendingLen ? m_pendingAt + m_pendingLen : 0);
    }
    // What a read the buffer could not serve whole still needs: the rest of
    // what was read ahead, then reads of the file, straight into dst when
    // the bytes would fill the buffer. It stops at the end of the file.
    // A read that the interrupt handler ends gives back what it took.
    std::size_t readOn(std::size_t size, uint8_t* dst)
    {
        std::size_t done = 0;
        try {
            while (done < size) {
                std::size_t const left = size - done;
                if (done && !m_seekable && !held() && !carryOn())
                    fileError("cannot read file", m_path, EINTR);
                std::size_t n;
                if (left >= m_capacity && !held()) {
                    deliver("cannot flush file");
                    n = takeIn(m_pos, dst + done, left);
                } else {
                    n = ahead() ? std::min(left, m_aheadAt + m_aheadLen - m_pos) : 0;
                    if (n)
                        std::memcpy(dst + done, m_ahead.get() + (m_pos - m_aheadAt), n);
                }
                if (!n)
                    break;
                done += n;
                m_pos += n;
            }
        } catch (Interrupted const&) {
            giveBack(dst, done);
            throw;
        }
        return done;
    }
    // The last n bytes read, taken out of dst, are read again next: a stream
    // that cannot seek holds them as read ahead (it held none past them, or
    // it would not have been reading).
    void giveBack(uint8_t const* dst, std::size_t n)
    {
        m_pos -= n;
        if (m_seekable || !n)
            return;
        roomFor(m_ahead, m_aheadRoom, n);
        std::memcpy(m_ahead.get(), dst, n);
        m_aheadAt = m_pos;
        m_aheadLen = n;
    }
    // Gives the buffer room for n bytes, dropping what it holds when it has
    // to grow; with `exactly`, one grown past n comes back to n.
    static void roomFor(std::unique_ptr<uint8_t[]>& buffer, std::size_t& room, std::size_t n, bool exactly = false)
    {
        if (room < n || (exactly && room != n)) {
            buffer.reset(new uint8_t[n]);
            room = n;
        }
    }
    // Whether what was read ahead holds the byte at the position.
    bool held() const { return m_pos - m_aheadAt < m_aheadLen; }
    // Whether the file has a byte at the position: what was read ahead holds
    // it, reading ahead there when it does not (the pending bytes land first).
    bool ahead() const
    {
        idle();
        if (held())
            return true;
        deliver("cannot flush file");
        roomFor(m_ahead, m_aheadRoom, m_capacity, true);
        m_aheadAt = m_pos;
        m_aheadLen = 0;
        m_aheadLen = takeIn(m_pos, m_ahead.get(), m_capacity);
        return m_aheadLen != 0;
    }
    // Up to size bytes of the file at offset (or from the descriptor, for a
    // stream that cannot seek): fewer at its end, none past it.
    std::size_t takeIn(std::size_t offset, uint8_t* dst, std::size_t size) const
    {
        if (m_seekable) {
            ReadRun const run{offset, withinLargest(offset, size), dst};
            return run.size ? onFile(&run, 1, "cannot read file") : 0;
        }
        ssize_t const n = waited([&] { return ::read(m_fd, dst, size); });
        if (n < 0) {
            int const err = errno;
            m_failed = m_failed || err != EINTR;
            fileError("cannot read file", m_path, err);
        }
        return std::size_t(n);
    }
    // Hands the pending bytes to the file; `what` names the failure. Those
    // an interrupted delivery did not hand over stay pending.
    void deliver(char const* what) const
    {
        if (!m_pendingLen)
            return;
        std::size_t const n = m_pendingLen;
        m_pendingLen = 0; // handed over once, whether they land or not
        std::size_t const out = putOut(m_pendingAt, m_pending.get(), n, what);
        if (out < n) {
            std::memmove(m_pending.get(), m_pending.get() + out, n - out);
            m_pendingAt += out;
            m_pendingLen = n - out;
            fileError(what, m_path, EINTR);
        }
        if (m_pendingRoom > m_capacity)
            roomFor(m_pending, m_pendingRoom, m_capacity, true);
    }
    // A write's own bytes, straight to the file (nothing is pending): once
    // some reached it, an interrupted write keeps the rest pending.
    void writeOwn(std::size_t offset, const uint8_t* src, std::size_t size)
    {
        std::size_t const out = putOut(offset, src, size, "cannot write file");
        if (out == size)
            return;
        if (out) {
            roomFor(m_pending, m_pendingRoom, std::max(size - out, m_capacity));
            std::memcpy(m_pending.get(), src + out, size - out);
            m_pendingAt = offset + out;
            m_pendingLen = size - out;
        }
        fileError("cannot write file", m_path, EINTR);
    }
    // Writes size bytes at offset (at the descriptor, for a stream that
    // cannot seek): the count written, all of them but when the interrupt
    // handler ended the write.
    std::size_t putOut(std::size_t offset, const uint8_t* src, std::size_t size, char const* what) const
    {
        if (m_seekable) {
            WriteRun const run{offset, size, src};
            int error = 0;
            if (size && detail::fileRuns(m_fd, &run, 1, error) != size)
                refused(error ? error : EIO, what);
            return size;
        }
        std::size_t done = 0;
        while (done < size) {
            if (done && !carryOn())
                break;
            ssize_t const n = waited([&] { return ::write(m_fd, src + done, size - done); });
            if (n < 0 && errno == EINTR)
                break;
            if (n <= 0)
                refused(n < 0 ? errno : EIO, what);
            done += std::size_t(n);
        }
        return done;
    }
    // A system call of the stream that may wait, retried as the interrupt
    // handler says.
    template <class Call>
    ssize_t waited(Call call) const
    {
        return detail::retried(call, [this] { return carryOn(); });
    }
    // The interrupt handler's answer. It may run code that uses the stream
    // meanwhile: the stream refuses it (idle), being midway through a call.
    // It is also asked before the stream waits again after a transfer that
    // moved fewer bytes than it asked for: a signal that came meanwhile, or
    // cut a write short (the system then returns the count written, not
    // EINTR), is not left waiting behind the next call.
    bool carryOn() const
    {
        m_waiting = true;
        bool const again = detail::carryOn();
        m_waiting = false;
        return again;
    }
    void idle() const
    {
        if (m_waiting)
            throw Error("reentrant call inside file stream '" + m_path + "'");
    }
    // The file refused written bytes (err tells why). Those pending with
    // them are lost, and so is what was read ahead (it holds them), so every
    // later flush reports it.
    [[noreturn]] void refused(int err, char const* what) const
    {
        m_refused = err;
        m_failed = true;
        m_aheadLen = 0;
        fileError(what, m_path, err);
    }
    // The stream's own write of size bytes at offset: what was read ahead
    // there takes the bytes.
    void cover(std::size_t offset, std::size_t size, const uint8_t* src)
    {
        std::size_t const aheadEnd = m_aheadAt + m_aheadLen;
        if (!m_aheadLen || offset >= aheadEnd || size <= m_aheadAt - std::min(m_aheadAt, offset))
            return;
        std::size_t const from = std::max(offset, m_aheadAt);
        std::size_t const to = std::min(aheadEnd, offset + size);
        std::memcpy(m_ahead.get() + (from - m_aheadAt), src + (from - offset), to - from);
    }
    template <class Byte>
    std::size_t onFile(ByteRun<Byte> const* runs, std::size_t count, char const* failure) const
    {
        int error = 0;
        std::size_t const moved = detail::fileRuns(m_fd, runs, count, error);
        if (error) {
            m_failed = true;
            fileError(failure, m_path, error);
        }
        return moved;
    }
    void need(SCap cap, char const* operation) const
    {
        idle();
        if (!m_caps.has(cap))
            detail::missingCapability("file stream '" + m_path + "'", operation);
    }
    // Large writes to a regular file reserve their blocks first.
    detail::Reservation reserve(std::size_t size) const
    {
        bool const large =
            size >= (std::size_t(4) << 20) && m_seekable && size <= kLargestOffset - std::min(m_pos, kLargestOffset);
        return detail::Reservation(large ? m_fd : -1, m_pos, size);
    }

    std::string m_path;
    int m_fd = -1;
    std::string m_identity;
    StreamAccessCapabilitySet m_caps;
    bool m_seekable = false;
    bool m_writesThrough = false;
    std::size_t m_capacity = 0;
    // The position: in the file, or the bytes read so far when the stream
    // cannot seek.
    std::size_t m_pos = 0;
    mutable std::unique_ptr<uint8_t[]> m_ahead;
    mutable std::size_t m_aheadRoom = 0, m_aheadAt = 0, m_aheadLen = 0;
    mutable std::unique_ptr<uint8_t[]> m_pending;
    mutable std::size_t m_pendingRoom = 0, m_pendingAt = 0, m_pendingLen = 0;
    mutable bool m_failed = false;
    mutable bool m_waiting = false; // the interrupt handler runs in a call of the stream
    mutable int m_refused = 0; // errno of the last write the file refused
    mutable std::size_t m_knownSize = 0;
    detail::ReadMapping m_mapping;
};

} // namespace

std::shared_ptr<StreamAccess> detail::openFileStream(std::string const& path, FileMode mode, Place place,
                                                     Opener const& open)
{
    return std::make_shared<FileStream>(path, mode, std::move(place), open);
}

} // namespace quelbo
