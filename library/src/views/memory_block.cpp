// Memory blocks: owned, aligned and zeroed, or borrowed with a keeper.
#include "quelbo/memory_block.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "values/large_block.h"

namespace quelbo {

namespace {
constexpr size_t kAlignment = 64;
}

MemoryBlock::MemoryBlock(Key, uint8_t* data, size_t size, bool owned, std::shared_ptr<void> keeper)
    : m_data(data), m_size(size), m_owned(owned), m_keeper(std::move(keeper))
{}

std::shared_ptr<MemoryBlock> MemoryBlock::allocate(size_t size)
{
    // Large blocks come zeroed from their own mapping, which the block keeps.
    if (size >= detail::kLargeBlock) {
        std::shared_ptr<unsigned char> mapping = detail::allocateLargeBlock(size);
        unsigned char* data = mapping.get();
        return std::make_shared<MemoryBlock>(Key(), data, size, false, std::move(mapping));
    }
    // aligned_alloc wants a multiple of the alignment
    const size_t rounded = size > ~size_t(0) - kAlignment ? 0 : (size + kAlignment - 1) / kAlignment * kAlignment;
    if (size != 0 && rounded == 0)
        throw std::bad_alloc();
    void* p = std::aligned_alloc(kAlignment, rounded == 0 ? kAlignment : rounded);
    if (!p)
        throw std::bad_alloc();
    std::memset(p, 0, rounded == 0 ? kAlignment : rounded);
    try {
        return std::make_shared<MemoryBlock>(Key(), static_cast<uint8_t*>(p), size, true, nullptr);
    } catch (...) {
        std::free(p);
        throw;
    }
}

std::shared_ptr<MemoryBlock> MemoryBlock::borrow(void* data, size_t size, std::shared_ptr<void> keeper)
{
    return std::make_shared<MemoryBlock>(Key(), static_cast<uint8_t*>(data), size, false, std::move(keeper));
}

MemoryBlock::~MemoryBlock()
{
    if (m_owned)
        std::free(m_data);
}

bool MemoryBlock::contains(const void* first, size_t count) const
{
    const auto begin = reinterpret_cast<uintptr_t>(m_data);
    const auto p = reinterpret_cast<uintptr_t>(first);
    return p >= begin && p - begin <= m_size && count <= m_size - (p - begin);
}

} // namespace quelbo
