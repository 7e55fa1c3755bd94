// The accessor bases, their text forms and the shared building blocks.
#include <atomic>
#include <sstream>

#include "storage/access_detail.h"
#include "quelbo/logger.h"
#include "quelbo/random_access.h"
#include "quelbo/stream_access.h"

namespace quelbo {

DataStorage::~DataStorage() = default;

DataAccess::DataAccess(std::shared_ptr<DataStorage> storage, std::string resourceId)
    : m_storage(std::move(storage)), m_resourceId(std::move(resourceId))
{}

DataAccess::~DataAccess() = default;

std::shared_ptr<DataStorage> DataAccess::storage() const
{
    return m_storage;
}

std::string const& DataAccess::resourceId() const
{
    return m_resourceId;
}

namespace {

template <class E>
std::string capabilityText(FlagSet<E> caps, std::initializer_list<std::pair<E, char const*>> names)
{
    std::string out;
    for (auto const& n : names) {
        if (caps.has(FlagSet<E>(n.first))) {
            if (!out.empty())
                out += "|";
            out += n.second;
        }
    }
    return out.empty() ? "NONE" : out;
}

} // namespace

std::string StreamAccess::toString() const
{
    using C = StreamAccessCapability;
    std::ostringstream s;
    s << "StreamAccess(resource='" << resourceId() << "', capabilities="
      << capabilityText(
             capabilities(),
             {{C::READ, "READ"}, {C::WRITE, "WRITE"}, {C::SEEK, "SEEK"}, {C::MEMORY_ACCESS, "MEMORY_ACCESS"}})
      << ")";
    return s.str();
}

namespace {

// Moves runs one call each, up to the first that moves short.
template <class Byte, class Move>
std::size_t oneByOne(ByteRun<Byte> const* runs, std::size_t count, Move move)
{
    std::size_t moved = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t const n = move(runs[i]);
        moved += n;
        if (n != runs[i].size)
            break;
    }
    return moved;
}

} // namespace

std::size_t RandomAccess::readRuns(ReadRun const* runs, std::size_t count)
{
    return oneByOne(runs, count, [this](ReadRun const& r) { return read(r.offset, r.size, r.data); });
}

std::size_t RandomAccess::writeRuns(WriteRun const* runs, std::size_t count)
{
    return oneByOne(runs, count, [this](WriteRun const& r) { return write(r.offset, r.size, r.data); });
}

std::string RandomAccess::toString() const
{
    using C = RandomAccessCapability;
    std::ostringstream s;
    s << "RandomAccess(resource='" << resourceId() << "', size=" << size() << ", capabilities="
      << capabilityText(
             capabilities(),
             {{C::READ, "READ"}, {C::WRITE, "WRITE"}, {C::RESIZE, "RESIZE"}, {C::MEMORY_ACCESS, "MEMORY_ACCESS"}})
      << ")";
    return s.str();
}

namespace {

std::atomic<UndeliveredHandler> g_undelivered{nullptr};
std::atomic<InterruptHandler> g_interrupt{nullptr};

} // namespace

UndeliveredHandler setUndeliveredHandler(UndeliveredHandler handler)
{
    return g_undelivered.exchange(handler);
}

InterruptHandler setInterruptHandler(InterruptHandler handler)
{
    return g_interrupt.exchange(handler);
}

namespace detail {

bool carryOn() noexcept
{
    InterruptHandler const handler = g_interrupt.load();
    return !handler || handler();
}

void reportUndelivered(Error const& error) noexcept
{
    Logger::log(LOG_ERR, error.what());
    if (UndeliveredHandler const handler = g_undelivered.load())
        handler(error);
}

std::size_t seekTarget(std::size_t current, std::size_t end, int64_t offset, SeekOrigin origin)
{
    std::size_t base;
    switch (origin) {
    case SeekOrigin::BEGIN:
        base = 0;
        break;
    case SeekOrigin::CURRENT:
        base = current;
        break;
    case SeekOrigin::END:
        base = end;
        break;
    default:
        throw InvalidArgument("seek: unknown origin " + std::to_string(int32_t(origin)));
    }
    if (offset < 0) {
        uint64_t back = uint64_t(-(offset + 1)) + 1;
        if (back > base)
            throw Error("seek: position before the beginning of the stream");
        return base - back;
    }
    if (uint64_t(offset) > SIZE_MAX - base)
        throw Error("seek: position out of range");
    return base + std::size_t(offset);
}

void missingCapability(std::string const& kind, char const* operation)
{
    throw Error("the " + kind + " does not support " + operation);
}

void offsetPastEnd(std::size_t offset, std::size_t size)
{
    throw Error("offset " + std::to_string(offset) + " is past the end of the store (size " + std::to_string(size) +
                ")");
}

std::size_t clampedCount(std::size_t offset, std::size_t size, std::size_t total)
{
    if (offset > total)
        offsetPastEnd(offset, total);
    std::size_t left = total - offset;
    return size < left ? size : left;
}

void deliverWritten(StreamAccess& stream)
{
    if (!stream.support(StreamAccessCapability::SEEK) && !dynamic_cast<WritesThrough*>(&stream))
        stream.flush();
}

} // namespace detail
} // namespace quelbo
