// The folder storage: the files beneath a folder, by resource id.
#include <climits>
#include <string>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/file_detail.h"
#include "quelbo/access_factory.h"
#include "quelbo/uri.h"

namespace quelbo {

namespace {

using detail::FileMode;
using detail::Opener;
using detail::Place;

class FolderStorage : public DataStorage, public std::enable_shared_from_this<FolderStorage>
{
public:
    // A relative folder is the one it names in the working folder now: the
    // storage opens its files there whatever the working folder is later,
    // by its path from the root, or (a path too long for the system to
    // take) by a descriptor of it.
    explicit FolderStorage(std::string const& folder) : m_folder(detail::absolutePath(folder.empty() ? "." : folder))
    {
        while (m_folder.size() > 1 && m_folder.back() == '/')
            m_folder.pop_back();
        m_source = Uri::fileUri(m_folder.back() == '/' ? m_folder : m_folder + '/');
        if (m_folder.size() >= PATH_MAX)
            m_dir = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    ~FolderStorage() override
    {
        if (m_dir >= 0)
            ::close(m_dir);
    }

    std::shared_ptr<StreamAccess> openStreamAccess(std::string const& id, AccessCapabilities caps) override
    {
        Resource r = resource(id);
        switch (caps) {
        case AccessCapabilities::READ_ONLY:
            return detail::openFileStream(r.path, FileMode::read, r.place, r.open);
        case AccessCapabilities::WRITE_ONLY:
            return detail::openFileStream(r.path, FileMode::write, r.place, r.open);
        case AccessCapabilities::READ_WRITE:
            return detail::openFileStream(r.path, FileMode::readWrite, r.place, r.open);
        }
        throw InvalidArgument("openStreamAccess: unknown capabilities " + std::to_string(int32_t(caps)));
    }
    std::shared_ptr<RandomAccess> openRandomAccess(std::string const& id, AccessCapabilities caps) override
    {
        Resource r = resource(id);
        switch (caps) {
        case AccessCapabilities::READ_ONLY:
            return detail::mapFile(r.path, detail::MapMode::read, r.place, r.open);
        case AccessCapabilities::READ_WRITE:
            return detail::mapFile(r.path, detail::MapMode::write, r.place, r.open);
        case AccessCapabilities::WRITE_ONLY:
            throw Error("openRandomAccess: a file store cannot be opened write-only");
        }
        throw InvalidArgument("openRandomAccess: unknown capabilities " + std::to_string(int32_t(caps)));
    }
    std::string const& source() const override { return m_source; }

private:
    struct Resource
    {
        std::string path; // for messages
        Place place;
        Opener open;
    };
    Resource resource(std::string const& id)
    {
        return {m_folder + "/" + id, {shared_from_this(), id}, [this, id, names = namesOf(id)](int flags) {
                    return openBeneath(id, names, flags);
                }};
    }

    // A resource id names a file inside the folder: never absolute, never
    // "..", never a folder (nor one ending in "/" or "/."); its names from
    // the folder down ("." dropped).
    std::vector<std::string> namesOf(std::string const& id) const
    {
        if (id.empty() || id[0] == '/' || id.find('\0') != std::string::npos)
            throw InvalidArgument("resource id '" + id + "' does not name a file inside the folder");
        std::vector<std::string> names;
        std::size_t start = 0;
        while (start <= id.size()) {
            std::size_t end = id.find('/', start);
            if (end == std::string::npos)
                end = id.size();
            std::string name = id.substr(start, end - start);
            if (name == "..")
                throw InvalidArgument("resource id '" + id + "' leaves the folder");
            if (!name.empty() && name != ".")
                names.push_back(std::move(name));
            start = end + 1;
        }
        std::size_t const tail = id.rfind('/') + 1; // 0 without one
        if (names.empty() || id.compare(tail, std::string::npos, ".") == 0 || tail == id.size())
            throw InvalidArgument("resource id '" + id + "' does not name a file inside the folder");
        return names;
    }

    // Opens the file of an id one name at a time from the folder, following
    // no symbolic link (so nothing outside is ever reached, created or
    // emptied); -1 and errno when the system refuses.
    int openBeneath(std::string const& id, std::vector<std::string> const& names, int flags) const
    {
        int dir = m_dir >= 0 ? ::openat(m_dir, ".", O_PATH | O_DIRECTORY | O_CLOEXEC)
                             : ::open(m_folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        for (std::size_t i = 0; dir >= 0; ++i) {
            bool const last = i + 1 == names.size();
            int const fd =
                ::openat(dir, names[i].c_str(), (last ? flags | O_NONBLOCK : O_PATH | O_DIRECTORY) | O_NOFOLLOW | O_CLOEXEC,
                         0666);
            int const err = errno;
            // What the name is when it could not be opened: a link, or (a
            // FIFO without a reader opened for writing, a socket, a folder
            // opened for writing) anything else but a regular file.
            struct stat st;
            bool const there = fd < 0 && ::fstatat(dir, names[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
            ::close(dir);
            if (there && S_ISLNK(st.st_mode))
                throw Error("resource id '" + id + "' goes through the symbolic link '" + names[i] +
                            "': a folder storage follows none");
            if (there && last && !S_ISREG(st.st_mode))
                noRegularFile(id);
            if (last && fd >= 0)
                return regularFile(id, fd);
            if (last || fd < 0) {
                errno = err;
                return fd;
            }
            dir = fd;
        }
        return -1;
    }

    [[noreturn]] static void noRegularFile(std::string const& id)
    {
        throw Error("resource id '" + id + "' names no regular file");
    }
    // The descriptor of a regular file, in blocking mode again; anything else
    // (a pipe would wait for a writer for ever, a device never ends) is refused.
    static int regularFile(std::string const& id, int fd)
    {
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            noRegularFile(id);
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd;
    }

    std::string m_folder;
    std::string m_source;
    int m_dir = -1;
};

} // namespace

std::shared_ptr<DataStorage> createFolderStorage(std::string const& folder)
{
    return std::make_shared<FolderStorage>(folder);
}

} // namespace quelbo
