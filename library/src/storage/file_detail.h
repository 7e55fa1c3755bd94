// What the file accessors share (private to the library).
#pragma once
#include <cerrno>
#include <functional>
#include <memory>
#include <string>

#include "storage/access_detail.h"
#include "quelbo/random_access.h"
#include "quelbo/stream_access.h"

namespace quelbo::detail {

// The system's text for err; for EFAULT, which a positioned call gives for
// memory of the caller's that the system could not reach (a numpy.memmap of
// a file shrunk since), it says so.
std::string systemReason(int err);

// Error "<what> '<path>': <systemReason(err)>"; Interrupted for EINTR (a
// call that the interrupt handler ended).
[[noreturn]] void fileError(char const* what, std::string const& path, int err);

// Makes the system call `call` (-1 and errno when it fails) again while a
// signal interrupts it and `ask` (the interrupt handler's answer, as a
// caller may ask it) lets it go on: its result, or -1 with errno EINTR once
// the handler ended it.
template <class Call, class Ask = bool (*)() noexcept>
auto retried(Call call, Ask ask = detail::carryOn) -> decltype(call())
{
    for (;;) {
        auto const result = call();
        if (result >= 0 || errno != EINTR)
            return result;
        if (!ask()) {
            errno = EINTR;
            return result;
        }
    }
}

// The blocks of a large write to a regular file, reserved before it is made
// (the file system then fills them much faster; only a hint, the file's size
// stays): unless the write is kept, those past the file's end are given back
// as it goes, so that a file that refused the write (RLIMIT_FSIZE, a full
// disk) holds no blocks past what it holds. None for fd -1.
class Reservation
{
public:
    Reservation(int fd, std::size_t offset, std::size_t size) noexcept;
    ~Reservation();
    Reservation(Reservation const&) = delete;
    Reservation& operator=(Reservation const&) = delete;
    void keep() noexcept { m_fd = -1; }

private:
    int m_fd;
    std::size_t m_end;
};

// InvalidArgument "<what> holds a NUL character" when the path holds one.
void checkPath(std::string const& path, char const* what = "file path");

// Opens the path with the given open(2) flags (close-on-exec, mode 0666
// when created): -1 and errno when the system refuses. The open of a FIFO
// waits for its other end, retried as above.
int openPath(std::string const& path, int flags);

// The path from the root: a relative one is taken from the working folder
// now, so that it names the same file whatever the working folder is later
// ("." is the working folder itself).
std::string absolutePath(std::string const& path);

// Opens the file of an accessor with the given open(2) flags: -1 and errno
// when the system refuses. Without one, an accessor opens its path.
using Opener = std::function<int(int flags)>;

// A stream over the file, opened for reading (it must exist), writing (it
// is created or emptied) or both (created when missing, its bytes kept).
enum class FileMode
{
    read,
    write,
    readWrite,
};
std::shared_ptr<StreamAccess> openFileStream(std::string const& path, FileMode mode, Place place,
                                             Opener const& open = {});

// A store over the file mapped shared into memory, for reading, for reading
// and writing (Error when the file cannot be written), or for writing too
// where the file allows it; the path names it in messages.
enum class MapMode
{
    read,
    write,
    writeIfAllowed,
};
std::shared_ptr<RandomAccess> mapFile(std::string const& path, MapMode mode, Place place, Opener const& open = {});

} // namespace quelbo::detail
