// Large zero-filled blocks, mapped and aligned for huge pages.
#include "values/large_block.h"

#include <cstdint>
#include <limits>
#include <new>

#include <sys/mman.h>

namespace quelbo::detail {

namespace {
constexpr std::size_t kHugePage = std::size_t(2) << 20;
}

std::shared_ptr<unsigned char> allocateLargeBlock(std::size_t bytes)
{
    if (bytes > std::numeric_limits<std::size_t>::max() - 2 * kHugePage)
        throw std::bad_alloc();
    const std::size_t length = bytes + kHugePage;
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(p) + kHugePage - 1) & ~(kHugePage - 1);
    auto* elements = reinterpret_cast<unsigned char*>(start);
    madvise(elements, bytes, MADV_HUGEPAGE); // advice only: failure changes nothing
    try {
        return std::shared_ptr<unsigned char>(elements, [p, length](unsigned char*) { munmap(p, length); });
    } catch (...) {
        munmap(p, length);
        throw;
    }
}

} // namespace quelbo::detail
