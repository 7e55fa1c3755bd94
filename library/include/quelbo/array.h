// ArrayX: n-dimensional arrays of numeric values laid out by an Indexer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "quelbo/data_type_traits.h"
#include "quelbo/element_types.h"
#include "quelbo/export.h"
#include "quelbo/indexer.h"
#include "quelbo/vector.h"

namespace quelbo {

// An n-dimensional array of values of T, zero-filled at construction. Its
// Indexer places each element in the element buffer; an array of dimension
// count 0 has no element. Element access throws InvalidArgument for an index
// of the wrong length or out of range.
template <class T>
class QUELBO_API ArrayX
{
public:
    using ValueType = T;

    // Dense, in the Indexer's default (FORTRAN) layout.
    explicit ArrayX(VectorXu64 const& shape);
    // Described by the indexer, whose data type must be T's and whose byte
    // strides must be non-negative multiples of T's size (else InvalidArgument).
    explicit ArrayX(Indexer const& indexer);
    // Described by the indexer, as above, holding a copy of the
    // indexer.byteCount() bytes at `elements` instead of zeros.
    ArrayX(Indexer const& indexer, const T* elements);
    // Copies the elements.
    ArrayX(ArrayX const& other);
    // The other array is left empty (dimension count 0).
    ArrayX(ArrayX&& other) noexcept;
    ArrayX& operator=(ArrayX const& other);
    ArrayX& operator=(ArrayX&& other) noexcept;
    ~ArrayX();

    std::size_t dimensionCount() const;
    VectorXu64 const& shape() const;
    Indexer const& indexer() const;

    T at(VectorXu64 const& index) const;
    void setAt(VectorXu64 const& index, T value);

    // A new shape of the same element count. The elements keep their order in
    // memory: an array in C layout (or of one dimension) is laid out anew in C
    // layout, any other in FORTRAN layout; elements that are not dense in
    // memory are first compacted in that order.
    void reshape(VectorXu64 const& shape);

    // The element buffer (never null, even without elements).
    T* buffer();
    T const* buffer() const;
    // The element buffer, kept alive by the returned pointer as long as it
    // lives, whatever then happens to the array.
    std::shared_ptr<T> sharedBuffer();

    // The elements as nested lists, the first dimension outermost.
    std::string toString() const;

    // Equal shapes and equal elements at every index, whatever the layouts.
    bool operator==(ArrayX const& other) const;
    bool operator!=(ArrayX const& other) const { return !(*this == other); }

    struct Private;

private:
    std::unique_ptr<Private> m_private;
};

#define QUELBO_ARRAY_OF(T, S, ID)                                                                                      \
    using ArrayX##S = ArrayX<T>;                                                                                       \
    extern template class ArrayX<T>;
QUELBO_ELEMENT_TYPES(QUELBO_ARRAY_OF)
#undef QUELBO_ARRAY_OF

} // namespace quelbo
