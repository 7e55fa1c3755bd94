// Stores and streams over other accessors: a window of a store, a store over
// a seekable stream and a stream over a store. They move bytes by their
// source's own calls, whatever kind it is.

#include <algorithm>

#include "storage/access_detail.h"
#include "storage/lineage.h"
#include "quelbo/access_factory.h"
#include "util/in_turn.h"
#include "util/release.h"

namespace quelbo {

using detail::clampedCount;
using detail::need;
using detail::needInput;
using RCap = RandomAccessCapability;
using SCap = StreamAccessCapability;

namespace {

// Each adapter calls its source in turn (capability queries too), so a chain
// of them is bounded (util::kMostInTurn).
class Chained
{
protected:
    ~Chained() = default;
    // Counts this adapter over its source, refusing one past the bound.
    void chainOver(DataAccess const& source, char const* factory, char const* made)
    {
        auto const* below = dynamic_cast<Chained const*>(&source);
        m_depth = (below ? below->m_depth : 0) + 1;
        if (m_depth > util::kMostInTurn)
            throw Error(std::string(factory) + ": the " + made + " would pass its calls through more than " +
                        std::to_string(util::kMostInTurn) + " stores and streams in turn");
    }

private:
    std::size_t m_depth = 0;
};

// A window of another store; it never grows past the window.
class RegionStore : public RandomAccess, public detail::Lineage, public Chained
{
public:
    // A window of a window is a window of the store below: every call goes
    // there in one step, however long the chain. The window lies inside the
    // one it was made of, so what that one would clamp this one does.
    RegionStore(std::shared_ptr<RandomAccess> src, std::size_t offset, std::size_t size)
        : RandomAccess(src->storage(), src->resourceId()), m_src(std::move(src)), m_offset(offset), m_size(size)
    {
        if (auto* inner = dynamic_cast<RegionStore*>(m_src.get())) {
            m_offset += inner->m_offset;
            m_src = inner->m_src;
        }
        chainOver(*m_src, "extractRegion", "region");
    }
    ~RegionStore() override { util::release(m_src); }
    std::shared_ptr<DataAccess> adaptedAccess() const override { return m_src; }
    RandomAccessCapabilitySet capabilities() const override
    {
        RandomAccessCapabilitySet caps = m_src->capabilities();
        caps.remove(RCap::RESIZE);
        return caps;
    }
    // The bytes of the window the source still holds: fewer once it shrank.
    std::size_t size() const override
    {
        std::size_t const held = m_src->size();
        return held > m_offset ? std::min(m_size, held - m_offset) : 0;
    }
    std::size_t read(std::size_t offset, std::size_t size, uint8_t* dst) override
    {
        need(*this, RCap::READ, "read");
        std::size_t n = clampedCount(offset, size, this->size());
        return n ? m_src->read(m_offset + offset, n, dst) : 0;
    }
    std::size_t write(std::size_t offset, std::size_t size, const uint8_t* src) override
    {
        need(*this, RCap::WRITE, "write");
        std::size_t n = clampedCount(offset, size, this->size());
        return n ? m_src->write(m_offset + offset, n, src) : 0;
    }
    void resize(std::size_t) override { detail::missingCapability("region of a store", "resize"); }
    bool ownMemory() const override { return detail::inOwnMemory(*m_src); }
    uint8_t* data() override
    {
        // the source may have shrunk since the region was made
        uint8_t* base = m_src->data();
        return base && m_offset + m_size <= m_src->size() ? base + m_offset : nullptr;
    }

private:
    std::shared_ptr<RandomAccess> m_src;
    std::size_t m_offset, m_size;
};

// Reads (and writes, when the stream can) through a seekable stream: at an
// offset when the stream moves bytes at offsets, else by seeking it.
class StreamStore : public RandomAccess, public detail::Lineage, public Chained
{
public:
    explicit StreamStore(std::shared_ptr<StreamAccess> stream)
        : RandomAccess(stream->storage(), stream->resourceId()), m_stream(std::move(stream)),
          m_positioned(dynamic_cast<detail::PositionedStream*>(m_stream.get()))
    {
        // A file that says it is empty yet gives bytes at offset 0 has no
        // size a store could keep to.
        chainOver(*m_stream, "fromStream", "store");
        uint8_t first;
        ReadRun const probe{0, 1, &first};
        if (m_positioned && m_positioned->byteSize() == 0 && m_positioned->readRunsAt(&probe, 1))
            throw Error("fromStream: no store can be made over '" + resourceId() + "': " + detail::kNoSize);
    }
    ~StreamStore() override { util::release(m_stream); }
    std::shared_ptr<DataAccess> adaptedAccess() const override { return m_stream; }
    RandomAccessCapabilitySet capabilities() const override
    {
        RandomAccessCapabilitySet caps(RCap::READ);
        if (m_stream->capabilities().has(SCap::WRITE))
            caps.add(RCap::WRITE);
        return caps;
    }
    std::size_t size() const override
    {
        if (m_positioned)
            return m_positioned->byteSize();
        std::size_t here = m_stream->tell();
        m_stream->seek(0, SeekOrigin::END);
        std::size_t end = m_stream->tell();
        m_stream->seek(int64_t(here), SeekOrigin::BEGIN);
        return end;
    }
    std::size_t read(std::size_t offset, std::size_t size, uint8_t* dst) override
    {
        if (m_positioned) {
            ReadRun const run{offset, size, dst};
            return m_positioned->readRunsAt(&run, 1);
        }
        std::size_t n = clampedCount(offset, size, this->size());
        if (!n)
            return 0;
        m_stream->seek(int64_t(offset), SeekOrigin::BEGIN);
        std::size_t done = 0;
        while (done < n) {
            std::size_t got = m_stream->read(n - done, dst + done);
            if (!got)
                break;
            done += got;
        }
        return done;
    }
    std::size_t write(std::size_t offset, std::size_t size, const uint8_t* src) override
    {
        need(*this, RCap::WRITE, "write");
        if (m_positioned) {
            WriteRun const run{offset, size, src};
            return m_positioned->writeRunsAt(&run, 1);
        }
        std::size_t n = clampedCount(offset, size, this->size());
        if (!n)
            return 0;
        m_stream->seek(int64_t(offset), SeekOrigin::BEGIN);
        return m_stream->write(n, src);
    }
    std::size_t readRuns(ReadRun const* runs, std::size_t count) override
    {
        return m_positioned ? m_positioned->readRunsAt(runs, count) : RandomAccess::readRuns(runs, count);
    }
    std::size_t writeRuns(WriteRun const* runs, std::size_t count) override
    {
        need(*this, RCap::WRITE, "write");
        return m_positioned ? m_positioned->writeRunsAt(runs, count) : RandomAccess::writeRuns(runs, count);
    }
    void resize(std::size_t) override { detail::missingCapability("store over a stream", "resize"); }

private:
    std::shared_ptr<StreamAccess> m_stream;
    detail::PositionedStream* m_positioned;
};

// A cursor over a store: reads and writes as far as the store allows.
class StoreStream : public StreamAccess, public detail::PositionedStream, public detail::Lineage, public Chained
{
public:
    explicit StoreStream(std::shared_ptr<RandomAccess> store)
        : StreamAccess(store->storage(), store->resourceId()), m_store(std::move(store))
    {
        chainOver(*m_store, "fromRandomAccess", "stream");
    }
    ~StoreStream() override { util::release(m_store); }
    std::shared_ptr<DataAccess> adaptedAccess() const override { return m_store; }
    StreamAccessCapabilitySet capabilities() const override
    {
        StreamAccessCapabilitySet caps(SCap::SEEK);
        RandomAccessCapabilitySet const store = m_store->capabilities();
        if (store.has(RCap::READ))
            caps.add(SCap::READ);
        if (store.has(RCap::WRITE))
            caps.add(SCap::WRITE);
        return caps;
    }
    bool good() const override { return !eof() && !m_fail; }
    bool eof() const override { return m_pos >= m_store->size(); }
    bool fail() const override { return m_fail; }
    std::size_t read(std::size_t size, uint8_t* dst) override
    {
        need(*this, SCap::READ, "read");
        if (m_pos >= m_store->size())
            return 0;
        std::size_t n = m_store->read(m_pos, size, dst);
        m_pos += n;
        return n;
    }
    uint8_t peek() override
    {
        need(*this, SCap::READ, "peek");
        uint8_t b = 0;
        if (m_pos >= m_store->size() || m_store->read(m_pos, 1, &b) != 1)
            throw Error("peek: end of stream");
        return b;
    }
    std::size_t write(std::size_t size, const uint8_t* src) override
    {
        need(*this, SCap::WRITE, "write");
        if (!size)
            return 0;
        std::size_t wanted = checkedAdd(m_pos, size, "stream size");
        if (wanted > m_store->size() && m_store->support(RCap::RESIZE))
            m_store->resize(wanted); // a gap left by a seek past the end is zero
        std::size_t n = m_store->write(m_pos, size, src);
        m_pos += n;
        if (n < size)
            m_fail = true;
        return n;
    }
    void flush() override { need(*this, SCap::WRITE, "flush"); }
    std::size_t tell() override { return m_pos; }
    void seek(int64_t offset, SeekOrigin origin) override
    {
        m_pos = detail::seekTarget(m_pos, origin == SeekOrigin::END ? m_store->size() : 0, offset, origin);
    }
    std::size_t byteSize() override { return m_store->size(); }
    std::size_t readRunsAt(ReadRun const* runs, std::size_t count) override
    {
        need(*this, SCap::READ, "read");
        return m_store->readRuns(runs, count);
    }
    std::size_t writeRunsAt(WriteRun const* runs, std::size_t count) override
    {
        need(*this, SCap::WRITE, "write");
        return detail::clampedRuns(runs, count, m_store->size(),
                                   [this](WriteRun const* r, std::size_t c) { return m_store->writeRuns(r, c); });
    }

private:
    std::shared_ptr<RandomAccess> m_store;
    std::size_t m_pos = 0;
    bool m_fail = false;
};

} // namespace

std::shared_ptr<StreamAccess> StreamAccessFactory::fromRandomAccess(std::shared_ptr<RandomAccess> store)
{
    needInput(store, "fromRandomAccess");
    if (!store->support(RCap::READ) && !store->support(RCap::WRITE))
        throw Error("fromRandomAccess: the store can neither be read nor written");
    return std::make_shared<StoreStream>(std::move(store));
}

std::shared_ptr<RandomAccess> RandomAccessFactory::extractRegion(std::shared_ptr<RandomAccess> src, std::size_t offset)
{
    needInput(src, "extractRegion");
    std::size_t total = src->size();
    if (offset > total)
        detail::offsetPastEnd(offset, total);
    return std::make_shared<RegionStore>(std::move(src), offset, total - offset);
}

std::shared_ptr<RandomAccess> RandomAccessFactory::extractRegion(std::shared_ptr<RandomAccess> src, std::size_t offset,
                                                                 std::size_t size)
{
    needInput(src, "extractRegion");
    std::size_t total = src->size();
    if (offset > total || size > total - offset)
        throw Error("extractRegion: region [" + std::to_string(offset) + ", +" + std::to_string(size) +
                    ") outside the store (size " + std::to_string(total) + ")");
    return std::make_shared<RegionStore>(std::move(src), offset, size);
}

std::shared_ptr<RandomAccess> RandomAccessFactory::fromStream(std::shared_ptr<StreamAccess> stream)
{
    needInput(stream, "fromStream");
    if (!stream->support(StreamAccessCapabilitySet(SCap::READ) | SCap::SEEK))
        throw Error("fromStream: the stream must support reading and seeking");
    return std::make_shared<StreamStore>(std::move(stream));
}

} // namespace quelbo
