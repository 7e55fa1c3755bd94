// File streams, and the factories that open files.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/access_detail.h"
#include "storage/file_detail.h"
#include "quelbo/access_factory.h"
#include "quelbo/uri.h"

namespace quelbo {

using RCap = RandomAccessCapability;
using SCap = StreamAccessCapability;

void detail::fileError(char const* what, std::string const& path, int err)
{
    throw Error(std::string(what) + " '" + path + "': " + std::strerror(err));
}

// The system would stop reading a path at a NUL: another file would open.
void detail::checkPath(std::string const& path, char const* what)
{
    if (path.find('\0') != std::string::npos)
        throw InvalidArgument(std::string(what) + " holds a NUL character");
}

int detail::openPath(std::string const& path, int flags)
{
    checkPath(path);
    return ::open(path.c_str(), flags | O_CLOEXEC, 0666);
}

std::string detail::absolutePath(std::string const& path)
{
    checkPath(path);
    if (!path.empty() && path[0] == '/')
        return path;
    std::unique_ptr<char, void (*)(void*)> const here(::getcwd(nullptr, 0), std::free);
    if (!here)
        fileError("cannot find the working folder for", path, errno);
    std::string absolute = here.get();
    if (path == ".")
        return absolute;
    if (absolute.back() != '/')
        absolute += '/';
    return absolute + path;
}

namespace {

using detail::fileError;
using detail::Opener;
using detail::openPath;
using detail::Place;

// The largest offset a file can have: the system's positions are signed.
constexpr std::size_t kLargestOffset = std::size_t(std::numeric_limits<off_t>::max());

// A file accessor belongs to the folder of its path, under its name.
Place placeOf(std::string const& path)
{
    auto slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return {createFolderStorage(folder), name};
}

using Mode = detail::FileMode;

class FileStream : public StreamAccess, public detail::PositionedStream
{
public:
    FileStream(std::string const& path, Mode mode, Place place, Opener const& open = {})
        : StreamAccess(std::move(place.storage), std::move(place.id)), m_path(path)
    {
        int flags = mode == Mode::read    ? O_RDONLY
                    : mode == Mode::write ? (O_WRONLY | O_CREAT | O_TRUNC)
                                          : (O_RDWR | O_CREAT);
        int fd = open ? open(flags) : openPath(path, flags);
        if (fd < 0)
            fileError("cannot open file", path, errno);
        struct stat st;
        if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
            int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
            ::close(fd);
            fileError("cannot open file", path, err);
        }
        m_file = ::fdopen(fd, mode == Mode::read ? "rb" : mode == Mode::write ? "wb" : "r+b");
        if (!m_file) {
            int err = errno;
            ::close(fd);
            fileError("cannot open file", path, err);
        }
        m_caps = StreamAccessCapabilitySet();
        if (mode != Mode::write)
            m_caps.add(SCap::READ);
        if (mode != Mode::read)
            m_caps.add(SCap::WRITE);
        if (S_ISREG(st.st_mode))
            m_caps.add(SCap::SEEK);
        m_knownSize = std::size_t(st.st_size);
    }
    // What is still buffered is written here; a failure then has no one to
    // report to (flush first to learn it).
    ~FileStream() override { std::fclose(m_file); }

    StreamAccessCapabilitySet capabilities() const override { return m_caps; }
    bool good() const override { return !fail() && !eof(); }
    bool eof() const override
    {
        return m_caps.has(SCap::READ) && nextByte() == EOF;
    }
    bool fail() const override { return m_failed; }
    std::size_t read(std::size_t size, uint8_t* dst) override
    {
        need(SCap::READ, "read");
        toReading();
        if (nearLargest(size))
            return readNearLargest(size, dst);
        std::size_t n = size ? std::fread(dst, 1, size, m_file) : 0;
        if (n < size && std::ferror(m_file)) {
            int err = errno;
            m_failed = true;
            std::clearerr(m_file);
            fileError("cannot read file", m_path, err);
        }
        std::clearerr(m_file); // end of file is not sticky: the file may grow
        return n;
    }
    uint8_t peek() override
    {
        need(SCap::READ, "peek");
        int const c = nextByte();
        if (c == EOF)
            throw Error("peek: end of file '" + m_path + "'");
        return uint8_t(c);
    }
    std::size_t write(std::size_t size, const uint8_t* src) override
    {
        need(SCap::WRITE, "write");
        if (!m_caps.has(SCap::SEEK) && m_caps.has(SCap::READ))
            return writeThrough(size, src);
        if (m_last == Last::read)
            std::fseek(m_file, 0, SEEK_CUR);
        m_last = Last::write;
        reserve(size);
        std::size_t n = size ? std::fwrite(src, 1, size, m_file) : 0;
        if (n < size)
            refused("cannot write file");
        return n;
    }
    void flush() override
    {
        need(SCap::WRITE, "flush");
        if (std::fflush(m_file) != 0)
            refused("cannot flush file");
        if (m_refused)
            fileError("cannot flush file", m_path, m_refused);
    }
    std::size_t tell() override
    {
        need(SCap::SEEK, "tell");
        off_t pos = ::ftello(m_file);
        if (pos < 0)
            fileError("cannot tell position in file", m_path, errno);
        return std::size_t(pos);
    }
    void seek(int64_t offset, SeekOrigin origin) override
    {
        need(SCap::SEEK, "seek");
        if (m_last == Last::write)
            flush();
        // Only a seek from the end needs the file's size.
        std::size_t const end = origin == SeekOrigin::END ? measured("cannot seek in file") : 0;
        std::size_t target = detail::seekTarget(tell(), end, offset, origin);
        if (target > kLargestOffset)
            throw Error("cannot seek in file '" + m_path + "': position " + std::to_string(target) +
                        " is past the largest offset a file can have");
        dropReadAhead(target, target + 1);
        if (::fseeko(m_file, off_t(target), SEEK_SET) != 0)
            fileError("cannot seek in file", m_path, errno);
        m_last = Last::none;
    }

