// Runs moved between a file and memory by positioned, vectored calls.
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "storage/access_detail.h"

namespace quelbo::detail {

namespace {

// A read bridges a gap this small between two runs (into a scratch) rather
// than making a call more.
constexpr std::size_t kBridgedGap = 4096;
// Runs shorter than this are read a tile of the file at a time into a
// scratch and copied out: cheaper than a piece of a vectored call each.
constexpr std::size_t kShortRun = 4096;
constexpr std::size_t kTile = std::size_t(1) << 20;
// Pieces of a file shorter than this on average are copied from its mapping
// rather than moved by a call each: a positioned read of 4 KiB costs ten
// times its copy from a mapping already filled, and from a new one still
// less; at 256 KiB a new mapping's page faults cost more than the call.
constexpr std::size_t kMappedRun = std::size_t(256) << 10;
// Runs farther apart than this in the file (from the end of one to the
// start of the next) are each a page fault of a mapping, and a first one
// reads the file around them (the kernel's read-around, 128 KiB to several
// MiB) where a positioned read reads their pages alone; closer ones share
// what one fault read. When most runs of a read lie so far apart,
// positioned reads serve it.
constexpr std::size_t kFarApart = std::size_t(64) << 10;
#ifdef IOV_MAX
constexpr std::size_t kPieces = IOV_MAX < 1024 ? IOV_MAX : 1024;
#else
constexpr std::size_t kPieces = 16;
#endif

// Moves total bytes at offset through the pieces; fewer only at the end of
// the file (reading). -1 with errno on failure.
ssize_t moveAll(int fd, std::vector<iovec>& pieces, std::size_t offset, std::size_t total, bool reading)
{
    std::size_t done = 0, first = 0;
    while (done < total) {
        int const count = int(pieces.size() - first);
        ssize_t const n = reading ? ::preadv(fd, pieces.data() + first, count, off_t(offset + done))
                                  : ::pwritev(fd, pieces.data() + first, count, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0) {
            if (reading)
                break;
            errno = ENOSPC;
            return -1;
        }
        done += std::size_t(n);
        // Skip the pieces moved, shorten the one moved in part.
        std::size_t left = std::size_t(n);
        while (first < pieces.size() && left >= pieces[first].iov_len)
            left -= pieces[first++].iov_len;
        if (left) {
            pieces[first].iov_base = static_cast<uint8_t*>(pieces[first].iov_base) + left;
            pieces[first].iov_len -= left;
        }
    }
    return ssize_t(done);
}

// A piece of a vectored call: iovec has one pointer type for both directions
// (pwritev only reads the bytes).
iovec piece(void const* data, std::size_t size)
{
    return {const_cast<void*>(data), size};
}

// The thread's scratch for tiles and bridged gaps, kept from call to call
// (neither needs its bytes cleared).
uint8_t* scratch()
{
    thread_local std::unique_ptr<uint8_t[]> bytes(new uint8_t[kTile]);
    return bytes.get();
}

} // namespace

long long fileEnd(int fd)
{
    off_t const end = ::lseek(fd, 0, SEEK_END);
    if (end >= 0)
        return end;
    struct stat st;
    return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

bool mappingPays(std::size_t bytes, std::size_t pieces)
{
    return bytes < kMappedRun * pieces;
}

ReadMapping::~ReadMapping()
{
    if (m_data)
        ::munmap(m_data, m_size);
}

std::size_t ReadMapping::read(int fd, ReadRun const* runs, std::size_t count, std::size_t& bytes)
{
    bytes = 0;
    // The size now: a mapping reads zeros, not a fault, past the end of a
    // file that shrank within its last page.
    long long const end = m_refused || !count ? -1 : fileEnd(fd);
    if (end <= 0)
        return 0;
    std::size_t const size = std::size_t(end);
    std::size_t within = 0, inside = 0, pieces = 0, far = 0;
    for (; within < count; ++within) {
        ReadRun const& r = runs[within];
        if (r.offset > size || r.size > size - r.offset)
            break;
        inside += r.size;
        pieces += beginsPiece(runs, within);
        if (within) {
            ReadRun const& last = runs[within - 1];
            std::size_t const lastEnd = last.offset + last.size, runEnd = r.offset + r.size;
            far += r.offset > lastEnd ? r.offset - lastEnd > kFarApart
                                      : last.offset > runEnd && last.offset - runEnd > kFarApart;
        }
    }
    if (!within || !mappingPays(inside, pieces) || far * 4 > pieces)
        return 0;
    if (m_size != size) {
        if (m_data)
            ::munmap(m_data, m_size);
        void* const p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        m_data = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
        m_size = m_data ? size : 0;
        // A file system that maps nothing is read by calls from then on.
        m_refused = !m_data;
        if (m_refused)
            return 0;
    }
    std::size_t const copied = fileMappedRuns(fd, m_data, m_size, runs, within);
    if (copied == within)
        bytes = inside;
    else
        for (std::size_t i = 0; i < copied; ++i)
            bytes += runs[i].size;
    return copied;
}

namespace {

// The bytes of the runs read, `moved` in all (counted as fileRuns counts
// them), that the file still holds now that the reads returned. A read that
// a truncation overtook gives the zeros the system wrote over the cut part of
// the page where the file now ends (it reads the file's size before it
// copies, the truncation sets the new size before it clears that part): no
// byte past the end the file has once the read returned is the file's. A
// file that reports no size (those of /proc) is taken at its word: its bytes
// are all it reads.
std::size_t heldAfterRead(int fd, ReadRun const* runs, std::size_t count, std::size_t moved)
{
    long long const end = moved ? fileEnd(fd) : 0;
    if (end <= 0)
        return moved;
    std::size_t const size = std::size_t(end);
    std::size_t held = 0;
    for (std::size_t i = 0; i < count && moved; ++i) {
        std::size_t const got = std::min(runs[i].size, moved);
        std::size_t const kept = runs[i].offset < size ? std::min(got, size - runs[i].offset) : 0;
        held += kept;
        if (kept != runs[i].size)
            break;
        moved -= got;
    }
    return held;
}

// fileRuns without the check of what a read moved.
template <class Byte>
std::size_t moveRuns(int fd, ByteRun<Byte> const* runs, std::size_t count, int& error)
{
    constexpr bool reading = !std::is_const_v<Byte>;
    std::vector<iovec> pieces;
    std::size_t moved = 0;
    std::size_t i = 0;
    // Counts runs i to j moved up to the file offset reached (copying them
    // out of a tile read at base when there is one); false at a short one.
    auto account = [&](std::size_t j, std::size_t reached, uint8_t const* tileAt, std::size_t base) {
        for (; i < j; ++i) {
            ByteRun<Byte> const& r = runs[i];
            std::size_t const got = reached > r.offset ? std::min(r.size, reached - r.offset) : 0;
            if constexpr (reading)
                if (tileAt && got)
                    std::memcpy(r.data, tileAt + (r.offset - base), got);
            moved += got;
            if (got != r.size)
                return false;
        }
        return true;
    };
    while (i < count) {
        std::size_t const offset = runs[i].offset;
        std::size_t end = offset;
        std::size_t j = i;
        pieces.clear();
        if (reading && runs[i].size < kShortRun) {
            // Short runs close together: the span they lie in, a tile at most.
            for (; j < count && runs[j].size < kShortRun; ++j) {
                ByteRun<Byte> const& r = runs[j];
                if (r.offset < end || r.offset - end > kBridgedGap || r.offset + r.size - offset > kTile)
                    break;
                end = r.offset + r.size;
            }
            if (j > i + 1) {
                uint8_t* const tile = scratch();
                pieces.push_back({tile, end - offset});
                ssize_t const done = moveAll(fd, pieces, offset, end - offset, true);
                if (done < 0) {
                    error = errno;
                    return moved;
                }
                if (!account(j, offset + std::size_t(done), tile, offset))
                    return moved;
                continue;
            }
            j = i;
            end = offset;
        }
        for (; j < count && pieces.size() < kPieces; ++j) {
            ByteRun<Byte> const& r = runs[j];
            if (r.offset != end) {
                if (!reading || r.offset < end || r.offset - end > kBridgedGap || pieces.size() + 2 > kPieces)
                    break;
                pieces.push_back({scratch(), r.offset - end});
                end = r.offset;
            }
            pieces.push_back(piece(r.data, r.size));
            end += r.size;
        }
        ssize_t const done = moveAll(fd, pieces, offset, end - offset, reading);
        if (done < 0) {
            error = errno;
            return moved;
        }
        if (!account(j, offset + std::size_t(done), nullptr, offset))
            return moved;
    }
    return moved;
}

} // namespace

template <class Byte>
std::size_t fileRuns(int fd, ByteRun<Byte> const* runs, std::size_t count, int& error)
{
    error = 0;
    std::size_t const moved = moveRuns(fd, runs, count, error);
    if constexpr (std::is_const_v<Byte>)
        return moved;
    else
        return heldAfterRead(fd, runs, count, moved);
}
template std::size_t fileRuns(int, ReadRun const*, std::size_t, int&);
template std::size_t fileRuns(int, WriteRun const*, std::size_t, int&);

} // namespace quelbo::detail
