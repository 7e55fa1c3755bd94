// Stores and streams in memory and stores over lent memory.
#include <algorithm>
#include <cstring>

#include "storage/access_detail.h"
#include "storage/lineage.h"
#include "quelbo/access_factory.h"

namespace quelbo {

using detail::clampedCount;
using RCap = RandomAccessCapability;
using SCap = StreamAccessCapability;

namespace {

// Read and write between a block of memory and a caller's buffer, which may
// be the same memory (a store over a buffer read into that buffer).
std::size_t copyOut(const uint8_t* base, std::size_t total, std::size_t offset, std::size_t size, uint8_t* dst)
{
    std::size_t n = clampedCount(offset, size, total);
    if (n)
        std::memmove(dst, base + offset, n);
    return n;
}

std::size_t copyIn(uint8_t* base, std::size_t total, std::size_t offset, std::size_t size, const uint8_t* src)
{
    std::size_t n = clampedCount(offset, size, total);
    if (n)
        std::memmove(base + offset, src, n);
    return n;
}

// ------------------------------------------------------------------ stores

class MemoryStore : public RandomAccess, public detail::Lineage
{
public:
    explicit MemoryStore(std::size_t size) : m_bytes(size) {}
    bool ownMemory() const override { return true; }
    RandomAccessCapabilitySet capabilities() const override
    {
        return RandomAccessCapabilitySet(RCap::READ) | RCap::WRITE | RCap::RESIZE | RCap::MEMORY_ACCESS;
    }
    std::size_t size() const override { return m_bytes.size(); }
    std::size_t read(std::size_t offset, std::size_t size, uint8_t* dst) override
    {
        return copyOut(m_bytes.data(), m_bytes.size(), offset, size, dst);
    }
    std::size_t write(std::size_t offset, std::size_t size, const uint8_t* src) override
    {
        return copyIn(m_bytes.data(), m_bytes.size(), offset, size, src);
    }
    void resize(std::size_t newSize) override { m_bytes.resize(newSize); }
    uint8_t* data() override { return m_bytes.data(); }
    detail::Bytes& bytes() { return m_bytes; }

private:
    detail::Bytes m_bytes;
};

// Lent memory: fixed size, the keeper held for as long as the store lives
// (streams, regions and views over the store hold the store).
class BufferStore : public RandomAccess, public detail::Lineage
{
public:
    explicit BufferStore(BorrowedMemory memory) : m_memory(std::move(memory))
    {
        if (!m_memory.data && m_memory.size)
            throw InvalidArgument("fromBuffer: null buffer of non-zero size");
    }
    bool lentMemory() const override { return true; }
    bool ownMemory() const override { return true; }
    RandomAccessCapabilitySet capabilities() const override
    {
        return RandomAccessCapabilitySet(RCap::READ) | RCap::WRITE | RCap::MEMORY_ACCESS;
    }
    std::size_t size() const override { return m_memory.size; }
    std::size_t read(std::size_t offset, std::size_t size, uint8_t* dst) override
    {
        return copyOut(m_memory.data, m_memory.size, offset, size, dst);
    }
    std::size_t write(std::size_t offset, std::size_t size, const uint8_t* src) override
    {
        return copyIn(m_memory.data, m_memory.size, offset, size, src);
    }
    void resize(std::size_t) override { detail::missingCapability("store over a buffer", "resize"); }
    uint8_t* data() override { return m_memory.data; }

private:
    BorrowedMemory m_memory;
};

// ----------------------------------------------------------------- streams

class MemoryStream : public StreamAccess
{
public:
    explicit MemoryStream(std::size_t reserve) { m_bytes.reserve(reserve); }
    StreamAccessCapabilitySet capabilities() const override
    {
        return StreamAccessCapabilitySet(SCap::READ) | SCap::WRITE | SCap::SEEK | SCap::MEMORY_ACCESS;
    }
    bool good() const override { return !eof(); }
    bool eof() const override { return m_pos >= m_bytes.size(); }
    bool fail() const override { return false; }
    std::size_t read(std::size_t size, uint8_t* dst) override
    {
        if (m_pos >= m_bytes.size())
            return 0;
        std::size_t n = copyOut(m_bytes.data(), m_bytes.size(), m_pos, size, dst);
        m_pos += n;
        return n;
    }
    uint8_t peek() override
    {
        if (eof())
            throw Error("peek: end of stream");
        return m_bytes.data()[m_pos];
    }
    std::size_t write(std::size_t size, const uint8_t* src) override
    {
        if (!size)
            return 0;
        std::size_t end = checkedAdd(m_pos, size, "memory stream size");
        if (end > m_bytes.size())
            m_bytes.resize(end); // a gap left by a seek past the end is zero
        std::memcpy(m_bytes.data() + m_pos, src, size);
        m_pos = end;
        return size;
    }
    void flush() override {}
    std::size_t tell() override { return m_pos; }
    void seek(int64_t offset, SeekOrigin origin) override
    {
        m_pos = detail::seekTarget(m_pos, m_bytes.size(), offset, origin);
    }

