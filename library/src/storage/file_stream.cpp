// File streams: a buffer of their own over the file's descriptor, as a
// buffered file of Python's has. A stream over a regular file knows its
// position and moves bytes by positioned calls; one over a pipe, a FIFO, a
// terminal or a device reads and writes the descriptor as it goes
// (stream_descriptor.h).
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/access_detail.h"
#include "storage/file_detail.h"
#include "storage/stream_descriptor.h"

namespace quelbo {

namespace {

using namespace detail;
using SCap = StreamAccessCapability;

// The largest offset a file can have: the system's positions are signed.
constexpr std::size_t kLargestOffset = std::size_t(std::numeric_limits<off_t>::max());
// Writes from this size on reserve their blocks first.
constexpr std::size_t kReserved = std::size_t(4) << 20;

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

// The buffer holds the bytes [m_heldAt, m_heldAt + m_heldLen) of the file
// (of the stream, when it cannot seek: what it read ahead) as the file will
// hold them once the stream's pending writes land, so that a read there
// gives what was written there. A stream that can seek keeps a small write
// in the buffer where it lands within or just after what the buffer holds,
// as Python's buffered files do: the bytes [m_dirtyAt, m_dirtyAt +
// m_dirtyLen) are pending, one run from the first byte written to the last
// (those read between them included), and reach the file in one call before
// the buffer holds other bytes, before the file is read straight into a
// caller's memory or by a store, at a flush and as the stream goes. One that
// cannot seek queues its writes apart, at its descriptor. The buffer holds
// the stream's capacity at most, but after a read that the interrupt
// handler ended, which gives back there what it received until the buffer
// is refilled.
class FileStream : public StreamAccess, public PositionedStream, public Lineage
{
public:
    FileStream(std::string const& path, FileMode mode, Place place, Opener const& open);
    // What is still pending is written here; a failure then raises nowhere,
    // so it is reported as undelivered.
    ~FileStream() override;

    StreamAccessCapabilitySet capabilities() const override { return m_caps; }
    std::string heldFile() const override { return m_identity; }
    bool good() const override { return !fail() && !eof(); }
    bool eof() const override { return m_caps.has(SCap::READ) && !ahead(); }
    bool fail() const override { return m_io.failed; }
    std::size_t read(std::size_t size, uint8_t* dst) override
    {
        std::size_t const in = m_pos - m_heldAt;
        if (m_io.serves && in < m_heldLen && size <= m_heldLen - in) {
            std::memcpy(dst, m_buf.get() + in, size);
            m_pos += size;
            return size;
        }
        return readOn(size, dst);
    }
    uint8_t peek() override;
    std::size_t write(std::size_t size, const uint8_t* src) override;
    void flush() override;
    std::size_t tell() override;
    // A seek within what the buffer holds, or just after it, keeps it, as a
    // buffered file does: another writer's changes there are seen after a
    // seek outside it, where the buffer keeps only its pending bytes.
    void seek(int64_t offset, SeekOrigin origin) override;

    // Positioned transfers: pread and pwrite on the descriptor, after the
    // pending bytes reach the file, and with what the buffer holds dropped
    // where a write changes the file under it. Writes stop at the file's end
    // as reads do, measured for each (another process may have moved it).
    std::size_t byteSize() override;
    std::size_t readRunsAt(ReadRun const* runs, std::size_t count) override;
    std::size_t writeRunsAt(WriteRun const* runs, std::size_t count) override;

private:
    // The file's size now (also kept for positioned transfers).
    std::size_t measured(char const* failure) const;
    // The file's size once the pending bytes land (they may extend it).
    std::size_t sizeNow(char const* failure) const;
    // What a read the buffer could not serve whole still needs.
    std::size_t readOn(std::size_t size, uint8_t* dst);
    void giveBack(Received const& got);
    // Whether a small write at the position lands in the buffer, which then
    // takes it (keep), or the buffer starts over there.
    bool lands(std::size_t size) const;
    void keep(const uint8_t* src, std::size_t size);
    void writeLarge(const uint8_t* src, std::size_t size);
    void holdPendingOnly();
    // Whether what the buffer holds has the byte at the position.
    bool held() const { return m_pos - m_heldAt < m_heldLen; }
    bool ahead() const;
    std::size_t takeIn(std::size_t offset, uint8_t* dst, std::size_t size) const;
    // Hands the pending bytes to the file; `what` names the failure.
    void deliver(char const* what) const
    {
        if (!m_seekable)
            m_io.deliver(what);
        else if (m_dirtyLen)
            deliverHeld(what);
    }
    void deliverHeld(char const* what) const;
    void putOut(std::size_t offset, const uint8_t* src, std::size_t size, char const* what) const;
    [[noreturn]] void refused(int err, char const* what) const;
    template <class Byte>
    std::size_t onFile(ByteRun<Byte> const* runs, std::size_t count, char const* failure) const;
    void need(SCap cap, char const* operation) const
    {
        m_io.idle();
        if (!m_caps.has(cap))
            missingCapability("file stream '" + m_io.path + "'", operation);
    }

