// Reused memory for the module's heap objects (take_block, give_block).
#include <new>

#include "runtime/state.h"

namespace qw {

namespace {

using Blocks = Runtime::SpareBlocks;

// The list of blocks of `size` bytes, or -1 for a size that is not kept.
inline int list_of(std::size_t size)
{
    return size >= sizeof(void*) && size <= Blocks::kLargest && size % 4 == 0 ? int(size / 4 - 1) : -1;
}

inline void*& link_of(void* block)
{
    return *static_cast<void**>(block);
}

} // namespace

void* take_block(std::size_t size)
{
    Blocks& b = rt().spare_blocks;
    const int i = list_of(size);
    if (i < 0 || !b.first[i])
        return ::operator new(size);
    void* block = b.first[i];
    spare_serves(block, size);
    b.first[i] = link_of(block);
    --b.count[i];
    return block;
}

void give_block(void* block, std::size_t size)
{
    Blocks& b = rt().spare_blocks;
    const int i = list_of(size);
    if (i < 0 || b.count[i] >= Blocks::kPerSize) {
        ::operator delete(block);
        return;
    }
    link_of(block) = b.first[i];
    b.first[i] = block;
    ++b.count[i];
    spare_waits(block, size);
}

void Runtime::SpareBlocks::release()
{
    for (std::size_t i = 0; i < std::size(first); ++i) {
        [[maybe_unused]] const std::size_t size = (i + 1) * 4;
        while (void* block = first[i]) {
            spare_serves(block, size);
            first[i] = link_of(block);
            ::operator delete(block);
        }
        count[i] = 0;
    }
}

} // namespace qw
