// Bounded tiles of a region, for derived views that move their source
// through a scratch of their own (private to the library).
#pragma once
#include <algorithm>
#include <cstdint>

#include "quelbo/region.h"
#include "quelbo/vector.h"

namespace quelbo::derived {

// Calls f(tile, offset) for boxes covering `region` in the order of its dense
// buffer (first axis fastest): each tile is the part of that buffer from
// sample `offset` on, of at most `budget` samples (and at least one row of
// one sample).
template <class F>
void forEachTile(RegionXu64 const& region, uint64_t budget, F&& f)
{
    VectorXu64 const& size = region.size();
    size_t const n = size.size();
    if (region.elementCount() == 0)
        return;
    budget = std::max<uint64_t>(budget, 1);
    // The axes below k are whole in every tile; axis k is cut in slabs.
    size_t k = 0;
    uint64_t inner = 1;
    while (k < n && size.data()[k] <= budget / inner)
        inner *= size.data()[k++];
    if (k == n) {
        f(region, uint64_t(0));
        return;
    }
    uint64_t const slab = std::max<uint64_t>(budget / inner, 1);
    VectorXu64 origin = region.origin(), extent = size;
    for (size_t j = k + 1; j < n; ++j)
        extent.data()[j] = 1;
    uint64_t offset = 0;
    for (;;) {
        for (uint64_t a = 0; a < size.data()[k]; a += slab) {
            origin.data()[k] = region.origin().data()[k] + a;
            extent.data()[k] = std::min(slab, size.data()[k] - a);
            f(RegionXu64(origin, extent), offset);
            offset += inner * extent.data()[k];
        }
        // The next position on the axes above k.
        size_t j = k + 1;
        for (; j < n; ++j) {
            uint64_t& at = origin.data()[j];
            if (++at < region.origin().data()[j] + size.data()[j])
                break;
            at = region.origin().data()[j];
        }
        if (j == n)
            return;
    }
}

} // namespace quelbo::derived
