// The mapped-file store.
#include <algorithm>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <vector>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/file_detail.h"

namespace quelbo {

using RCap = RandomAccessCapability;

namespace {

// The file mapped shared into memory: reads and writes are copies that
// survive the file shrinking under the mapping, and writes reserve the
// blocks they fill first, so a full file system fails the write instead.
class MappedFile : public RandomAccess, public detail::Lineage
{
public:
    MappedFile(std::string const& path, detail::MapMode mode, detail::Place place, detail::Opener const& open)
        : RandomAccess(std::move(place.storage), std::move(place.id)), m_path(path)
    {
        // Without waiting: a FIFO would wait for a writer (it is refused below).
        auto openAs = [&](int flags) { return open ? open(flags) : detail::openPath(path, flags | O_NONBLOCK); };
        bool writable = mode != detail::MapMode::read;
        m_fd = openAs(writable ? O_RDWR : O_RDONLY);
        // A file the caller may only read is mapped for reading, unless
        // writing was asked for: then the system's refusal is the answer.
        if (m_fd < 0 && mode == detail::MapMode::writeIfAllowed && (errno == EACCES || errno == EROFS)) {
            writable = false;
            m_fd = openAs(O_RDONLY);
        }
        if (m_fd < 0)
            detail::fileError("cannot map file", path, errno);
        struct stat st;
        bool const statted = ::fstat(m_fd, &st) == 0;
        if (!statted || !S_ISREG(st.st_mode)) {
            int err = statted ? ENODEV : errno;
            ::close(m_fd);
            detail::fileError("cannot map file", path, err);
        }
        // A file that says it is empty but holds bytes (the system makes
        // them as they are read, as for /proc) has no pages to map.
        uint8_t first;
        ssize_t const held = st.st_size == 0 ? ::pread(m_fd, &first, 1, 0) : 0;
        if (held != 0) {
            int err = errno;
            ::close(m_fd);
            if (held < 0)
                detail::fileError("cannot map file", path, err);
            throw Error("cannot map file '" + path + "': " + detail::kNoSize);
        }
        m_size = std::size_t(st.st_size);
        m_identity = detail::fileIdentity(st);
        if (m_size) {
            void* p = ::mmap(nullptr, m_size, PROT_READ | (writable ? PROT_WRITE : 0), MAP_SHARED, m_fd, 0);
            if (p == MAP_FAILED) {
                int err = errno;
                ::close(m_fd);
                detail::fileError("cannot map file", path, err);
            }
            m_data = static_cast<uint8_t*>(p);
        }
        // A file without holes has its blocks already: nothing to reserve.
        m_reserve = writable && uint64_t(st.st_blocks) * 512 < uint64_t(st.st_size);
        m_page = std::size_t(::sysconf(_SC_PAGESIZE));
        m_reserved.resize(m_size / m_page / kLeafPages + 1);
        m_caps = RandomAccessCapabilitySet(RCap::READ) | RCap::MEMORY_ACCESS;
        if (writable)
            m_caps.add(RCap::WRITE);
    }
    ~MappedFile() override
    {
        if (m_data)
            ::munmap(m_data, m_size);
        ::close(m_fd);
    }
    RandomAccessCapabilitySet capabilities() const override { return m_caps; }
    std::size_t size() const override { return m_size; }
    std::size_t read(std::size_t offset, std::size_t size, uint8_t* dst) override
    {
        ReadRun const run{offset, size, dst};
        return readRuns(&run, 1);
    }
    std::size_t write(std::size_t offset, std::size_t size, const uint8_t* src) override
    {
        WriteRun const run{offset, size, src};
        return writeRuns(&run, 1);
    }
    std::size_t readRuns(ReadRun const* runs, std::size_t count) override { return copyRuns(runs, count); }
    std::size_t writeRuns(WriteRun const* runs, std::size_t count) override
    {
        if (!m_caps.has(RCap::WRITE))
            detail::missingCapability("mapped file", "write");
        return copyRuns(runs, count);
    }
    void resize(std::size_t) override { detail::missingCapability("mapped file", "resize"); }
    uint8_t* data() override { return m_data; }
    std::string heldFile() const override { return m_identity; }

private:
    // The runs within the store copied under one guard (the pages written
    // reserved first), then the part of the next one that is; a run the
    // file no longer holds fails the copy there.
    template <class Byte>
    std::size_t copyRuns(ByteRun<Byte> const* runs, std::size_t count)
    {
        constexpr bool writing = std::is_const_v<Byte>;
        return detail::clampedRuns(runs, count, m_size, [&](ByteRun<Byte> const* r, std::size_t c) {
            std::size_t bytes = 0;
            for (std::size_t i = 0; i < c; ++i) {
                if (writing && r[i].size)
                    reserve(r[i].offset, r[i].size);
                bytes += r[i].size;
            }
            std::size_t copied = detail::fileMappedRuns(m_fd, m_data, m_size, r, c);
            if constexpr (!writing)
                if (copied != c)
                    copied += readPositioned(r + copied, c - copied);
            if (copied != c)
                lost(writing, r[copied].offset, r[copied].size);
            return bytes;
        });
    }

