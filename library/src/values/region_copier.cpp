// RegionCopier: the checks of a box copy, then its runs.
#include "quelbo/region_copier.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "quelbo/error.h"
#include "values/copy_kernels.h"
#include "values/large_block.h"

namespace quelbo {

namespace {

[[noreturn]] void invalid(std::string const& message)
{
    throw InvalidArgument("RegionCopier: " + message);
}

void checkBox(char const* side, Indexer const& indexer, VectorXu64 const& origin, VectorXu64 const& size)
{
    VectorXu64 const& shape = indexer.shape();
    for (size_t d = 0; d < size.size(); ++d) {
        const uint64_t extent = shape.data()[d];
        if (size.data()[d] > extent || origin.data()[d] > extent - size.data()[d])
            invalid(std::string("the box of origin ") + origin.toString() + " and size " + size.toString() +
                    " is not inside the " + side + " shape " + shape.toString());
    }
}

// Offset of an origin, in two's complement (strides may be negative).
int64_t startOf(Indexer const& indexer, VectorXu64 const& origin)
{
    uint64_t offset = 0;
    for (size_t d = 0; d < origin.size(); ++d)
        offset += origin.data()[d] * indexer.byteStride().data()[d];
    return int64_t(offset);
}

} // namespace

RegionCopier::RegionCopier(Indexer const& srcIndexer, Indexer const& dstIndexer, VectorXu64 const& srcOrigin,
                           VectorXu64 const& dstOrigin, VectorXu64 const& size, DataType dataType)
{
    const size_t n = size.size();
    if (srcIndexer.dimensionCount() != n || dstIndexer.dimensionCount() != n || srcOrigin.size() != n ||
        dstOrigin.size() != n)
        invalid("the source (" + std::to_string(srcIndexer.dimensionCount()) + "), destination (" +
                std::to_string(dstIndexer.dimensionCount()) + "), origins (" + std::to_string(srcOrigin.size()) + ", " +
                std::to_string(dstOrigin.size()) + ") and size (" + std::to_string(n) + ") differ in dimension count");
    m_elementBytes = dataType.byteCount();
    if (srcIndexer.dtype().byteCount() != m_elementBytes || dstIndexer.dtype().byteCount() != m_elementBytes)
        invalid("the element sizes of the source, the destination and " + dataType.toString() + " differ");
    checkBox("source", srcIndexer, srcOrigin, size);
    checkBox("destination", dstIndexer, dstOrigin, size);

    size_t count = n == 0 ? 0 : 1;
    for (size_t d = 0; d < n; ++d)
        count = checkedMultiply(count, size.data()[d], "RegionCopier element count");
    m_byteCount = checkedMultiply(count, m_elementBytes, "RegionCopier byte count");
    if (count == 0)
        return;

    m_srcStart = startOf(srcIndexer, srcOrigin);
    m_dstStart = startOf(dstIndexer, dstOrigin);
    m_runs = BoxRuns(size.data(), srcIndexer.byteStride().data(), dstIndexer.byteStride().data(), n, m_elementBytes);
    for (int side = 0; side < 2; ++side) {
        m_reach[side][1] = int64_t(m_elementBytes);
        for (BoxRuns::Axis const& a : m_runs.axes()) {
            int64_t const extent = a.stride[side] * int64_t(a.size - 1);
            m_reach[side][extent < 0 ? 0 : 1] += extent;
        }
    }
}

void RegionCopier::copy(const void* src, void* dst) const
{
    if (m_runs.empty())
        return;
    const uint8_t* s = static_cast<const uint8_t*>(src) + m_srcStart;
    uint8_t* d = static_cast<uint8_t*>(dst) + m_dstStart;
    uintptr_t const sa = uintptr_t(s), da = uintptr_t(d);
    if (sa + uintptr_t(m_reach[0][0]) < da + uintptr_t(m_reach[1][1]) &&
        da + uintptr_t(m_reach[1][0]) < sa + uintptr_t(m_reach[0][1]))
        return copyOverlapping(s, d);
    copyRuns(m_runs, s, d);
}

void RegionCopier::copyRuns(BoxRuns const& runs, const uint8_t* s, uint8_t* d) const
{
    if (runs.dense()) {
        const size_t runBytes = runs.runBytes();
        runs.forEach([&](int64_t a, int64_t b, size_t) { std::memcpy(d + b, s + a, runBytes); });
        return;
    }
    BoxRuns::Axis const& run = runs.run();
    runs.forEach([&](int64_t a, int64_t b, size_t) {
        detail::copyElements(s + a, d + b, run.size, run.stride[0], run.stride[1], m_elementBytes);
    });
}

void RegionCopier::copyOverlapping(const uint8_t* s, uint8_t* d) const
{
    if (m_runs.dense() && m_runs.runCount() == 1)
        return void(std::memmove(d, s, m_runs.runBytes()));
    // The source's elements densely in a temporary (its axes in the order of
    // the runs), then from there to the destination.
    std::vector<BoxRuns::Axis> const& axes = m_runs.axes();
    size_t const n = axes.size();
    std::vector<uint64_t> size(n), from(n), packed(n), to(n);
    uint64_t step = m_elementBytes;
    for (size_t k = 0; k < n; ++k) {
        size[k] = axes[k].size;
        from[k] = uint64_t(axes[k].stride[0]);
        to[k] = uint64_t(axes[k].stride[1]);
        packed[k] = step;
        step *= axes[k].size;
    }
    struct Temporary
    {
        size_t bytes;
        uint8_t* data = static_cast<uint8_t*>(detail::allocateBlock(bytes, true));
        ~Temporary() { detail::releaseBlock(data, bytes); }
    } const temporary{m_byteCount};
    auto move = [&](const uint8_t* a, uint8_t* b, uint64_t const* strideA, uint64_t const* strideB) {
        BoxRuns const runs(size.data(), strideA, strideB, n, m_elementBytes);
        copyRuns(runs, a, b);
    };
    move(s, temporary.data, from.data(), packed.data());
    move(temporary.data, d, packed.data(), to.data());
}

} // namespace quelbo
