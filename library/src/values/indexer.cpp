// Indexer: shapes, layouts, strides and offsets of arrays in memory.
#include "quelbo/indexer.h"

#include <string>
#include <utility>

#include "quelbo/error.h"

namespace quelbo {

using State = detail::IndexerState;

namespace {

[[noreturn]] void invalid(std::string const& message)
{
    throw InvalidArgument("Indexer: " + message);
}

void checkLength(char const* what, VectorXu64 const& v, VectorXu64 const& shape)
{
    if (v.size() != shape.size())
        invalid(std::string(what) + " " + v.toString() + " does not have the " + std::to_string(shape.size()) +
                " entries of the shape " + shape.toString());
}

// The layout must name every dimension exactly once.
void checkOrder(VectorXu64 const& layout, VectorXu64 const& shape)
{
    checkLength("layout", layout, shape);
    VectorX<uint8_t> seen(layout.size());
    for (size_t i = 0; i < layout.size(); ++i) {
        const uint64_t d = layout.data()[i];
        if (d >= layout.size() || seen.data()[d])
            invalid("layout " + layout.toString() + " is not an order of " + std::to_string(layout.size()) +
                    " dimensions");
        seen.data()[d] = 1;
    }
}

VectorXu64 orderOf(MemoryLayout layout, size_t dimensions)
{
    if (layout != MemoryLayout::C && layout != MemoryLayout::FORTRAN && layout != MemoryLayout::UNKNOWN)
        invalid("unknown memory layout " + std::to_string(int32_t(layout)));
    VectorXu64 order(dimensions);
    for (size_t i = 0; i < dimensions; ++i)
        order.data()[i] = layout == MemoryLayout::C ? dimensions - 1 - i : i;
    return order;
}

// Strides of a buffer holding exactly the elements, dimensions in the order given.
VectorXu64 denseByteStrides(VectorXu64 const& shape, VectorXu64 const& layout, size_t elementBytes)
{
    VectorXu64 strides(shape.size());
    size_t step = elementBytes;
    for (size_t k = 0; k < layout.size(); ++k) {
        const size_t d = layout.data()[k];
        strides.data()[d] = step;
        step = checkedMultiply(step, shape.data()[d], "Indexer byte stride");
    }
    return strides;
}

// Derives the counts, element strides and continuity of a checked state.
void finish(State& s)
{
    const size_t n = s.shape.size();
    const size_t elementBytes = s.dtype.byteCount();
    s.stride = VectorXu64(n);
    size_t count = n == 0 ? 0 : 1;
    // Byte strides are signed 64-bit values in two's complement: a negative
    // stride walks its dimension towards lower addresses from element 0.
    size_t below = 0, above = 0;
    for (size_t i = 0; i < n; ++i) {
        const size_t extent = s.shape.data()[i];
        const auto byteStride = int64_t(s.byteStride.data()[i]);
        s.stride.data()[i] = uint64_t(byteStride / int64_t(elementBytes));
        count = checkedMultiply(count, extent, "Indexer element count");
        if (extent == 0)
            continue;
        const uint64_t step = byteStride < 0 ? uint64_t(0) - uint64_t(byteStride) : uint64_t(byteStride);
        size_t& side = byteStride < 0 ? below : above;
        side = checkedAdd(side, checkedMultiply(extent - 1, step, "Indexer byte count"), "Indexer byte count");
    }
    s.elementCount = count;
    s.byteCount =
        count == 0 ? 0 : checkedAdd(checkedAdd(below, above, "Indexer byte count"), elementBytes, "Indexer byte count");
    // a dense buffer must also be countable in bytes
    checkedMultiply(count, elementBytes, "Indexer byte count");

    s.continuous = true;
    size_t expected = elementBytes;
    for (size_t k = 0; k < n && count != 0; ++k) {
        const size_t d = s.layout.data()[k];
        if (s.shape.data()[d] != 1 && s.byteStride.data()[d] != expected)
            s.continuous = false;
        expected *= s.shape.data()[d]; // bounded by the checked byte count above
    }
}

// The layout is an order of the dimensions (checked, or made here).
void dense(State& s, VectorXu64 const& shape, DataType dtype, VectorXu64 layout)
{
    s.shape = shape;
    s.dtype = dtype;
    s.byteStride = denseByteStrides(shape, layout, dtype.byteCount());
    s.layout = std::move(layout);
    finish(s);
}

// A moved-from state: its vectors are empty already.
void emptyCounts(State& s)
{
    s.dtype = DataType();
    s.elementCount = 0;
    s.byteCount = 0;
    s.continuous = true;
}

void checkDimension(State const& s, size_t dimension, char const* what)
{
    if (dimension >= s.shape.size())
        invalid(std::string(what) + " of dimension " + std::to_string(dimension) + " asked of " +
                std::to_string(s.shape.size()) + " dimensions");
}

void checkIndex(State const& s, VectorXu64 const& index)
{
    bool valid = index.size() == s.shape.size();
    for (size_t i = 0; valid && i < index.size(); ++i)
        valid = index.data()[i] < s.shape.data()[i];
    if (!valid)
        invalid("index " + index.toString() + " is invalid for the shape " + s.shape.toString());
}

// Offsets cannot overflow: each is below the byte count checked at construction.
size_t weightedOffset(State const& s, VectorXu64 const& index, VectorXu64 const& strides)
{
    checkIndex(s, index);
    size_t result = 0;
    for (size_t i = 0; i < index.size(); ++i)
        result += index.data()[i] * strides.data()[i];
    return result;
}

} // namespace

Indexer::Indexer() = default;

Indexer::Indexer(VectorXu64 const& shape, DataType dtype) : Indexer(shape, dtype, MemoryLayout::FORTRAN) {}

Indexer::Indexer(VectorXu64 const& shape, DataType dtype, MemoryLayout layout)
{
    dense(m_state, shape, dtype, orderOf(layout, shape.size()));
}

Indexer::Indexer(VectorXu64 const& shape, DataType dtype, VectorXu64 const& layout)
{
    checkOrder(layout, shape);
    dense(m_state, shape, dtype, layout);
}

Indexer::Indexer(VectorXu64 const& shape, DataType dtype, VectorXu64 const& byteStrides, VectorXu64 const& layout)
{
    checkLength("byte strides", byteStrides, shape);
    checkOrder(layout, shape);
    m_state.shape = shape;
    m_state.dtype = dtype;
    m_state.byteStride = byteStrides;
    m_state.layout = layout;
    finish(m_state);
}

Indexer::Indexer(Indexer const& other) = default;

// A moved-from indexer reads as an empty one.
Indexer::Indexer(Indexer&& other) noexcept : m_state(std::move(other.m_state))
{
    emptyCounts(other.m_state);
}

Indexer& Indexer::operator=(Indexer const& other)
{
    if (this != &other) {
        State copy(other.m_state); // all or nothing
        m_state = std::move(copy);
    }
    return *this;
}

Indexer& Indexer::operator=(Indexer&& other) noexcept
{
    if (this != &other) {
        m_state = std::move(other.m_state);
        emptyCounts(other.m_state);
    }
    return *this;
}

Indexer::~Indexer() = default;

VectorXu64 const& Indexer::shape() const
{
    return state().shape;
}

size_t Indexer::shape(size_t dimension) const
{
    checkDimension(state(), dimension, "shape");
    return state().shape.data()[dimension];
}

VectorXu64 const& Indexer::stride() const
{
    return state().stride;
}

size_t Indexer::stride(size_t dimension) const
{
    checkDimension(state(), dimension, "stride");
    return state().stride.data()[dimension];
}

VectorXu64 const& Indexer::byteStride() const
{
    return state().byteStride;
}

size_t Indexer::byteStride(size_t dimension) const
{
    checkDimension(state(), dimension, "byte stride");
    return state().byteStride.data()[dimension];
}

VectorXu64 const& Indexer::layout() const
{
    return state().layout;
}

size_t Indexer::layout(size_t position) const
{
    checkDimension(state(), position, "layout");
    return state().layout.data()[position];
}

DataType Indexer::dtype() const
{
    return state().dtype;
}

size_t Indexer::dimensionCount() const
{
    return state().shape.size();
}

size_t Indexer::elementCount() const
{
    return state().elementCount;
}

size_t Indexer::byteCount() const
{
    return state().byteCount;
}

size_t Indexer::offset(VectorXu64 const& index) const
{
    return weightedOffset(state(), index, state().stride);
}

size_t Indexer::byteOffset(VectorXu64 const& index) const
{
    return weightedOffset(state(), index, state().byteStride);
}

bool Indexer::isContinuous() const
{
    return state().continuous;
}

bool Indexer::operator==(Indexer const& other) const
{
    State const& a = state();
    State const& b = other.state();
    return a.dtype == b.dtype && a.shape == b.shape && a.byteStride == b.byteStride && a.layout == b.layout;
}

bool Indexer::operator!=(Indexer const& other) const
{
    return !(*this == other);
}

} // namespace quelbo
