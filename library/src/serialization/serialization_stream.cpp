// The record header, the buffered writer and the checking reader of the byte format.
#include "serialization/serialization_stream.h"

#include <algorithm>

#include "quelbo/version.h"
#include "storage/access_detail.h"

namespace quelbo::serial {

namespace {

constexpr uint8_t kMagic[4] = {'Q', 'L', 'B', 'O'};
constexpr uint8_t kSync[4] = {'S', 'Y', 'N', 'C'};
// Fields smaller than this are gathered before they reach the stream.
constexpr std::size_t kDirect = 64 * 1024;
// First step of a block read from a stream that cannot tell its length.
constexpr std::size_t kFirstStep = 1 << 20;

StreamAccess& checked(std::shared_ptr<StreamAccess> const& stream, StreamAccessCapability need, char const* what)
{
    if (!stream)
        fail("no stream given");
    if (!stream->support(need))
        fail(std::string("the stream has no ") + what + " capability");
    return *stream;
}

} // namespace

void fail(std::string const& message)
{
    throw Error("Serialization: " + message);
}

char const* kindName(Kind kind)
{
    switch (kind) {
    case Kind::VECTOR:
        return "a Vector";
    case Kind::ARRAY:
        return "an ArrayX";
    case Kind::MATRIX:
        return "a Matrix";
    case Kind::IMAGE_VIEW:
        return "an ImageView";
    case Kind::DATA_FRAME:
        return "a DataFrameView";
    }
    return "an unknown object";
}

void checkWritableDimensions(Kind kind, std::size_t count)
{
    if (count > kMaxDimensions)
        fail(std::string(kindName(kind)) + " of " + std::to_string(count) + " dimensions cannot be written");
}

// ------------------------------------------------------------------ Writer

Writer::Writer(std::shared_ptr<StreamAccess> const& stream)
    : m_stream(checked(stream, StreamAccessCapability::WRITE, "WRITE"))
{}

void Writer::header(Kind kind, DataType type)
{
    VersionInfo const v = Versioning::version();
    raw(kMagic, 4);
    u32(uint32_t(v.major));
    u32(uint32_t(v.minor));
    u32(uint32_t(v.patch));
    u32(uint32_t(kind));
    u64(type.id());
}

void Writer::string(std::string const& s)
{
    u64(s.size());
    raw(s.data(), s.size());
}

void Writer::sync()
{
    raw(kSync, 4);
}

void Writer::raw(void const* data, std::size_t size)
{
    if (size < kDirect || m_hold) {
        m_buffer.append(static_cast<char const*>(data), size);
        if (m_buffer.size() >= kDirect && !m_hold)
            flush();
        return;
    }
    flush();
    put(data, size);
}

void Writer::flush()
{
    m_hold = false;
    if (m_buffer.empty())
        return;
    put(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
}

void Writer::end()
{
    flush();
    detail::deliverWritten(m_stream);
}

void Writer::put(void const* data, std::size_t size)
{
    std::size_t const written = m_stream.write(size, static_cast<uint8_t const*>(data));
    if (written != size)
        fail("the stream took " + std::to_string(written) + " of " + std::to_string(size) + " bytes");
}

// ------------------------------------------------------------------ Reader

Reader::Reader(std::shared_ptr<StreamAccess> const& stream)
    : m_stream(checked(stream, StreamAccessCapability::READ, "READ"))
{
    if (m_stream.support(StreamAccessCapability::SEEK)) {
        // A stream that knows its size is asked, not sought: a seek to the
        // end and back would drop what it read ahead.
        std::size_t const here = m_stream.tell();
        std::size_t end;
        if (auto* sized = dynamic_cast<detail::PositionedStream*>(&m_stream)) {
            end = sized->byteSize();
        } else {
            m_stream.seek(0, SeekOrigin::END);
            end = m_stream.tell();
            m_stream.seek(int64_t(here), SeekOrigin::BEGIN);
        }
        m_known = true;
        m_left = end > here ? end - here : 0;
    }
}

DataType Reader::header(Kind kind)
{
    uint8_t magic[4];
    raw(magic, 4);
    if (std::memcmp(magic, kMagic, 4) != 0)
        fail("invalid magic number");
    uint32_t const major = u32();
    uint32_t const minor = u32();
    // The patch plays no part in compatibility: any is read.
    uint32_t const patch = u32();
    VersionInfo v;
    v.major = int(major);
    v.minor = int(minor);
    if (major > INT32_MAX || minor > INT32_MAX || !Versioning::checkCompatibility(v))
        fail("version " + std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch) +
             " read from stream is not compatible with library version " + Versioning::versionString());
    uint32_t const found = u32();
    if (found != uint32_t(kind))
        fail(std::string("object to decode is not ") + kindName(kind) + " (found " + kindName(Kind(found)) + ")");
    return DataType(u64());
}

std::string Reader::string()
{
    uint64_t const n = count(1, ~uint64_t(0), "string length");
    std::string s;
    block(std::size_t(n), [&] {
        s.resize(std::size_t(n));
        return &s[0];
    });
    return s;
}

void Reader::sync()
{
    uint8_t tag[4];
    raw(tag, 4);
    if (std::memcmp(tag, kSync, 4) != 0)
        fail("decoding issue (synchronization tag not found)");
}

uint64_t Reader::count(uint64_t itemSize, uint64_t max, char const* what)
{
    uint64_t const n = u64();
    if (n > max)
        fail(std::string(what) + " " + std::to_string(n) + " is above its limit " + std::to_string(max));
    if (itemSize != 0 && n > ~uint64_t(0) / itemSize)
        fail(std::string(what) + " " + std::to_string(n) + " overflows");
    if (n * itemSize > uint64_t(PTRDIFF_MAX))
        fail(std::string(what) + " " + std::to_string(n) + " is larger than memory");
    if (m_known)
        require(n * itemSize);
    return n;
}

void Reader::require(uint64_t size) const
{
    if (size > m_left)
        fail("truncated stream: " + std::to_string(size) + " bytes needed, " + std::to_string(m_left) + " left");
}

void Reader::raw(void* dst, std::size_t size)
{
    if (m_known)
        require(size);
    std::size_t const got = size == 0 ? 0 : m_stream.read(size, static_cast<uint8_t*>(dst));
    if (m_known)
        m_left -= got;
    if (got != size)
        fail("truncated stream: " + std::to_string(size) + " bytes expected, " + std::to_string(got) + " read");
}

void Reader::grow(detail::Bytes& out, std::size_t size)
{
    std::size_t step = kFirstStep;
    while (out.size() < size) {
        std::size_t const done = out.size();
        std::size_t const next = std::min(size - done, step);
        out.resize(done + next);
        raw(out.data() + done, next);
        step = std::min(step * 2, std::size_t(1) << 30);
    }
}

} // namespace quelbo::serial
