// Bounded chunks of a region, and the dense layout of a box in an order of
// its dimensions (private to the library and its GPU companion). Every
// transfer that passes a region through a scratch, or cuts it to bound what
// one call moves, walks it with forEachChunk; the runs inside a chunk are
// BoxRuns' walk.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "quelbo/region.h"
#include "quelbo/vector.h"

namespace quelbo::detail {

// The most bytes a chunk passes through a scratch or moves in one call: about
// a core's cache, so that a scratch is still there for the step that empties
// it, and large enough that a call costs little beside its bytes (a copy on
// disk then writes whole pieces of its temporary file, one call each). A
// caller measures a chunk by what its scratch holds: the bytes of its
// samples, or of what they reach in a source.
constexpr std::size_t kChunkBytes = std::size_t(1) << 20;

// The samples of kChunkBytes, for samples of `bytes` bytes (at least one).
inline uint64_t chunkSamples(std::size_t bytes)
{
    return std::max<uint64_t>(1, kChunkBytes / std::max<std::size_t>(bytes, 1));
}

// The identity order of n dimensions (first fastest).
inline VectorXu64 identityOrder(std::size_t n)
{
    VectorXu64 order(n);
    for (std::size_t i = 0; i < n; ++i)
        order.data()[i] = i;
    return order;
}

// Dense byte strides of a box whose dimensions lie in `order` (order[k] is
// the k-th fastest), and in the default layout (first fastest).
inline VectorXu64 denseStrides(VectorXu64 const& size, std::size_t unitBytes, VectorXu64 const& order)
{
    VectorXu64 strides(size.size());
    uint64_t s = unitBytes;
    for (std::size_t k = 0; k < size.size(); ++k) {
        std::size_t const d = std::size_t(order.data()[k]);
        strides.data()[d] = s;
        s *= size.data()[d];
    }
    return strides;
}
inline VectorXu64 denseStrides(VectorXu64 const& size, std::size_t unitBytes)
{
    return denseStrides(size, unitBytes, identityOrder(size.size()));
}

// Calls f(chunk, offset) for regions covering `region` once, in the order of
// its dense buffer laid out in `order` (order[k] the k-th fastest dimension):
// each chunk is the part of that buffer from sample `offset` on, of at most
// `budget` samples (and at least one sample). The dimensions faster than
// some dimension are whole in every chunk, that one is cut in slabs, and
// each slower one holds one index.
template <class F>
void forEachChunk(RegionXu64 const& region, VectorXu64 const& order, uint64_t budget, F&& f)
{
    if (region.elementCount() == 0)
        return;
    uint64_t const* size = region.size().data();
    uint64_t const* first = region.origin().data();
    uint64_t const* o = order.data();
    std::size_t const n = region.dimensionCount();
    budget = std::max<uint64_t>(budget, 1);
    // The dimensions before position k are whole; dimension o[k] is cut.
    std::size_t k = 0;
    uint64_t inner = 1;
    while (k < n && size[o[k]] <= budget / inner)
        inner *= size[o[k++]];
    if (k == n)
        return void(f(region, uint64_t(0)));
    std::size_t const cut = std::size_t(o[k]);
    uint64_t const slab = std::max<uint64_t>(budget / inner, 1);
    VectorXu64 origin = region.origin(), extent = region.size();
    for (std::size_t j = k + 1; j < n; ++j)
        extent.data()[o[j]] = 1;
    uint64_t offset = 0;
    for (;;) {
        for (uint64_t a = 0; a < size[cut]; a += slab) {
            origin.data()[cut] = first[cut] + a;
            extent.data()[cut] = std::min(slab, size[cut] - a);
            f(RegionXu64(origin, extent), offset);
            offset += inner * extent.data()[cut];
        }
        // The next index of the slower dimensions.
        std::size_t j = k + 1;
        for (; j < n; ++j) {
            uint64_t& at = origin.data()[o[j]];
            if (++at < first[o[j]] + size[o[j]])
                break;
            at = first[o[j]];
        }
        if (j == n)
            return;
    }
}

// forEachChunk in the default layout (first dimension fastest).
template <class F>
void forEachChunk(RegionXu64 const& region, uint64_t budget, F&& f)
{
    forEachChunk(region, identityOrder(region.dimensionCount()), budget, std::forward<F>(f));
}

} // namespace quelbo::detail
