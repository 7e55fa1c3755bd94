// Indexer: where the elements of an n-dimensional array lie in memory.
#pragma once
#include <cstddef>
#include <cstdint>

#include "quelbo/data_type.h"
#include "quelbo/export.h"
#include "quelbo/vector.h"

namespace quelbo {

// Order of the dimensions in memory: C puts the last dimension fastest,
// FORTRAN the first. UNKNOWN stands for the default, FORTRAN.
enum class MemoryLayout : int32_t
{
    UNKNOWN = 0,
    C = 1,
    FORTRAN = 2,
};

namespace detail {
// What an indexer knows. It lives inside the indexer: up to four dimensions
// an indexer is one object without a heap block of its own.
struct IndexerState
{
    VectorXu64 shape;
    VectorXu64 stride;
    VectorXu64 byteStride;
    VectorXu64 layout;
    DataType dtype;
    size_t elementCount = 0;
    size_t byteCount = 0;
    bool continuous = true;
};
} // namespace detail

// How an n-dimensional array of elements lies in memory: its shape, its
// element type, the stride of each dimension and the order of the dimensions
// from the fastest-varying to the slowest. Every constructor throws
// InvalidArgument for vectors of different lengths, a layout that is not an
// order of the dimensions, or sizes that overflow 64 bits.
class QUELBO_API Indexer
{
public:
    // No dimension, no element.
    Indexer();
    // Dense, in the default (FORTRAN) layout.
    Indexer(VectorXu64 const& shape, DataType dtype);
    // Dense, in the given layout.
    Indexer(VectorXu64 const& shape, DataType dtype, MemoryLayout layout);
    // Dense, the dimensions in memory in the given order (fastest first).
    Indexer(VectorXu64 const& shape, DataType dtype, VectorXu64 const& layout);
    // Explicit byte strides per dimension and the layout dimension order.
    // A stride is read as a signed 64-bit value (two's complement): negative
    // strides walk towards lower addresses, and offsets are then relative to
    // element 0 in two's complement too.
    Indexer(VectorXu64 const& shape, DataType dtype, VectorXu64 const& byteStrides, VectorXu64 const& layout);
    Indexer(Indexer const& other);
    Indexer(Indexer&& other) noexcept;
    Indexer& operator=(Indexer const& other);
    Indexer& operator=(Indexer&& other) noexcept;
    ~Indexer();

    // The one-entry forms throw InvalidArgument past the dimension count.
    VectorXu64 const& shape() const;
    size_t shape(size_t dimension) const;
    // Strides in elements (deprecated: use byteStride).
    VectorXu64 const& stride() const;
    size_t stride(size_t dimension) const;
    VectorXu64 const& byteStride() const;
    size_t byteStride(size_t dimension) const;
    // the layout dimension order; layout(n) is the dimension index of the nth
    // one in order.
    VectorXu64 const& layout() const;
    size_t layout(size_t position) const;

    DataType dtype() const;
    // The number of dimensions managed by this indexer
    size_t dimensionCount() const;
    // the number of elements managed by this Indexer
    size_t elementCount() const;
    // the total number of bytes needed to adress this indexer, padding included
    // (from its lowest to its highest addressed byte)
    size_t byteCount() const;

    // Element offset of a position (deprecated: use byteOffset).
    size_t offset(VectorXu64 const& index) const;
    // InvalidArgument If the index is invalid
    size_t byteOffset(VectorXu64 const& index) const;
    // true when the elements follow each other without any padding
    bool isContinuous() const;

    bool operator==(Indexer const& other) const;
    bool operator!=(Indexer const& other) const;

private:
    detail::IndexerState const& state() const { return m_state; }

    detail::IndexerState m_state;
};

} // namespace quelbo
