// Stores in temporary files: made exclusively with owner-only permissions,
// removed with the store, or at exit when a store is never destroyed, by the
// process that made the file only (a fork's child shares the parent's file
// and leaves it in place).
#include "storage/temporary_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <type_traits>
#include <vector>

#include "storage/file_detail.h"
#include "storage/lineage.h"
#include "storage/process.h"

namespace quelbo {

namespace {

// Where a temporary file lies: its path (dir AT_FDCWD), or its name in the
// folder of the descriptor dir (a folder whose path is too long for the
// system to take).
struct Where
{
    int dir;
    std::string name;
    void remove() const { ::unlinkat(dir, name.c_str(), 0); }
};

// The temporary files alive in the process, with the process that made each:
// those it made whose view was never destroyed (an object kept to the end by
// its user) are removed at its exit.
class LiveFiles
{
public:
    static LiveFiles& instance()
    {
        // Never destroyed: files may be dropped during the static destruction.
        static LiveFiles* live = [] {
            auto* l = new LiveFiles;
            std::atexit([] { instance().removeAll(); });
            return l;
        }();
        return *live;
    }
    void add(std::string const& path, Where const& where, pid_t maker)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_paths[path] = {where, maker};
    }
    void remove(std::string const& path)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_paths.erase(path);
    }

private:
    void removeAll()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        pid_t const self = detail::currentProcess();
        for (auto const& [path, file] : m_paths)
            if (file.second == self)
                file.first.remove();
        m_paths.clear();
    }

    std::mutex m_mutex;
    std::map<std::string, std::pair<Where, pid_t>> m_paths;
};

