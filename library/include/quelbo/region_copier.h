// RegionCopier: a box of elements copied between two strided layouts.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "quelbo/box_runs.h"
#include "quelbo/data_type.h"
#include "quelbo/export.h"
#include "quelbo/indexer.h"
#include "quelbo/vector.h"

namespace quelbo {

// Copies a box of elements between two arrays described by indexers, whatever
// their strides (negative ones included: an indexer's byte strides are read
// as signed 64-bit values and its addresses are relative to element 0).
// The constructor checks everything once: the two indexers, the origins and
// the size have one dimension count, the box lies inside both shapes, and
// the element byte counts of the indexers and of the data type agree; it
// throws InvalidArgument otherwise. copy() then moves the bytes, merging
// dimensions that are contiguous on both sides so that whole runs go by
// memcpy.
//
// The two arrays may share memory: the result is then as if the source had
// been copied first (numpy's rule). A copy that is one contiguous run goes
// by memmove; any other whose source and destination bytes meet goes
// through a temporary of the copy's own size. Arrays apart cost one test of
// their address ranges.
class QUELBO_API RegionCopier
{
public:
    RegionCopier(Indexer const& srcIndexer, Indexer const& dstIndexer, VectorXu64 const& srcOrigin,
                 VectorXu64 const& dstOrigin, VectorXu64 const& size, DataType dataType);

    // src and dst are the addresses of element 0 of each indexer.
    void copy(const void* src, void* dst) const;

    // Bytes copied in all.
    size_t byteCount() const { return m_byteCount; }

private:
    // The runs' elements from s to d (at their first elements).
    void copyRuns(BoxRuns const& runs, const uint8_t* s, uint8_t* d) const;
    // The copy of a source whose bytes the destination's meet.
    void copyOverlapping(const uint8_t* s, uint8_t* d) const;

    BoxRuns m_runs; // side 0 the source, side 1 the destination
    // The bytes each side reaches, from its first element: [low, high).
    int64_t m_reach[2][2] = {{0, 0}, {0, 0}};
    int64_t m_srcStart = 0;
    int64_t m_dstStart = 0;
    size_t m_elementBytes = 0;
    size_t m_byteCount = 0;
};

} // namespace quelbo
