// Building blocks shared by the storage kinds (private to the library).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "quelbo/error.h"
#include "quelbo/random_access.h"
#include "quelbo/stream_access.h"
#include "storage/lineage.h"
#include "values/large_block.h"

namespace quelbo::detail {

// Where an accessor belongs: its storage and its resource id there.
struct Place
{
    std::shared_ptr<DataStorage> storage;
    std::string id;
};

// The position a seek asks for; Error for a position before the beginning,
// an unknown origin or an overflow.
std::size_t seekTarget(std::size_t current, std::size_t end, int64_t offset, SeekOrigin origin);

// Error "<what>: the <kind> is not opened for <operation>".
[[noreturn]] void missingCapability(std::string const& kind, char const* operation);

// An accessor's check before an operation: missingCapability("store" or
// "stream", operation) unless it supports cap.
inline void need(RandomAccess const& store, RandomAccessCapability cap, char const* operation)
{
    if (!store.support(cap))
        missingCapability("store", operation);
}
inline void need(StreamAccess const& stream, StreamAccessCapability cap, char const* operation)
{
    if (!stream.support(cap))
        missingCapability("stream", operation);
}

// A factory's check of its input: InvalidArgument "<operation>: empty input".
template <class P>
void needInput(P const& p, char const* operation)
{
    if (!p)
        throw InvalidArgument(std::string{operation} + ": empty input");
}

// Why no store is made over a file that reports no size (as those of /proc):
// a store of the size it reports would read past that size.
inline constexpr char const* kNoSize =
    "the system reports a size of 0 for it, yet it holds bytes (made as they are read, as those of /proc are)";

// Error for an offset past the end of a store of the given size.
[[noreturn]] void offsetPastEnd(std::size_t offset, std::size_t size);

// The count a transfer of size bytes at offset may move within total bytes.
std::size_t clampedCount(std::size_t offset, std::size_t size, std::size_t total);

// While one lives on a thread (a view's public transfer, which may make many
// guarded copies), the guarded copies there check once, not one by one, that
// the library's bus-error handler is the process's (a handler installed
// later, faulthandler's, is replaced again) and that the thread does not
// block bus errors (they are unblocked until it goes): nothing the library
// runs on the thread meanwhile changes either.
class GuardedCall
{
public:
    GuardedCall() noexcept;
    ~GuardedCall();
    GuardedCall(GuardedCall const&) = delete;
    GuardedCall& operator=(GuardedCall const&) = delete;
};

// Copies the runs between memory and the mapping at `mapping` of the file fd
// (its first `mapped` bytes; into it when writing, run offsets from its
// start), up to the first one the file no longer holds whole when the copy
// ends: the count of runs copied whole. A bus error in the mapping (the file
// shrank, or its file system could not provide a page) stops the copy there
// and never reaches the process; whatever was copied before it stays. A
// file shrunk under its mapping reads zeros and drops writes, without a
// fault, in the page where it now ends: runs reaching into the mapping's
// last page have the file's size asked once they are copied; for the others
// one load from that page tells that the file still reaches it (and its size
// is asked only when it does not); `shorter`, when given, is set when the
// file was found shorter than the mapping. A fault in the memory of the
// runs themselves is not the mapping's: it goes to the process, as it would
// without the library.
template <class Byte>
std::size_t fileMappedRuns(int fd, uint8_t* mapping, std::size_t mapped, ByteRun<Byte> const* runs, std::size_t count,
                           bool* shorter = nullptr) noexcept;

// Moves runs between the file fd and memory as RandomAccess::readRuns and
// writeRuns do, with positioned vectored calls: runs adjacent in the file go
// in one call, and a read bridges small gaps. A read gives no byte past the
// end the file has once it returned (another process may have cut it
// meanwhile). On failure returns the bytes moved so far with error set to
// the errno (0 otherwise).
template <class Byte>
std::size_t fileRuns(int fd, ByteRun<Byte> const* runs, std::size_t count, int& error);

// The size of the file fd, -1 with errno when the system cannot tell: as
// the end a seek there finds (which moves the descriptor's offset: for
// descriptors read and written by positioned calls only), else as fstat has
// it. A seek asks for none of the file's times, where fstat does and makes
// the file's next write store new times on disk (fine-grained timestamps).
long long fileEnd(int fd);

// Whether runs of `bytes` in all, in `pieces` contiguous in their file, are
// cheaper copied to or from a mapping of it than moved by positioned calls:
// pieces shorter than kMappedRun on average, each call costing more than its
// bytes.
bool mappingPays(std::size_t bytes, std::size_t pieces);

// Whether run i begins a piece contiguous in the file.
template <class Byte>
bool beginsPiece(ByteRun<Byte> const* runs, std::size_t i)
{
    return i == 0 || runs[i].offset != runs[i - 1].offset + runs[i - 1].size;
}

// A read-only mapping of a file, made when a read first pays for it and made
// again when the file has another size.
class ReadMapping
{
public:
    ReadMapping() = default;
    ReadMapping(ReadMapping const&) = delete;
    ReadMapping& operator=(ReadMapping const&) = delete;
    ~ReadMapping();

