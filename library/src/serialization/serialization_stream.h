// The pieces every record of the byte format shares (library/SERIALIZATION.md):
// the header, a buffered little-endian writer, and a reader that checks every
// count against what the stream holds before memory is reserved for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "quelbo/data_type.h"
#include "quelbo/error.h"
#include "quelbo/stream_access.h"
#include "values/large_block.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the byte format is little-endian, as is this machine");

namespace quelbo::serial {

enum class Kind : uint32_t
{
    VECTOR = 1,
    ARRAY = 2,
    MATRIX = 3,
    IMAGE_VIEW = 4,
    DATA_FRAME = 5,
};

// Most dimensions a shape may have in a record: decoders refuse more as they
// read the count, encoders before their first byte (checkWritableDimensions).
constexpr uint64_t kMaxDimensions = 64;

[[noreturn]] void fail(std::string const& message);

// Fails for a shape of more dimensions than a record of the kind holds.
void checkWritableDimensions(Kind kind, std::size_t count);

// The kind's name in messages ("a Vector", "an ImageView" ...).
char const* kindName(Kind kind);

// Buffers the small fields of a record and writes them with the blocks. The
// constructor checks the stream (present, WRITE); nothing reaches the stream
// before the first flush, so checks made until then leave it untouched.
class Writer
{
public:
    explicit Writer(std::shared_ptr<StreamAccess> const& stream);

    void header(Kind kind, DataType type);
    void u8(uint8_t v) { raw(&v, 1); }
    void u32(uint32_t v) { raw(&v, 4); }
    void i32(int32_t v) { raw(&v, 4); }
    void u64(uint64_t v) { raw(&v, 8); }
    void f64(double v) { raw(&v, 8); }
    void string(std::string const& s);
    void sync();
    // Small data goes to the buffer, large blocks straight to the stream.
    void raw(void const* data, std::size_t size);
    // Keeps everything in the buffer until the next flush, so that checks
    // made while a record's description is written still leave the stream
    // untouched.
    void hold() { m_hold = true; }
    void flush();
    // Ends a record: flushes, then hands the stream's own buffered bytes to
    // its endpoint, so that a record the stream cannot take fails here, with
    // the stream's reason, whatever its size.
    void end();

private:
    void put(void const* data, std::size_t size);

    StreamAccess& m_stream;
    std::string m_buffer;
    bool m_hold = false;
};

// Reads a record. Knows how many bytes are left when the stream can seek,
// and then refuses a block that is longer before allocating it.
class Reader
{
public:
    explicit Reader(std::shared_ptr<StreamAccess> const& stream);

    // Reads and checks the header: magic, version, kind; returns the data type.
    DataType header(Kind kind);
    template <class V>
    V get()
    {
        V v;
        raw(&v, sizeof v);
        return v;
    }
    uint8_t u8() { return get<uint8_t>(); }
    uint32_t u32() { return get<uint32_t>(); }
    int32_t i32() { return get<int32_t>(); }
    uint64_t u64() { return get<uint64_t>(); }
    double f64() { return get<double>(); }
    std::string string();
    void sync();
    // A count of items of itemSize bytes each, at most max: checked against
    // the bytes left when they are known.
    uint64_t count(uint64_t itemSize, uint64_t max, char const* what);
    // Fails unless size more bytes can still arrive (when that is known).
    void expect(uint64_t size) const
    {
        if (m_known)
            require(size);
    }
    // Exactly size bytes into dst.
    void raw(void* dst, std::size_t size);
    // size bytes into memory that alloc() gives; alloc runs only once the
    // bytes are known to be there (or have arrived).
    template <class Alloc>
    void block(std::size_t size, Alloc&& alloc)
    {
        if (m_known) {
            require(size);
            raw(alloc(), size);
            return;
        }
        detail::Bytes arrived;
        grow(arrived, size);
        detail::copyBytes(alloc(), arrived.data(), size);
    }

    // size bytes into out (empty), resized to hold them once they are known
    // to be there, or grown as they arrive.
    void bytes(detail::Bytes& out, std::size_t size)
    {
        if (m_known) {
            require(size);
            out.resize(size);
            raw(out.data(), size);
            return;
        }
        grow(out, size);
    }

private:
    void require(uint64_t size) const;
    void grow(detail::Bytes& out, std::size_t size);

    StreamAccess& m_stream;
    bool m_known = false;
    uint64_t m_left = 0;
};

} // namespace quelbo::serial