    detail::Bytes& bytes() { return m_bytes; }
    void place(std::size_t pos) { m_pos = pos; }

private:
    detail::Bytes m_bytes;
    std::size_t m_pos = 0;
};

// Copies a source of an announced size: the copy grows only as bytes really
// arrive, so a source announcing more than it has allocates nothing for it.
// A store ends at its size; a stream ends where its reads do, whatever size
// it announced (a file of /proc says 0).
enum class End
{
    announced,
    lastRead,
};
template <class Read>
void loadAll(detail::Bytes& into, std::size_t announced, End end, Read read)
{
    constexpr std::size_t kFirstStep = std::size_t(1) << 20, kLargestStep = std::size_t(64) << 20;
    std::size_t done = 0, step = kFirstStep;
    for (;;) {
        std::size_t const n = done < announced ? std::min(step, announced - done)
                              : end == End::lastRead ? kFirstStep
                                                     : 0;
        if (!n)
            break;
        into.resize(done + n);
        std::size_t got = read(done, n, into.data() + done);
        if (!got)
            break;
        done += got;
        step = std::min(step * 2, kLargestStep);
    }
    into.resize(done);
    if (end == End::announced && done < announced)
        throw Error("copyInMemory: the source ended before its announced size");
}

} // namespace

// ------------------------------------------------------------ factories

std::shared_ptr<StreamAccess> StreamAccessFactory::allocate(std::size_t size)
{
    return std::make_shared<MemoryStream>(size);
}

std::shared_ptr<StreamAccess> StreamAccessFactory::copyInMemory(std::shared_ptr<StreamAccess> stream)
{
    detail::needInput(stream, "copyInMemory");
    if (!stream->support(StreamAccessCapabilitySet(SCap::READ) | SCap::SEEK))
        throw Error("copyInMemory: the stream must support reading and seeking");
    std::size_t here = stream->tell();
    stream->seek(0, SeekOrigin::END);
    std::size_t end = stream->tell();
    auto copy = std::make_shared<MemoryStream>(0);
    stream->seek(0, SeekOrigin::BEGIN);
    loadAll(copy->bytes(), end, End::lastRead,
            [&](std::size_t, std::size_t n, uint8_t* dst) { return stream->read(n, dst); });
    stream->seek(int64_t(here), SeekOrigin::BEGIN);
    copy->place(here);
    return copy;
}

std::shared_ptr<RandomAccess> RandomAccessFactory::allocate(std::size_t size)
{
    return std::make_shared<MemoryStore>(size);
}

std::shared_ptr<RandomAccess> RandomAccessFactory::copyInMemory(std::shared_ptr<RandomAccess> store)
{
    detail::needInput(store, "copyInMemory");
    // A file's mapping is no memory of its own: the copy is what lets the
    // file change or go.
    if (detail::inOwnMemory(*store))
        return store;
    detail::need(*store, RCap::READ, "read");
    auto copy = std::make_shared<MemoryStore>(0);
    loadAll(copy->bytes(), store->size(), End::announced,
            [&](std::size_t at, std::size_t n, uint8_t* dst) { return store->read(at, n, dst); });
    return copy;
}

std::shared_ptr<RandomAccess> RandomAccessFactory::fromBuffer(BorrowedMemory memory)
{
    return std::make_shared<BufferStore>(std::move(memory));
}

std::shared_ptr<RandomAccess> RandomAccessFactory::fromBuffer(uint8_t* buffer, std::size_t size)
{
    return fromBuffer(BorrowedMemory{buffer, size, {}});
}

} // namespace quelbo
