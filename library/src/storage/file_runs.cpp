// Runs moved between a file and memory by positioned, vectored calls.
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
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

// The thread's scratch for tiles and bridged gaps, kept from call to call
// (neither needs its bytes cleared).
uint8_t* scratch()
{
    thread_local std::unique_ptr<uint8_t[]> bytes(new uint8_t[kTile]);
    return bytes.get();
}

} // namespace

std::size_t fileRuns(int fd, ByteRun const* runs, std::size_t count, bool reading, int& error)
{
    error = 0;
    std::vector<iovec> pieces;
    std::size_t moved = 0;
    std::size_t i = 0;
    // Counts runs i to j moved up to the file offset reached (copying them
    // out of a tile read at base when there is one); false at a short one.
    auto account = [&](std::size_t j, std::size_t reached, uint8_t const* tileAt, std::size_t base) {
        for (; i < j; ++i) {
            ByteRun const& r = runs[i];
            std::size_t const got = reached > r.offset ? std::min(r.size, reached - r.offset) : 0;
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
                ByteRun const& r = runs[j];
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
            ByteRun const& r = runs[j];
            if (r.offset != end) {
                if (!reading || r.offset < end || r.offset - end > kBridgedGap || pieces.size() + 2 > kPieces)
                    break;
                pieces.push_back({scratch(), r.offset - end});
                end = r.offset;
            }
            pieces.push_back({r.data, r.size});
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

} // namespace quelbo::detail
