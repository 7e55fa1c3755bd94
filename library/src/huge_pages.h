// Large blocks of memory backed by huge pages where the system allows it:
// filling a block then costs one page fault per 2 MiB instead of per 4 KiB.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sys/mman.h>

namespace quelbo::detail {

// Asks for huge pages over the whole 2 MiB pages inside [p, p + size) of a
// block no byte of which has been touched yet; a hint, silently ignored
// where huge pages are off.
inline void adviseHugePages(void* p, std::size_t size)
{
    constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
    if (size < 2 * kHuge)
        return;
    std::uintptr_t const begin = (reinterpret_cast<std::uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
    std::uintptr_t const end = (reinterpret_cast<std::uintptr_t>(p) + size) & ~(kHuge - 1);
#ifdef MADV_HUGEPAGE
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

} // namespace quelbo::detail