    // Gives the pages about to be written their blocks (the file's size
    // stays): a file system without room refuses here, before anything is
    // written. One that cannot reserve leaves it to the guarded copy. The
    // pages reserved are remembered, each reserved once.
    void reserve(std::size_t offset, std::size_t n)
    {
        if (!m_reserve)
            return;
        std::lock_guard<std::mutex> lock(m_reserving);
        std::size_t page = offset / m_page, end = (offset + n - 1) / m_page + 1;
        while (page < end && isReserved(page))
            ++page;
        if (page == end)
            return;
        int err;
        do
            err = ::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, off_t(page * m_page),
                              off_t(std::min(end * m_page, m_size) - page * m_page)) == 0
                      ? 0
                      : errno;
        while (err == EINTR);
        if (err == EOPNOTSUPP || err == ENOSYS) {
            m_reserve = false;
            return;
        }
        if (err)
            detail::fileError("cannot write mapped file", m_path, err);
        for (; page < end; ++page) {
            auto& leaf = m_reserved[page / kLeafPages];
            if (!leaf)
                leaf = std::make_unique<std::bitset<kLeafPages>>();
            leaf->set(page % kLeafPages);
        }
    }
    bool isReserved(std::size_t page) const
    {
        auto const& leaf = m_reserved[page / kLeafPages];
        return leaf && leaf->test(page % kLeafPages);
    }

    // The runs a copy from the mapping could not read (the pages of a hole
    // on a full file system, or past the end of a file shrunk) read by
    // positioned calls, which give a hole's zeros: the count read whole.
    std::size_t readPositioned(ReadRun const* runs, std::size_t count) const
    {
        int error = 0;
        std::size_t moved = detail::fileRuns(m_fd, runs, count, error), whole = 0;
        for (; whole < count && runs[whole].size <= moved; ++whole)
            moved -= runs[whole].size;
        return whole;
    }

    // The copy faulted: say why, as far as the file tells.
    [[noreturn]] void lost(bool writing, std::size_t offset, std::size_t n) const
    {
        struct stat st;
        std::string why = "the file system could not provide its pages";
        if (::fstat(m_fd, &st) == 0 && uint64_t(st.st_size) < uint64_t(offset) + n)
            why = "the file shrank to " + std::to_string(st.st_size) + " bytes after it was mapped";
        throw Error(std::string(writing ? "cannot write" : "cannot read") + " mapped file '" + m_path + "' at bytes " +
                    std::to_string(offset) + " to " + std::to_string(offset + n) + ": " + why +
                    (writing ? " (part of the bytes may be written)" : ""));
    }

    std::string m_path;
    int m_fd = -1;
    std::string m_identity;
    uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    RandomAccessCapabilitySet m_caps;
    // One bit a page, in leaves of 2^18 pages made on first use.
    static constexpr std::size_t kLeafPages = std::size_t(1) << 18;
    std::size_t m_page = 4096;
    std::mutex m_reserving;
    std::atomic<bool> m_reserve{false};
    std::vector<std::unique_ptr<std::bitset<kLeafPages>>> m_reserved;
};

} // namespace

std::shared_ptr<RandomAccess> detail::mapFile(std::string const& path, MapMode mode, Place place, Opener const& open)
{
    return std::make_shared<MappedFile>(path, mode, std::move(place), open);
}

} // namespace quelbo