// Creates a new file named "quelbo-view-" and six random letters or digits,
// exclusively, readable and writable by its owner only, as mkostemp does,
// but by its name in the folder of the descriptor dir (its path is prefix
// and that name): its descriptor (-1 with errno) and that path.
int createExclusive(int dir, std::string const& prefix, std::string& path)
{
    static char const kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (uint64_t attempt = 0; attempt < 100; ++attempt) {
        uint64_t bits = 0;
        if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != ssize_t(sizeof bits))
            bits = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) * 0x9E3779B97F4A7C15u ^
                   (uint64_t(::getpid()) << 40) ^ attempt;
        path = prefix + "quelbo-view-";
        for (int i = 0; i < 6; ++i, bits /= 62)
            path += kLetters[bits % 62];
        int const fd = ::openat(dir, path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// A store in a new temporary file, made exclusively with owner-only
// permissions and removed with the store.
class TemporaryFile final : public RandomAccess, public detail::Lineage
{
public:
    explicit TemporaryFile(std::string const& dirPath)
    {
        std::string dir = dirPath;
        if (dir.empty()) {
            const char* tmp = std::getenv("TMPDIR");
            dir = tmp && *tmp ? tmp : "/tmp";
        }
        detail::checkPath(dir, "ImageViewFactory: the folder path");
        struct stat st;
        if (::stat(dir.c_str(), &st) != 0) {
            if (errno != ENOENT && errno != ENOTDIR) // it may exist (a folder the caller cannot search)
                cannotCreate(dir);
            throw InvalidArgument("ImageViewFactory: the folder " + dir + " does not exist");
        }
        if (!S_ISDIR(st.st_mode))
            throw InvalidArgument("ImageViewFactory: " + dir + " is not a folder");
        // Named from the root: the file is removed where it was made, whatever
        // the working folder is then; in a folder whose path is too long for
        // the system to take, through a descriptor of the folder opened now.
        std::string const root = detail::absolutePath(dir);
        bool const reachable = root.size() + 32 < PATH_MAX;
        if (!reachable && (m_where.dir = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) < 0)
            cannotCreate(dir);
        m_fd = createExclusive(m_where.dir, reachable ? root + "/" : std::string(), m_where.name);
        if (m_fd < 0)
            cannotCreate(dir);
        m_path = reachable ? m_where.name : dir + "/" + m_where.name;
        // Another store may open the file by its path: both are named by it.
        struct stat held;
        if (::fstat(m_fd, &held) != 0) {
            int const err = errno;
            ::close(m_fd);
            m_where.remove();
            errno = err;
            cannotCreate(dir);
        }
        m_identity = detail::fileIdentity(held);
        try {
            LiveFiles::instance().add(m_path, m_where, m_maker);
        } catch (...) {
            ::close(m_fd);
            m_where.remove();
            closeFolder();
            throw;
        }
    }
    ~TemporaryFile() override
    {
        unmap();
        ::close(m_fd);
        if (detail::currentProcess() == m_maker)
            m_where.remove();
        LiveFiles::instance().remove(m_path);
        closeFolder();
    }

    RandomAccessCapabilitySet capabilities() const override
    {
        return RandomAccessCapabilitySet(uint64_t(RandomAccessCapability::READ) |
                                         uint64_t(RandomAccessCapability::WRITE) |
                                         uint64_t(RandomAccessCapability::RESIZE));
    }
    std::size_t size() const override { return m_size; }
    std::size_t read(std::size_t offset, std::size_t size, uint8_t* dst) override
    {
        ReadRun const run{offset, size, dst};
        return transfer(&run, 1);
    }
    std::size_t write(std::size_t offset, std::size_t size, const uint8_t* src) override
    {
        WriteRun const run{offset, size, src};
        return transfer(&run, 1);
    }
    std::size_t readRuns(ReadRun const* runs, std::size_t count) override { return transfer(runs, count); }
    std::size_t writeRuns(WriteRun const* runs, std::size_t count) override { return transfer(runs, count); }
    void resize(std::size_t newSize) override
    {
        std::lock_guard<std::shared_mutex> alone(m_resizing);
        shrank(); // a file cut from outside is refused here too
        notCut("resize");
        unmap();
        if (newSize > size_t(INT64_MAX) || ::ftruncate(m_fd, off_t(newSize)) != 0)
            fail("resize");
        // Pieces written before keep their bytes up to the smaller size.
        std::size_t const pieces = (newSize + kPiece - 1) / kPiece, kept = std::min(pieces, m_pieces);
        auto written = std::make_unique<std::atomic<bool>[]>(pieces);
        for (std::size_t i = 0; i < pieces; ++i)
            written[i].store(i < kept && m_written[i].load(std::memory_order_relaxed), std::memory_order_relaxed);
        if (kept && newSize < m_size && newSize % kPiece)
            written[kept - 1].store(false, std::memory_order_relaxed);
        m_written = std::move(written);
        m_pieces = pieces;
        m_size = newSize;
        // Without a mapping, every write is a positioned one.
        void* p = newSize ? ::mmap(nullptr, newSize, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0) : MAP_FAILED;
        m_mapping = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
    }

    std::string const& path() const { return m_path; }
    std::string heldFile() const override { return m_identity; }

private:
    [[noreturn]] void cannotCreate(std::string const& dir)
    {
        int const err = errno;
        closeFolder();
        throw Error("ImageViewFactory: cannot create a temporary file in " + dir + ": " + std::strerror(err));
    }
    void closeFolder()
    {
        if (m_where.dir >= 0)
            ::close(m_where.dir);
    }
    [[noreturn]] void fail(char const* what, std::string const& why) const
    {
        throw Error(std::string("ImageViewFactory: cannot ") + what + " the temporary file " + m_path + ": " + why);
    }
    [[noreturn]] void fail(char const* what) const { fail(what, std::strerror(errno)); }

    // Runs copied to or from the file's mapping when that pays (see
    // detail::mappingPays). Longer ones are positioned calls while they
    // reach pieces of the file never written (a copy into the mapping would
    // first fault in every new page), and go through the mapping once every
    // piece they reach was.
    static constexpr std::size_t kPiece = std::size_t(1) << 20;

    // Whether every piece the runs reach was written before; marks them
    // written when they are a write's.
    template <class Byte>
    bool reachesWritten(ByteRun<Byte> const* runs, std::size_t count)
    {
        constexpr bool writing = std::is_const_v<Byte>;
        bool all = true;
        for (std::size_t i = 0; i < count; ++i) {
            if (!runs[i].size)
                continue;
            std::size_t const last = (runs[i].offset + runs[i].size - 1) / kPiece;
            for (std::size_t k = runs[i].offset / kPiece; k <= last; ++k) {
                all = all && m_written[k].load(std::memory_order_relaxed);
                if (writing)
                    m_written[k].store(true, std::memory_order_relaxed);
            }
        }
        return all;
    }

    void unmap()
    {
        if (m_mapping)
            ::munmap(m_mapping, m_size);
        m_mapping = nullptr;
    }

    // Every run whole, or Error. A file that another process shrank is the
    // store's no more: the transfer that finds it so raises, and so does
    // every later one.
    template <class Byte>
    std::size_t transfer(ByteRun<Byte> const* runs, std::size_t count)
    {
        constexpr bool reading = !std::is_const_v<Byte>;
        // A resize waits for the transfers under way, and they for it.
        std::shared_lock<std::shared_mutex> shared(m_resizing);
        std::size_t total = 0, pieces = 0;
        for (std::size_t i = 0; i < count; ++i) {
            std::size_t const offset = runs[i].offset, size = runs[i].size;
            if (offset > m_size || size > m_size - offset)
                throw Error("ImageViewFactory: bytes " + std::to_string(offset) + " to " +
                            std::to_string(offset + size) + " are past the end of the temporary file " + m_path);
            total += size;
            pieces += detail::beginsPiece(runs, i);
        }
        notCut(reading ? "read" : "write");
        // Reads reaching pieces never written are positioned ones: through
        // the mapping, the pages of a hole would be made (on a full file
        // system: refused) only to give its zeros.
        bool const written = reachesWritten(runs, count);
        std::size_t done = 0; // the runs moved whole
        if (m_mapping && (written || (!reading && detail::mappingPays(total, pieces)))) {
            // Guarded: the file found shrunk from outside fails the transfer.
            bool shorter = false;
            done = detail::fileMappedRuns(m_fd, m_mapping, m_size, runs, count, &shorter);
            if (done == count && !shorter)
                return total;
            // A read the file system could not provide pages for (a hole
            // in a piece written in part) is left to positioned reads.
            if (!reading || shorter || shrank())
                failed(reading, 0);
        }
        std::size_t rest = total;
        for (std::size_t i = 0; i < done; ++i)
            rest -= runs[i].size;
        // Positioned writes (large runs) write nothing into a file found cut.
        int error = 0;
        if ((!reading && shrank()) || positioned(runs + done, count - done, error) != rest || shrank())
            failed(reading, error);
        return total;
    }

    // Runs moved by positioned calls. A positioned write past the end of a
    // file shrunk meanwhile grows it again, with holes where the bytes cut
    // off were: the file's last byte is written through the mapping (which
    // never grows the file), so that a file cut stays shorter than the store
    // and is seen to be.
    std::size_t positioned(ReadRun const* runs, std::size_t count, int& error) const
    {
        return detail::fileRuns(m_fd, runs, count, error);
    }
    std::size_t positioned(WriteRun const* runs, std::size_t count, int& error) const
    {
        std::size_t end = 0;
        while (end < count && (!runs[end].size || runs[end].offset + runs[end].size != m_size))
            ++end;
        if (end == count || !m_mapping)
            return detail::fileRuns(m_fd, runs, count, error);
        std::vector<WriteRun> held(runs, runs + count);
        WriteRun const last{m_size - 1, 1, held[end].data + --held[end].size};
        std::size_t const moved = detail::fileRuns(m_fd, held.data(), count, error);
        return error ? moved : moved + detail::fileMappedRuns(m_fd, m_mapping, m_size, &last, 1);
    }

    // Whether another process shrank the file (its size now in `now`); the
    // store then refuses every transfer from now on.
    bool shrank(std::size_t* now = nullptr) const
    {
        struct stat st;
        if (::fstat(m_fd, &st) != 0 || std::size_t(st.st_size) >= m_size)
            return false;
        std::size_t const size = std::size_t(st.st_size);
        std::size_t unseen = 0;
        m_cutTo.compare_exchange_strong(unseen, size + 1);
        if (now)
            *now = size;
        return true;
    }
    void notCut(char const* what) const
    {
        if (std::size_t const cut = m_cutTo.load())
            fail(what, shrunkTo(cut - 1));
    }
    static std::string shrunkTo(std::size_t size) { return "the file shrank to " + std::to_string(size) + " bytes"; }
    // A transfer that did not move every byte: the file shrank, or the system
    // refused with error (0: the mapping's pages could not be provided).
    [[noreturn]] void failed(bool reading, int error) const
    {
        std::size_t now = 0;
        fail(reading ? "read" : "write", shrank(&now) ? shrunkTo(now)
                                         : error      ? detail::systemReason(error)
                                                      : "the file system could not provide its pages");
    }

    int m_fd = -1;
    Where m_where{AT_FDCWD, {}};
    pid_t const m_maker = detail::currentProcess(); // the process that made the file, and removes it
    std::string m_path;
    std::string m_identity;
    std::size_t m_size = 0;
    uint8_t* m_mapping = nullptr; // the whole file, shared; null when it could not be mapped
    std::unique_ptr<std::atomic<bool>[]> m_written; // per piece of the file: written before
    std::size_t m_pieces = 0;
    std::shared_mutex m_resizing;
    // 1 + the size the file was found shrunk to; 0 while it never was.
    mutable std::atomic<std::size_t> m_cutTo{0};
};

} // namespace

std::shared_ptr<RandomAccess> detail::createTemporaryFile(std::string const& dirPath)
{
    return std::make_shared<TemporaryFile>(dirPath);
}

} // namespace quelbo
