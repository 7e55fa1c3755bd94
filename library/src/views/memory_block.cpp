// Memory blocks: owned, aligned and zeroed, or borrowed with a keeper.
#include "quelbo/memory_block.h"

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
    void* p = detail::allocateBlock(size, false, kAlignment);
    try {
        return std::make_shared<MemoryBlock>(Key(), static_cast<uint8_t*>(p), size, true, nullptr);
    } catch (...) {
        detail::releaseBlock(p, size);
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
        detail::releaseBlock(m_data, m_size);
}

bool MemoryBlock::contains(const void* first, size_t count) const
{
    const auto begin = reinterpret_cast<uintptr_t>(m_data);
    const auto p = reinterpret_cast<uintptr_t>(first);
    return p >= begin && p - begin <= m_size && count <= m_size - (p - begin);
}

} // namespace quelbo
