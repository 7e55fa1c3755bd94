// ArrayX: element storage, access, reshapes and copies between layouts.
#include "quelbo/array.h"

#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "values/large_block.h"
#include "quelbo/box_runs.h"
#include "quelbo/error.h"
#include "quelbo/region_copier.h"

namespace quelbo {

namespace {

using Block = std::shared_ptr<unsigned char>;

[[noreturn]] void invalid(std::string const& message)
{
    throw InvalidArgument("ArrayX: " + message);
}

bool isOrder(Indexer const& indexer, bool lastFastest)
{
    const std::size_t n = indexer.dimensionCount();
    for (std::size_t k = 0; k < n; ++k)
        if (indexer.layout().data()[k] != (lastFastest ? n - 1 - k : k))
            return false;
    return true;
}

// Dense: exactly elementCount elements, one after the other.
bool isDense(Indexer const& indexer)
{
    return indexer.isContinuous() && indexer.byteCount() == indexer.elementCount() * indexer.dtype().byteCount();
}

// The walk over every element of an indexer and of another of the same
// shape: in the C order (the last dimension fastest) when it matters, in the
// order that moves fastest otherwise. f(offset in a, offset in b, axes
// ended before it, the run) is called for every run (see BoxRuns).
template <class F>
void walk(Indexer const& a, Indexer const& b, BoxRuns::Order order, F&& f)
{
    const std::size_t n = a.dimensionCount();
    std::vector<uint64_t> size(n), strideA(n), strideB(n);
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t const d = order == BoxRuns::Order::KEPT ? n - 1 - k : k;
        size[k] = a.shape().data()[d];
        strideA[k] = a.byteStride().data()[d];
        strideB[k] = b.byteStride().data()[d];
    }
    BoxRuns const runs(size.data(), strideA.data(), strideB.data(), n, a.dtype().byteCount(), order);
    if (runs.empty())
        return;
    BoxRuns::Axis const& run = runs.run();
    runs.forEach([&](int64_t x, int64_t y, std::size_t wrapped) { f(x, y, wrapped, run); });
}

} // namespace

template <class T>
struct ArrayX<T>::Private
{
    Indexer indexer;
    Block block;

    T* elements() const { return reinterpret_cast<T*>(block.get()); }

    T read(std::size_t byteOffset) const
    {
        T v;
        std::memcpy(&v, block.get() + byteOffset, sizeof(T));
        return v;
    }

    std::size_t offsetOf(VectorXu64 const& index) const
    {
        if (indexer.elementCount() == 0)
            invalid("index " + index.toString() + " is invalid for the shape " + indexer.shape().toString() +
                    ", which has no element");
        return indexer.byteOffset(index);
    }
};

namespace {

template <class T>
Indexer checkedIndexer(Indexer const& indexer)
{
    const DataType expected = DataTypeTraits<T>::toDataType();
    if (indexer.dtype() != expected)
        invalid("the indexer's data type " + indexer.dtype().toString() + " is not the array's " + expected.toString());
    // strides above 2^63 - 1 would be negative to an indexer that reads them as signed
    for (std::size_t i = 0; i < indexer.dimensionCount(); ++i) {
        const uint64_t stride = indexer.byteStride().data()[i];
        if (stride % sizeof(T) != 0 || stride > uint64_t(std::numeric_limits<int64_t>::max()))
            invalid("the byte strides " + indexer.byteStride().toString() +
                    " are not non-negative multiples of the element size " + std::to_string(sizeof(T)));
    }
    return indexer;
}

template <class P>
P const& emptyPrivate()
{
    static const P empty{Indexer(), detail::sharedBlock(0)};
    return empty;
}

} // namespace

template <class T>
ArrayX<T>::ArrayX(VectorXu64 const& shape) : ArrayX(Indexer(shape, DataTypeTraits<T>::toDataType()))
{}

template <class T>
ArrayX<T>::ArrayX(Indexer const& indexer)
{
    Indexer checked = checkedIndexer<T>(indexer);
    Block block = detail::sharedBlock(checked.byteCount());
    m_private.reset(new Private{std::move(checked), std::move(block)});
}

template <class T>
ArrayX<T>::ArrayX(Indexer const& indexer, const T* elements)
{
    Indexer checked = checkedIndexer<T>(indexer);
    std::size_t const bytes = checked.byteCount();
    Block block = detail::sharedBlock(bytes, true);
    detail::copyBytes(block.get(), elements, bytes);
    m_private.reset(new Private{std::move(checked), std::move(block)});
}

template <class T>
ArrayX<T>::ArrayX(ArrayX const& other)
{
    Private const& source = other.m_private ? *other.m_private : emptyPrivate<Private>();
    Block block = detail::sharedBlock(source.indexer.byteCount(), true);
    detail::copyBytes(block.get(), source.block.get(), source.indexer.byteCount());
    m_private.reset(new Private{source.indexer, std::move(block)});
}

template <class T>
ArrayX<T>::ArrayX(ArrayX&& other) noexcept = default;

template <class T>
ArrayX<T>& ArrayX<T>::operator=(ArrayX const& other)
{
    if (this != &other)
        *this = ArrayX(other);
    return *this;
}

