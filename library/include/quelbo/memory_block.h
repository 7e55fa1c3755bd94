// MemoryBlock: the bytes a view shows, and what keeps them alive.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "quelbo/export.h"

namespace quelbo {

// A span of bytes that views show, and what keeps it alive. A view that
// gives memory access hands out its current block (ImageView::memoryBlock);
// whoever keeps the block keeps the bytes valid, also after the view has
// moved to other memory (a reshape) or is gone.
class QUELBO_API MemoryBlock
{
public:
    // size bytes of new zeroed memory, aligned for every element type.
    // std::bad_alloc when the memory cannot be had.
    static std::shared_ptr<MemoryBlock> allocate(size_t size);
    // Memory owned elsewhere; keeper (possibly empty, when the owner keeps
    // the memory valid by other means) is held as long as the block lives.
    static std::shared_ptr<MemoryBlock> borrow(void* data, size_t size, std::shared_ptr<void> keeper);

    ~MemoryBlock();
    MemoryBlock(MemoryBlock const&) = delete;
    MemoryBlock& operator=(MemoryBlock const&) = delete;

    uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }
    // true when [first, first + count) lies within the block.
    bool contains(const void* first, size_t count) const;

private:
    // Blocks are made by the two makers above only, each in one allocation
    // with its shared count (the constructor is public for make_shared).
    struct Key
    {
        explicit Key() = default;
    };

public:
    MemoryBlock(Key, uint8_t* data, size_t size, bool owned, std::shared_ptr<void> keeper);

private:
    uint8_t* m_data;
    size_t m_size;
    bool m_owned;
    std::shared_ptr<void> m_keeper;
};

} // namespace quelbo
