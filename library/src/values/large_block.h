// Every buffer that scales with the data comes from here. Blocks from
// kLargeBlock on are mapped on their own, aligned for and advised to use huge
// pages: filling them costs far fewer page faults, a fresh mapping is zero
// without a pass that zeroes it, and growing or shrinking one moves its page
// tables, never its bytes. Smaller blocks stay on the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "quelbo/export.h"

namespace quelbo::detail {

// Blocks from this size on are worth mapping on their own.
constexpr std::size_t kLargeBlock = std::size_t(4) << 20;

// A fixed block of bytes: zero-filled, or (`filled` by the caller, every
// byte) left as it comes, which for a mapped one may be a block given back
// before, with its old bytes; never null, even for 0 bytes. Heap blocks are
// aligned to `alignment` (a power of two), mapped ones to 2 MiB.
// std::bad_alloc when it cannot be had. releaseBlock takes the block back,
// given the same size.
void* allocateBlock(std::size_t bytes, bool filled = false, std::size_t alignment = alignof(std::max_align_t));
void releaseBlock(void* block, std::size_t bytes) noexcept;

// memcpy and memmove for a count that may be 0, where a pointer may then be
// null (empty Bytes and vectors have none): nothing is touched for 0 bytes.
inline void copyBytes(void* dst, const void* src, std::size_t size)
{
    if (size)
        std::memcpy(dst, src, size);
}
inline void moveBytes(void* dst, const void* src, std::size_t size)
{
    if (size)
        std::memmove(dst, src, size);
}

// allocateBlock's block, given back when the pointer's last owner is gone
// (exported: the GPU companion stages its transfers in such blocks).
QUELBO_API std::shared_ptr<unsigned char> sharedBlock(std::size_t bytes, bool filled = false);

// Growable bytes: on the heap while small, a mapping of their own once
// large, which grows and shrinks in place (the bytes keep their pages, though
// the address may change). New bytes are zero, a shrunk block gives its pages
// back, and a size the system cannot serve throws std::bad_alloc with the
// bytes left as they were.
class Bytes
{
public:
    Bytes() = default;
    explicit Bytes(std::size_t size) { resize(size); }
    Bytes(Bytes&& other) noexcept { swap(other); }
    Bytes& operator=(Bytes&& other) noexcept
    {
        Bytes gone(std::move(*this));
        swap(other);
        return *this;
    }
    ~Bytes();

    uint8_t* data() { return m_data; }
    const uint8_t* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    // Room for capacity bytes without moving them again.
    void reserve(std::size_t capacity);
    void resize(std::size_t size);
    // count zero bytes inserted at offset (at most size()), the bytes after
    // it moved up; count bytes from offset erased, those after moved down.
    void insert(std::size_t offset, std::size_t count);
    void erase(std::size_t offset, std::size_t count);

private:
    void swap(Bytes& other) noexcept;
    bool mapped() const { return m_capacity >= kLargeBlock; }

    // Large blocks hold zero bytes past m_size, up to m_capacity; heap
    // blocks zero theirs when they grow into them.
    uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

} // namespace quelbo::detail