    // Positioned transfers: pread and pwrite on the descriptor, after what
    // the stream buffers is written, and what it read ahead dropped where a
    // write changes the file under it.
    std::size_t byteSize() override
    {
        settle();
        return measured("cannot read file");
    }
    std::size_t readRunsAt(ReadRun const* runs, std::size_t count) override
    {
        need(SCap::READ, "read");
        settle();
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
        std::size_t const mapped = m_caps.has(SCap::SEEK) ? m_mapping.read(::fileno(m_file), runs, count, done) : 0;
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
        settle();
        std::size_t begin = SIZE_MAX, end = 0;
        for (std::size_t i = 0; i < count; ++i) {
            begin = std::min(begin, runs[i].offset);
            end = std::max(end, runs[i].size < SIZE_MAX - runs[i].offset ? runs[i].offset + runs[i].size : SIZE_MAX);
        }
        dropReadAhead(begin, end);
        if (end > m_knownSize)
            measured("cannot write file");
        return detail::clampedRuns(runs, count, m_knownSize, [this](WriteRun const* r, std::size_t c) {
            return onFile(r, c, "cannot write file");
        });
    }

private:
    enum class Last
    {
        none,
        read,
        write,
    };
    // The file's size now (also kept for positioned writes).
    std::size_t measured(char const* failure)
    {
        struct stat st;
        if (::fstat(::fileno(m_file), &st) != 0)
            fileError(failure, m_path, errno);
        return m_knownSize = std::size_t(st.st_size);
    }
    // Before a positioned transfer: the stream's pending writes reach the file.
    void settle()
    {
        if (m_last == Last::write) {
            flush();
            m_last = Last::none;
        }
    }
    // Drops what the stream read ahead when the bytes from..to may lie in it
    // (a seek keeps it when its target does, a positioned write changes the
    // file under it), so that the next read takes the file's bytes as they
    // are. It lies within a buffer's length of the position; a flush places
    // the descriptor at the position and empties the buffer.
    void dropReadAhead(std::size_t from, std::size_t to)
    {
        std::size_t const held = __fbufsize(m_file);
        off_t const at = ::ftello(m_file);
        if (at >= 0) {
            std::size_t const here = std::size_t(at);
            if (to <= here - std::min(here, held) || from >= here + held)
                return;
        }
        if (std::fflush(m_file) != 0)
            fileError("cannot seek in file", m_path, errno);
    }
    // The next byte, the stream left where it is; EOF at the end of the file.
    int nextByte() const
    {
        toReading();
        if (nearLargest(1)) {
            uint8_t byte;
            return readUpToLargest(std::size_t(::ftello(m_file)), 1, &byte) ? byte : EOF;
        }
        int const c = std::getc(m_file);
        if (c == EOF) {
            std::clearerr(m_file);
            return EOF;
        }
        std::ungetc(c, m_file);
        return c;
    }
    // Whether a read of size bytes from the position may reach past the
    // largest offset a file can have: the stream reads a buffer's length
    // ahead (or the size, when larger), and the system refuses a read that
    // would reach past that offset whole, though the file ends before it.
    bool nearLargest(std::size_t size) const
    {
        if (!m_caps.has(SCap::SEEK))
            return false;
        off_t const at = ::ftello(m_file);
        std::size_t const ahead = std::max({size, std::size_t(BUFSIZ), __fbufsize(m_file)});
        return at >= 0 && kLargestOffset - std::size_t(at) < ahead;
    }
    // Such a read: by positioned calls, up to that offset at most, with what
    // the stream read ahead dropped and its position moved after the bytes.
    std::size_t readNearLargest(std::size_t size, uint8_t* dst)
    {
        std::size_t const at = tell();
        if (std::fflush(m_file) != 0)
            fileError("cannot read file", m_path, errno);
        std::size_t const n = readUpToLargest(at, size, dst);
        if (::fseeko(m_file, off_t(at + n), SEEK_SET) != 0)
            fileError("cannot read file", m_path, errno);
        return n;
    }
    std::size_t readUpToLargest(std::size_t at, std::size_t size, uint8_t* dst) const
    {
        ReadRun run{at, std::min(size, kLargestOffset - at), dst};
        return run.size ? onFile(&run, 1, "cannot read file") : 0;
    }
    // A stream that reads and writes but cannot seek (a pipe, a terminal)
    // writes past its buffer, which keeps what it read ahead for the next
    // reads: written through it, the bytes would need a seek back over those.
    std::size_t writeThrough(std::size_t size, const uint8_t* src)
    {
        std::size_t done = 0;
        while (done < size) {
            ssize_t const n = ::write(::fileno(m_file), src + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_failed = true;
                fileError("cannot write file", m_path, n < 0 ? errno : EIO);
            }
            done += std::size_t(n);
        }
        return done;
    }
    template <class Byte>
    std::size_t onFile(ByteRun<Byte> const* runs, std::size_t count, char const* failure) const
    {
        int error = 0;
        std::size_t const moved = detail::fileRuns(::fileno(m_file), runs, count, error);
        if (error) {
            m_failed = true;
            fileError(failure, m_path, error);
        }
        return moved;
    }
    // The file refused written bytes (errno tells why). Those the stream
    // buffered before are lost with them, so every later flush reports it.
    [[noreturn]] void refused(char const* what) const
    {
        m_refused = errno ? errno : EIO;
        m_failed = true;
        std::clearerr(m_file);
        fileError(what, m_path, m_refused);
    }
    void need(SCap cap, char const* operation) const
    {
        if (!m_caps.has(cap))
            detail::missingCapability("file stream '" + m_path + "'", operation);
    }
    // Large writes to a regular file reserve their blocks first, which the
    // file system then fills much faster; only a hint, the size is kept.
    void reserve(std::size_t size)
    {
        if (size < (std::size_t(4) << 20) || !m_caps.has(SCap::SEEK))
            return;
        off_t const at = ::ftello(m_file);
        if (at >= 0 && size <= std::size_t(INT64_MAX - at))
            ::fallocate(::fileno(m_file), FALLOC_FL_KEEP_SIZE, at, off_t(size));
    }
    // Reading after writing needs a positioning call in between (stdio rule).
    void toReading() const
    {
        if (m_last == Last::write) {
            if (std::fflush(m_file) != 0)
                refused("cannot flush file");
            if (m_caps.has(SCap::SEEK))
                std::fseek(m_file, 0, SEEK_CUR);
        }
        m_last = Last::read;
    }

