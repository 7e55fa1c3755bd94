#include "quelbo/region_copier.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "quelbo/error.h"
#include "views/copy_kernels.h"

namespace quelbo {

namespace {

[[noreturn]] void invalid(std::string const& message)
{
    throw InvalidArgument("RegionCopier: " + message);
}

uint64_t magnitude(int64_t v)
{
    return v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
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
    for (size_t d = 0; d < n; ++d) {
        if (size.data()[d] != 1)
            m_axes.push_back({size.data()[d], int64_t(srcIndexer.byteStride().data()[d]),
                              int64_t(dstIndexer.byteStride().data()[d])});
    }
    // The axes nearest to contiguous on both sides go innermost.
    std::stable_sort(m_axes.begin(), m_axes.end(), [](Axis const& a, Axis const& b) {
        return magnitude(a.srcStride) + magnitude(a.dstStride) < magnitude(b.srcStride) + magnitude(b.dstStride);
    });
    // Merge an axis into the one inside it when both sides continue it.
    std::vector<Axis> merged;
    for (Axis const& a : m_axes) {
        if (!merged.empty()) {
            Axis& in = merged.back();
            if (a.srcStride == in.srcStride * int64_t(in.size) && a.dstStride == in.dstStride * int64_t(in.size)) {
                in.size *= a.size;
                continue;
            }
        }
        merged.push_back(a);
    }
    // A single element: one run of one element.
    if (merged.empty())
        merged.push_back(Axis{1, int64_t(m_elementBytes), int64_t(m_elementBytes)});
    m_axes = std::move(merged);
}

void RegionCopier::copy(const void* src, void* dst) const
{
    if (m_axes.empty())
        return;
    const uint8_t* s = static_cast<const uint8_t*>(src) + m_srcStart;
    uint8_t* d = static_cast<uint8_t*>(dst) + m_dstStart;
    Axis const& inner = m_axes.front();
    const bool run = inner.srcStride == int64_t(m_elementBytes) && inner.dstStride == int64_t(m_elementBytes);
    const size_t runBytes = size_t(inner.size) * m_elementBytes;
    const size_t outer = m_axes.size();
    if (outer == 1) {
        if (run)
            std::memcpy(d, s, runBytes);
        else
            detail::copyElements(s, d, inner.size, inner.srcStride, inner.dstStride, m_elementBytes);
        return;
    }
    // The axis after the innermost one is looped directly; the others count.
    Axis const& second = m_axes[1];
    std::vector<uint64_t> counter(outer, 0);
    for (;;) {
        const uint8_t* ls = s;
        uint8_t* ld = d;
        for (uint64_t i = 0; i < second.size; ++i, ls += second.srcStride, ld += second.dstStride) {
            if (run)
                std::memcpy(ld, ls, runBytes);
            else
                detail::copyElements(ls, ld, inner.size, inner.srcStride, inner.dstStride, m_elementBytes);
        }
        size_t k = 2;
        for (; k < outer; ++k) {
            Axis const& a = m_axes[k];
            if (++counter[k] < a.size) {
                s += a.srcStride;
                d += a.dstStride;
                break;
            }
            counter[k] = 0;
            s -= a.srcStride * int64_t(a.size - 1);
            d -= a.dstStride * int64_t(a.size - 1);
        }
        if (k == outer)
            return;
    }
}

} // namespace quelbo