template <class T>
ArrayX<T>& ArrayX<T>::operator=(ArrayX&& other) noexcept = default;

template <class T>
ArrayX<T>::~ArrayX() = default;

template <class T>
std::size_t ArrayX<T>::dimensionCount() const
{
    return indexer().dimensionCount();
}

template <class T>
VectorXu64 const& ArrayX<T>::shape() const
{
    return indexer().shape();
}

template <class T>
Indexer const& ArrayX<T>::indexer() const
{
    return m_private ? m_private->indexer : emptyPrivate<Private>().indexer;
}

template <class T>
T ArrayX<T>::at(VectorXu64 const& index) const
{
    Private const& p = m_private ? *m_private : emptyPrivate<Private>();
    return p.read(p.offsetOf(index));
}

template <class T>
void ArrayX<T>::setAt(VectorXu64 const& index, T value)
{
    Private const& p = m_private ? *m_private : emptyPrivate<Private>();
    const std::size_t offset = p.offsetOf(index); // an array without elements throws here
    std::memcpy(p.block.get() + offset, &value, sizeof(T));
}

template <class T>
void ArrayX<T>::reshape(VectorXu64 const& shape)
{
    if (!m_private)
        m_private.reset(new Private{Indexer(), detail::sharedBlock(0)});
    Private& p = *m_private;
    const DataType dtype = DataTypeTraits<T>::toDataType();
    const bool c = p.indexer.dimensionCount() == 1 || isOrder(p.indexer, true);
    Indexer next(shape, dtype, c ? MemoryLayout::C : MemoryLayout::FORTRAN);
    if (next.elementCount() != p.indexer.elementCount())
        invalid("cannot reshape an array of shape " + p.indexer.shape().toString() + " (" +
                std::to_string(p.indexer.elementCount()) + " elements) into the shape " + shape.toString() + " (" +
                std::to_string(next.elementCount()) + " elements)");
    if (!(isDense(p.indexer) && (c || isOrder(p.indexer, false)))) {
        // compact into a new dense block, in the order of the new layout
        Indexer dense(p.indexer.shape(), dtype, c ? MemoryLayout::C : MemoryLayout::FORTRAN);
        Block block = detail::sharedBlock(dense.byteCount(), true);
        VectorXu64 const zero(dense.dimensionCount());
        RegionCopier(p.indexer, dense, zero, zero, dense.shape(), dtype).copy(p.block.get(), block.get());
        p.block = std::move(block);
    }
    p.indexer = std::move(next);
}

template <class T>
T* ArrayX<T>::buffer()
{
    return m_private ? m_private->elements() : emptyPrivate<Private>().elements();
}

template <class T>
T const* ArrayX<T>::buffer() const
{
    return m_private ? m_private->elements() : emptyPrivate<Private>().elements();
}

template <class T>
std::shared_ptr<T> ArrayX<T>::sharedBuffer()
{
    Private const& p = m_private ? *m_private : emptyPrivate<Private>();
    return std::shared_ptr<T>(p.block, p.elements());
}

template <class T>
std::string ArrayX<T>::toString() const
{
    Private const& p = m_private ? *m_private : emptyPrivate<Private>();
    const std::size_t n = p.indexer.dimensionCount();
    if (p.indexer.elementCount() == 0)
        return "[]";
    std::string out(n, '[');
    // The elements in the C order: brackets close and open where axes end.
    bool first = true;
    walk(p.indexer, p.indexer, BoxRuns::Order::KEPT, [&](int64_t a, int64_t, std::size_t wrapped, auto const& run) {
        if (!first) {
            out.append(wrapped + 1, ']');
            out += ", ";
            out.append(wrapped + 1, '[');
        }
        first = false;
        for (uint64_t i = 0; i < run.size; ++i) {
            if (i)
                out += ", ";
            const T v = p.read(std::size_t(a + int64_t(i) * run.stride[0]));
            if constexpr (std::is_floating_point<T>::value)
                vector_detail::appendElement(out, v);
            else if constexpr (std::is_signed<T>::value)
                vector_detail::appendElement(out, int64_t(v));
            else
                vector_detail::appendElement(out, uint64_t(v));
        }
    });
    out.append(n, ']');
    return out;
}

template <class T>
bool ArrayX<T>::operator==(ArrayX const& other) const
{
    Private const& a = m_private ? *m_private : emptyPrivate<Private>();
    Private const& b = other.m_private ? *other.m_private : emptyPrivate<Private>();
    if (a.indexer.shape() != b.indexer.shape())
        return false;
    bool equal = true;
    walk(a.indexer, b.indexer, BoxRuns::Order::ANY, [&](int64_t x, int64_t y, std::size_t, auto const& run) {
        for (uint64_t i = 0; i < run.size && equal; ++i)
            equal = a.read(std::size_t(x + int64_t(i) * run.stride[0])) ==
                    b.read(std::size_t(y + int64_t(i) * run.stride[1]));
    });
    return equal;
}

#define QUELBO_ARRAY_OF(T, S, ID) template class ArrayX<T>;
QUELBO_ELEMENT_TYPES(QUELBO_ARRAY_OF)
#undef QUELBO_ARRAY_OF

} // namespace quelbo