    std::string m_path;
    std::FILE* m_file = nullptr;
    StreamAccessCapabilitySet m_caps;
    mutable Last m_last = Last::none;
    mutable bool m_failed = false;
    mutable int m_refused = 0; // errno of the last write the file refused
    std::size_t m_knownSize = 0;
    detail::ReadMapping m_mapping;
};

} // namespace

std::shared_ptr<StreamAccess> detail::openFileStream(std::string const& path, FileMode mode, Place place,
                                                     Opener const& open)
{
    return std::make_shared<FileStream>(path, mode, std::move(place), open);
}

std::shared_ptr<StreamAccess> StreamAccessFactory::openFileRead(std::string const& path)
{
    return std::make_shared<FileStream>(path, Mode::read, placeOf(path));
}

std::shared_ptr<StreamAccess> StreamAccessFactory::openFileWrite(std::string const& path)
{
    return std::make_shared<FileStream>(path, Mode::write, placeOf(path));
}

std::shared_ptr<StreamAccess> StreamAccessFactory::openFile(std::string const& path)
{
    return std::make_shared<FileStream>(path, Mode::readWrite, placeOf(path));
}

std::shared_ptr<RandomAccess> RandomAccessFactory::mapFile(std::string const& path)
{
    return detail::mapFile(path, detail::MapMode::writeIfAllowed, placeOf(path));
}

std::shared_ptr<StreamAccess> StreamAccessFactory::openURIWrite(Uri const& uri)
{
    std::string scheme = uri.scheme();
    if (scheme == "file")
        return openFileWrite(uri.path());
    if (scheme == "http" || scheme == "https")
        return openHTTPWrite(uri, "POST", HTTPHeaders());
    throw NotImplemented("openURIWrite: unsupported scheme '" + scheme + "'");
}

std::shared_ptr<RandomAccess> RandomAccessFactory::openURIRead(Uri const& uri)
{
    std::string scheme = uri.scheme();
    if (scheme == "file")
        return fromStream(StreamAccessFactory::openFileRead(uri.path()));
    if (scheme == "http" || scheme == "https")
        return openHTTPRead(uri, "GET", HTTPHeaders());
    throw NotImplemented("openURIRead: unsupported scheme '" + scheme + "'");
}

} // namespace quelbo
