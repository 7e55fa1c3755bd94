// File streams (file_stream.h): the buffer, reads and writes at the
// position, seeks, and the positioned transfers of stores over a stream.
#include "storage/file_stream.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace quelbo {

namespace detail {

namespace {

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

} // namespace

void roomFor(std::unique_ptr<uint8_t[]>& buffer, std::size_t& room, std::size_t n, bool exactly)
{
    if (room < n || (exactly && room != n)) {
        buffer.reset(new uint8_t[n]);
        room = n;
    }
}

FileStream::FileStream(std::string const& path, FileMode mode, Place place, Opener const& open)
    : StreamAccess(std::move(place.storage), std::move(place.id)), m_path(path)
{
    int const flags = mode == FileMode::read    ? O_RDONLY
                      : mode == FileMode::write ? (O_WRONLY | O_CREAT | O_TRUNC)
                                                : (O_RDWR | O_CREAT);
    m_fd = open ? open(flags) : openPath(path, flags);
    if (m_fd < 0)
        fileError("cannot open file", path, errno);
    struct stat st;
    bool const statted = ::fstat(m_fd, &st) == 0;
    if (!statted || S_ISDIR(st.st_mode)) {
        int const err = statted ? EISDIR : errno;
        ::close(m_fd);
        fileError("cannot open file", path, err);
    }
    m_serves = mode != FileMode::write;
    if (m_serves)
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
    m_capacity = bufferSize(st);
    m_knownSize = std::size_t(st.st_size);
}

FileStream::~FileStream()
{
    try {
        deliver("cannot flush file");
    } catch (Error const& e) {
        reportUndelivered(e);
    } catch (...) {
    }
    ::close(m_fd);
}

uint8_t FileStream::peek()
{
    need(SCap::READ, "peek");
    if (!ahead())
        throw Error("peek: end of file '" + m_path + "'");
    return m_buf[m_pos - m_heldAt];
}

std::size_t FileStream::write(std::size_t size, const uint8_t* src)
{
    need(SCap::WRITE, "write");
    if (!size)
        return 0;
    if (!m_seekable)
        return writeOn(size, src);
    if (size < m_capacity) {
        if (!lands(size)) {
            deliver("cannot write file");
            roomFor(m_buf, m_bufRoom, m_capacity);
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
    if (m_refused)
        fileError("cannot flush file", m_path, m_refused);
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
        throw Error("cannot seek in file '" + m_path + "': position " + std::to_string(target) +
                    " is past the largest offset a file can have");
    if (target - m_heldAt > m_heldLen)
        holdPendingOnly();
    m_pos = target;
}

std::size_t FileStream::byteSize()
{
    idle();
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
    std::size_t const mapped = m_seekable ? m_mapping.read(m_fd, runs, count, done) : 0;
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
    long long const end = fileEnd(m_fd);
    if (end < 0)
        fileError(failure, m_path, errno);
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
    } const inFlight{m_received};
    if (!m_seekable)
        m_received = &got;
    try {
        while (got.done < size) {
            std::size_t const left = size - got.done;
            // A stream that cannot seek asks the interrupt handler before it
            // waits again (a signal may have come meanwhile without
            // interrupting a call), not while bytes are there to read.
            if (got.done && !m_seekable && !held() && !readable(m_fd) && !carryOn())
                fileError("cannot read file", m_path, EINTR);
            std::size_t n;
            if (left >= m_capacity && !held()) {
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
    return m_heldLen && in <= m_heldLen && size <= m_capacity - in;
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

// A large write, straight to the file. Its blocks are reserved first, which
// the file system then fills much faster (only a hint, the size is kept);
// those a refused write leaves past the file's end are given back, by a
// truncation to the end it then has (file systems keep the blocks past the
// end that a punched hole would cover there).
void FileStream::writeLarge(const uint8_t* src, std::size_t size)
{
    bool const reserved = reserve(size);
    try {
        putOut(m_pos, src, size, "cannot write file");
    } catch (Error const&) {
        long long const end = reserved ? fileEnd(m_fd) : -1;
        if (end >= 0 && std::size_t(end) < m_pos + size)
            static_cast<void>(::ftruncate(m_fd, off_t(end)));
        throw;
    }
}

bool FileStream::reserve(std::size_t size)
{
    return size >= kReserved && size <= kLargestOffset - std::min(m_pos, kLargestOffset) &&
           ::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, off_t(m_pos), off_t(size)) == 0;
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
    idle();
    if (held())
        return true;
    if (m_dirtyLen && m_pos == m_heldAt + m_heldLen && m_heldLen < m_capacity) {
        std::size_t const n = takeIn(m_pos, m_buf.get() + m_heldLen, m_capacity - m_heldLen);
        m_heldLen += n;
        return n != 0;
    }
    deliver("cannot flush file");
    roomFor(m_buf, m_bufRoom, m_capacity, true);
    m_heldAt = m_pos;
    m_heldLen = 0;
    m_heldLen = takeIn(m_pos, m_buf.get(), m_capacity);
    return m_heldLen != 0;
}

// Up to size bytes of the file at offset (or from the descriptor, for a
// stream that cannot seek): fewer at its end, none past it.
std::size_t FileStream::takeIn(std::size_t offset, uint8_t* dst, std::size_t size) const
{
    if (!m_seekable)
        return readDescriptor(dst, size);
    ReadRun const run{offset, withinLargest(offset, size), dst};
    return run.size ? onFile(&run, 1, "cannot read file") : 0;
}

// Hands the pending bytes to the file; `what` names the failure.
void FileStream::deliver(char const* what) const
{
    if (!m_seekable)
        return deliverQueued(what);
    if (!m_dirtyLen)
        return;
    std::size_t const at = m_dirtyAt, n = m_dirtyLen;
    m_dirtyLen = 0; // handed over once, whether they land or not
    putOut(at, m_buf.get() + (at - m_heldAt), n, what);
}

// Writes size bytes at offset (at the descriptor, for a stream that cannot
// seek): the count written, all of them but when the interrupt handler ended
// the write (or, not `own`, a first system call took fewer).
std::size_t FileStream::putOut(std::size_t offset, const uint8_t* src, std::size_t size, char const* what,
                               bool own) const
{
    if (!m_seekable)
        return writeDescriptor(src, size, what, own);
    WriteRun const run{offset, size, src};
    int error = 0;
    if (size && fileRuns(m_fd, &run, 1, error) != size)
        refused(error ? error : EIO, what);
    return size;
}

// The file refused written bytes (err tells why). Those pending with them
// are lost, and so is what the buffer holds (it holds them), so every later
// flush reports it.
void FileStream::refused(int err, char const* what) const
{
    m_refused = err;
    m_failed = true;
    if (m_seekable)
        m_heldLen = m_dirtyLen = 0;
    fileError(what, m_path, err);
}

template <class Byte>
std::size_t FileStream::onFile(ByteRun<Byte> const* runs, std::size_t count, char const* failure) const
{
    int error = 0;
    std::size_t const moved = fileRuns(m_fd, runs, count, error);
    if (error) {
        m_failed = true;
        fileError(failure, m_path, error);
    }
    return moved;
}

std::shared_ptr<StreamAccess> openFileStream(std::string const& path, FileMode mode, Place place, Opener const& open)
{
    return std::make_shared<FileStream>(path, mode, std::move(place), open);
}

} // namespace detail

} // namespace quelbo
