// Building blocks shared by the storage kinds (private to the library).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "quelbo/error.h"
#include "quelbo/stream_access.h"

namespace quelbo::detail {

// Growable bytes on malloc/realloc: a size the system cannot serve throws
// std::bad_alloc instead of ending the process; new bytes are zero.
class Bytes
{
public:
    Bytes() = default;
    explicit Bytes(std::size_t size) { resize(size); }
    Bytes(Bytes const&) = delete;
    Bytes& operator=(Bytes const&) = delete;
    ~Bytes() { std::free(m_data); }

    uint8_t* data() { return m_data; }
    const uint8_t* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    void reserve(std::size_t capacity);
    void resize(std::size_t size);

private:
    uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

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

// Error for an offset past the end of a store of the given size.
[[noreturn]] void offsetPastEnd(std::size_t offset, std::size_t size);

// The count a transfer of size bytes at offset may move within total bytes.
std::size_t clampedCount(std::size_t offset, std::size_t size, std::size_t total);

// Copies size bytes where dst or src lies in a file mapping (overlap
// allowed). False when the mapping faulted on the way (the file shrank, or
// its file system could not provide a page): the bytes may then be copied
// in part. The bus error never reaches the process.
bool mappedCopy(void* dst, const void* src, std::size_t size) noexcept;

} // namespace quelbo::detail