    mutable StreamDescriptor m_io;
    std::string m_identity;
    StreamAccessCapabilitySet m_caps;
    bool m_seekable = false;
    bool m_writesThrough = false;
    // The position: in the file, or the bytes read so far when the stream
    // cannot seek.
    std::size_t m_pos = 0;
    mutable std::unique_ptr<uint8_t[]> m_buf;
    mutable std::size_t m_bufRoom = 0, m_heldAt = 0, m_heldLen = 0;
    mutable std::size_t m_dirtyAt = 0, m_dirtyLen = 0;
    mutable std::size_t m_knownSize = 0;
    ReadMapping m_mapping;
};

FileStream::FileStream(std::string const& path, FileMode mode, Place place, Opener const& open)
    : StreamAccess(std::move(place.storage), std::move(place.id)), m_io(path)
{
    int const flags = mode == FileMode::read    ? O_RDONLY
                      : mode == FileMode::write ? (O_WRONLY | O_CREAT | O_TRUNC)
                                                : (O_RDWR | O_CREAT);
    m_io.fd = open ? open(flags) : openPath(path, flags);
    if (m_io.fd < 0)
        fileError("cannot open file", path, errno);
    struct stat st;
    bool const statted = ::fstat(m_io.fd, &st) == 0;
    if (!statted || S_ISDIR(st.st_mode))
        fileError("cannot open file", path, statted ? EISDIR : errno);
    m_io.serves = mode != FileMode::write;
    if (m_io.serves)
        m_caps.add(SCap::READ);
    if (mode != FileMode::read)
        m_caps.add(SCap::WRITE);
    m_seekable = S_ISREG(st.st_mode);
    if (m_seekable)
        m_caps.add(SCap::SEEK);
    // One that reads and writes but cannot seek (a FIFO, a terminal)
    // writes past its buffer, which keeps what it read ahead for the next
    // reads: the bytes written do not follow those in the file.
    m_writesThrough = !m_seekable && mode == FileMode::readWrite;
    m_io.capacity = bufferSize(st);
    m_knownSize = std::size_t(st.st_size);
    m_identity = fileIdentity(st);
}

FileStream::~FileStream()
{
    try {
        deliver("cannot flush file");
    } catch (Error const& e) {
        reportUndelivered(e);
    } catch (...) {
    }
}

uint8_t FileStream::peek()
{
    need(SCap::READ, "peek");
    if (!ahead())
        throw Error("peek: end of file '" + m_io.path + "'");
    return m_buf[m_pos - m_heldAt];
}

std::size_t FileStream::write(std::size_t size, const uint8_t* src)
{
    need(SCap::WRITE, "write");
    if (!size)
        return 0;
    if (!m_seekable) {
        m_io.write(src, size, m_writesThrough);
        return size;
    }
    if (size < m_io.capacity) {
        if (!lands(size)) {
            deliver("cannot write file");
            roomFor(m_buf, m_bufRoom, m_io.capacity);
            m_heldAt = m_pos;
            m_heldLen = 0;
        }
        keep(src, size);
        return size;
    }
    // Straight to the file: what the buffer holds goes, as it would lie
    // behind the position (its pending bytes land first).
    deliver("cannot write file");
    m_heldLen = 0;
    writeLarge(src, size);
    m_pos += size;
    return size;
}

void FileStream::flush()
{
    need(SCap::WRITE, "flush");
    deliver("cannot flush file");
    if (m_io.refused)
        fileError("cannot flush file", m_io.path, m_io.refused);
}

std::size_t FileStream::tell()
{
    need(SCap::SEEK, "tell");
    return m_pos;
}

void FileStream::seek(int64_t offset, SeekOrigin origin)
{
    need(SCap::SEEK, "seek");
    // Only a seek from the end needs the file's size, which the pending
    // bytes may extend.
    std::size_t const end = origin == SeekOrigin::END ? sizeNow("cannot seek in file") : 0;
    std::size_t const target = seekTarget(m_pos, end, offset, origin);
    if (target > kLargestOffset)
        throw Error("cannot seek in file '" + m_io.path + "': position " + std::to_string(target) +
                    " is past the largest offset a file can have");
    if (target - m_heldAt > m_heldLen)
        holdPendingOnly();
    m_pos = target;
}

std::size_t FileStream::byteSize()
{
    m_io.idle();
    return sizeNow("cannot read file");
}

std::size_t FileStream::readRunsAt(ReadRun const* runs, std::size_t count)
{
    need(SCap::READ, "read");
    deliver("cannot flush file");
    // A run reaching past the largest offset a file can have is measured
    // against the file's size first, as writes are (positioned calls would
    // refuse it).
    for (std::size_t i = 0; i < count; ++i)
        if (runs[i].offset > kLargestOffset || runs[i].size > kLargestOffset - runs[i].offset)
            return clampedRuns(runs, count, measured("cannot read file"),
                               [this](ReadRun const* r, std::size_t c) { return readRunsAt(r, c); });
    // Runs of a regular file close together are copied from a mapping of it
    // (those that lie within the file), the rest read by positioned calls.
    std::size_t done = 0;
    std::size_t const mapped = m_seekable ? m_mapping.read(m_io.fd, runs, count, done) : 0;
    std::size_t const moved = done + onFile(runs + mapped, count - mapped, "cannot read file");
    // A read stops at the end; one starting past it is refused (the size is
    // measured again only then).
    for (std::size_t i = mapped; i < count; ++i) {
        bool const whole = done + runs[i].size <= moved;
        if (!whole || runs[i].offset > m_knownSize) {
            clampedCount(runs[i].offset, 0, measured("cannot read file"));
            if (!whole)
                break;
        }
        done += runs[i].size;
    }
    return moved;
}

std::size_t FileStream::writeRunsAt(WriteRun const* runs, std::size_t count)
{
    need(SCap::WRITE, "write");
    deliver("cannot flush file");
    std::size_t begin = SIZE_MAX, end = 0;
    for (std::size_t i = 0; i < count; ++i) {
        begin = std::min(begin, runs[i].offset);
        end = std::max(end, runs[i].size < SIZE_MAX - runs[i].offset ? runs[i].offset + runs[i].size : SIZE_MAX);
    }
    if (begin < m_heldAt + m_heldLen && end > m_heldAt)
        m_heldLen = 0;
    return clampedRuns(runs, count, measured("cannot write file"),
                       [this](WriteRun const* r, std::size_t c) { return onFile(r, c, "cannot write file"); });
}

std::size_t FileStream::measured(char const* failure) const
{
    long long const end = fileEnd(m_io.fd);
    if (end < 0)
        fileError(failure, m_io.path, errno);
    return m_knownSize = std::size_t(end);
}

std::size_t FileStream::sizeNow(char const* failure) const
{
    return std::max(measured(failure), m_dirtyLen ? m_dirtyAt + m_dirtyLen : 0);
}

// The rest of what the buffer holds, then reads of the file, straight into
// dst when the bytes would fill the buffer. It stops at the end of the file.
// A read that the interrupt handler ends gives back what it took.
std::size_t FileStream::readOn(std::size_t size, uint8_t* dst)
{
    need(SCap::READ, "read");
    Received got{dst};
    struct InFlight
    {
        Received*& slot;
        ~InFlight() { slot = nullptr; }
    } const inFlight{m_io.received};
    if (!m_seekable)
        m_io.received = &got;
    try {
        while (got.done < size) {
            std::size_t const left = size - got.done;
            // A stream that cannot seek asks the interrupt handler before it
            // waits again (a signal may have come meanwhile without
            // interrupting a call), not while bytes are there to read.
            if (got.done && !m_seekable && !held() && !readable(m_io.fd) && !m_io.carryOn())
                fileError("cannot read file", m_io.path, EINTR);
            std::size_t n;
            if (left >= m_io.capacity && !held()) {
                // What the buffer holds would lie behind the position.
                deliver("cannot flush file");
                m_heldLen = 0;
                n = takeIn(m_pos, dst + got.done, left);
            } else {
                n = ahead() ? std::min(left, m_heldAt + m_heldLen - m_pos) : 0;
                if (n)
                    std::memcpy(dst + got.done, m_buf.get() + (m_pos - m_heldAt), n);
            }
            if (!n)
                break;
            got.done += n;
            m_pos += n;
        }
    } catch (Interrupted const&) {
        giveBack(got);
        throw;
    }
    return got.done;
}

// The bytes the read took are read again next: a stream that cannot seek
// holds its own copy of them as read ahead (it held none past them, or it
// would not have been reading).
void FileStream::giveBack(Received const& got)
{
    m_pos -= got.done;
    if (m_seekable || !got.done)
        return;
    roomFor(m_buf, m_bufRoom, got.done);
    std::memcpy(m_buf.get(), got.kept.data(), got.done);
    m_heldAt = m_pos;
    m_heldLen = got.done;
}

// Within what the buffer holds or just after it, and within its capacity
// from the first byte it holds.
bool FileStream::lands(std::size_t size) const
{
    std::size_t const in = m_pos - m_heldAt;
    return m_heldLen && in <= m_heldLen && size <= m_io.capacity - in;
}

void FileStream::keep(const uint8_t* src, std::size_t size)
{
    std::memcpy(m_buf.get() + (m_pos - m_heldAt), src, size);
    std::size_t const end = m_pos + size;
    if (!m_dirtyLen)
        m_dirtyAt = m_pos;
    std::size_t const dirtyEnd = std::max(m_dirtyAt + m_dirtyLen, end);
    m_dirtyAt = std::min(m_dirtyAt, m_pos);
    m_dirtyLen = dirtyEnd - m_dirtyAt;
    m_heldLen = std::max(m_heldLen, end - m_heldAt);
    m_pos = end;
}

// A large write, straight to the file. Its blocks are reserved first; those
// a refused write leaves past the file's end are given back.
void FileStream::writeLarge(const uint8_t* src, std::size_t size)
{
    bool const large = size >= kReserved && size <= kLargestOffset - std::min(m_pos, kLargestOffset);
    Reservation reserved(large ? m_io.fd : -1, m_pos, size);
    putOut(m_pos, src, size, "cannot write file");
    reserved.keep();
}

// What the buffer holds but its pending bytes goes: only what the stream
// wrote itself cannot go stale meanwhile.
void FileStream::holdPendingOnly()
{
    if (!m_dirtyLen) {
        m_heldLen = 0;
        return;
    }
    std::memmove(m_buf.get(), m_buf.get() + (m_dirtyAt - m_heldAt), m_dirtyLen);
    m_heldAt = m_dirtyAt;
    m_heldLen = m_dirtyLen;
}

// Whether the file has a byte at the position: the buffer holds it, reading
// ahead there when it does not. Where the buffer ends at the position with
// pending bytes and room left, it reads on into that room (they stay);
// otherwise it starts over there (they land first).
bool FileStream::ahead() const
{
    m_io.idle();
    if (held())
        return true;
    if (m_dirtyLen && m_pos == m_heldAt + m_heldLen && m_heldLen < m_io.capacity) {
        std::size_t const n = takeIn(m_pos, m_buf.get() + m_heldLen, m_io.capacity - m_heldLen);
        m_heldLen += n;
        return n != 0;
    }
    deliver("cannot flush file");
    roomFor(m_buf, m_bufRoom, m_io.capacity, true);
    m_heldAt = m_pos;
    m_heldLen = 0;
    m_heldLen = takeIn(m_pos, m_buf.get(), m_io.capacity);
    return m_heldLen != 0;
}

// Up to size bytes of the file at offset (or from the descriptor, for a
// stream that cannot seek): fewer at its end, none past it.
std::size_t FileStream::takeIn(std::size_t offset, uint8_t* dst, std::size_t size) const
{
    if (!m_seekable)
        return m_io.read(dst, size);
    ReadRun const run{offset, withinLargest(offset, size), dst};
    return run.size ? onFile(&run, 1, "cannot read file") : 0;
}

void FileStream::deliverHeld(char const* what) const
{
    std::size_t const at = m_dirtyAt, n = m_dirtyLen;
    m_dirtyLen = 0; // handed over once, whether they land or not
    putOut(at, m_buf.get() + (at - m_heldAt), n, what);
}

// Writes size bytes at offset of the file, all of them.
void FileStream::putOut(std::size_t offset, const uint8_t* src, std::size_t size, char const* what) const
{
    WriteRun const run{offset, size, src};
    int error = 0;
    if (size && fileRuns(m_io.fd, &run, 1, error) != size)
        refused(error ? error : EIO, what);
}

// The file refused written bytes. Those pending with them are lost, and so
// is what the buffer holds (it holds them).
void FileStream::refused(int err, char const* what) const
{
    m_heldLen = m_dirtyLen = 0;
    m_io.refuse(err, what);
}

template <class Byte>
std::size_t FileStream::onFile(ByteRun<Byte> const* runs, std::size_t count, char const* failure) const
{
    int error = 0;
    std::size_t const moved = fileRuns(m_io.fd, runs, count, error);
    if (error) {
        m_io.failed = true;
        fileError(failure, m_io.path, error);
    }
    return moved;
}

} // namespace

std::shared_ptr<StreamAccess> detail::openFileStream(std::string const& path, FileMode mode, Place place,
                                                     Opener const& open)
{
    return std::make_shared<FileStream>(path, mode, std::move(place), open);
}

} // namespace quelbo
