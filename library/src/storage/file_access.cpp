// The factories that open files (their streams: file_stream.cpp).
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/access_detail.h"
#include "storage/file_detail.h"
#include "quelbo/access_factory.h"
#include "quelbo/uri.h"

namespace quelbo {

using RCap = RandomAccessCapability;
using SCap = StreamAccessCapability;

std::string detail::systemReason(int err)
{
    return std::string(std::strerror(err)) + (err == EFAULT ? " (in the caller's buffer)" : "");
}

void detail::fileError(char const* what, std::string const& path, int err)
{
    std::string message = std::string(what) + " '" + path + "': " + systemReason(err);
    if (err == EINTR)
        throw Interrupted(message);
    throw Error(message);
}

detail::Reservation::Reservation(int fd, std::size_t offset, std::size_t size) noexcept : m_fd(fd), m_end(offset + size)
{
    if (m_fd >= 0 && ::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, off_t(offset), off_t(size)) != 0)
        m_fd = -1;
}

detail::Reservation::~Reservation()
{
    // Truncating a file to its own size frees the blocks past its end (a hole
    // punched there frees nothing on some file systems); a writer of another
    // process that extends the file just then may lose what it wrote.
    struct stat st;
    if (m_fd >= 0 && ::fstat(m_fd, &st) == 0 && uint64_t(st.st_size) < m_end)
        retried([&] { return ::ftruncate(m_fd, st.st_size); });
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
    return retried([&] { return ::open(path.c_str(), flags | O_CLOEXEC, 0666); });
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

// A file accessor belongs to the folder of its path, under its name.
Place placeOf(std::string const& path)
{
    auto slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return {createFolderStorage(folder), name};
}

using Mode = detail::FileMode;

} // namespace

std::shared_ptr<StreamAccess> StreamAccessFactory::openFileRead(std::string const& path)
{
    return detail::openFileStream(path, Mode::read, placeOf(path));
}

std::shared_ptr<StreamAccess> StreamAccessFactory::openFileWrite(std::string const& path)
{
    return detail::openFileStream(path, Mode::write, placeOf(path));
}

std::shared_ptr<StreamAccess> StreamAccessFactory::openFile(std::string const& path)
{
    return detail::openFileStream(path, Mode::readWrite, placeOf(path));
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