    // Copies the leading runs that lie within the file fd from its mapping
    // when that pays: the count of runs copied whole, fewer when the mapping
    // faulted (the file shrank meanwhile), none when it does not pay or the
    // file cannot be mapped; `bytes` is set to their bytes. The rest is for
    // positioned reads.
    std::size_t read(int fd, ReadRun const* runs, std::size_t count, std::size_t& bytes);

private:
    uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_refused = false;
};

// Moves the runs as a store of total bytes that does not grow: those within
// it whole by move(runs, count), then the part of the next one that is
// (Error if it starts past the end, as for a single transfer).
template <class Byte, class Move>
std::size_t clampedRuns(ByteRun<Byte> const* runs, std::size_t count, std::size_t total, Move move)
{
    std::size_t whole = 0, bytes = 0;
    for (; whole < count; ++whole) {
        if (runs[whole].offset > total || runs[whole].size > total - runs[whole].offset)
            break;
        bytes += runs[whole].size;
    }
    std::size_t const moved = whole ? move(runs, whole) : 0;
    if (whole == count || moved != bytes)
        return moved;
    ByteRun<Byte> part = runs[whole];
    part.size = clampedCount(part.offset, part.size, total);
    return part.size ? moved + move(&part, 1) : moved;
}

// Whether the store's bytes lie in memory that the library or its caller
// owns, not in a file's mapping: a copy in memory of one is the store itself.
inline bool inOwnMemory(RandomAccess const& store)
{
    auto const* lineage = dynamic_cast<Lineage const*>(&store);
    return lineage && lineage->ownMemory() && store.support(RandomAccessCapability::MEMORY_ACCESS);
}

// A stream whose writes have reached their endpoint when write returns:
// nothing waits for its flush, which may do more (an upload's ends the
// request).
class WritesThrough
{
public:
    virtual ~WritesThrough() = default;
};

// What an encode does with the record it wrote: a stream that cannot seek
// (a pipe, a socket, a terminal) is flushed, so that a reader at the other
// end has the record when the encode returns (raising the stream's Error
// when it was refused); one that writes through has delivered it already;
// one that can seek keeps it as it keeps any write. Nothing is ended.
void deliverWritten(StreamAccess& stream);

// A stream's report of bytes refused as it goes (setUndeliveredHandler).
void reportUndelivered(Error const& error) noexcept;

// Whether a system call that a signal interrupted is made again: the
// interrupt handler's answer (setInterruptHandler), yes without one.
bool carryOn() noexcept;

// A stream that also moves bytes at any offset without moving its cursor: a
// store over it reads and writes with no seek. The runs are moved as
// RandomAccess::readRuns does; writes stop at the end (the stream does not
// grow), and an offset past the end raises Error.
class PositionedStream
{
public:
    virtual ~PositionedStream() = default;
    virtual std::size_t byteSize() = 0;
    virtual std::size_t readRunsAt(ReadRun const* runs, std::size_t count) = 0;
    virtual std::size_t writeRunsAt(WriteRun const* runs, std::size_t count) = 0;
};

} // namespace quelbo::detail
