// Value records: vectors, value arrays and matrices.
#include "quelbo/serialization.h"

#include <limits>
#include <type_traits>

#include "quelbo/data_type_traits.h"
#include "serialization/serialization_stream.h"

namespace quelbo {

namespace {

using serial::Kind;
using serial::Reader;
using serial::Writer;

std::string typeText(DataType t)
{
    return t.toString();
}

void expectType(DataType found, DataType wanted, char const* what)
{
    if (found != wanted)
        serial::fail("data type " + typeText(found) + " read from stream is not compatible with requested " + what +
                     " type " + typeText(wanted));
}

// ----------------------------------------------------------------- vectors

template <class T>
void encodeElements(T const* data, std::size_t n, std::shared_ptr<StreamAccess> const& stream)
{
    Writer out(stream);
    out.header(Kind::VECTOR, DataTypeTraits<T>::toDataType());
    out.u64(n);
    out.raw(data, n * sizeof(T));
    out.end();
}

// Reads the header and the count of a vector record.
template <class T>
uint64_t vectorCount(Reader& in)
{
    expectType(in.header(Kind::VECTOR), DataTypeTraits<T>::toDataType(), "vector");
    return in.count(sizeof(T), ~uint64_t(0), "vector size");
}

template <class V>
struct Codec;

template <class T, std::size_t N>
struct Codec<Vector<T, N>>
{
    static void encode(Vector<T, N> const& v, std::shared_ptr<StreamAccess> const& s)
    {
        encodeElements(v.data(), N, s);
    }
    static Vector<T, N> decode(std::shared_ptr<StreamAccess> const& s)
    {
        Reader in(s);
        uint64_t const n = vectorCount<T>(in);
        if (n != N)
            serial::fail("vector size " + std::to_string(n) + " read from stream is not compatible with requested " +
                         "vector type of size " + std::to_string(N));
        Vector<T, N> v;
        in.raw(v.data(), N * sizeof(T));
        return v;
    }
};

template <class T>
struct Codec<VectorX<T>>
{
    static void encode(VectorX<T> const& v, std::shared_ptr<StreamAccess> const& s)
    {
        encodeElements(v.data(), v.size(), s);
    }
    static VectorX<T> decode(std::shared_ptr<StreamAccess> const& s)
    {
        Reader in(s);
        uint64_t const n = vectorCount<T>(in);
        VectorX<T> v;
        in.block(std::size_t(n) * sizeof(T), [&] {
            v = VectorX<T>(std::size_t(n));
            return static_cast<void*>(v.data());
        });
        return v;
    }
};

// ---------------------------------------------------------------- matrices

template <class T, std::size_t N>
DataType matrixType()
{
    return DataType(PrimitiveTypeId::FLOATING_POINT, sizeof(T) * 8, N * N, DataTypeInterpretation::SQUARE_MATRIX);
}

template <class T, std::size_t N>
struct Codec<Matrix<T, N>>
{
    static void encode(Matrix<T, N> const& m, std::shared_ptr<StreamAccess> const& s)
    {
        Writer out(s);
        out.header(Kind::MATRIX, matrixType<T, N>());
        out.raw(m.m_data.data(), sizeof(m.m_data));
        out.end();
    }
    static Matrix<T, N> decode(std::shared_ptr<StreamAccess> const& s)
    {
        Reader in(s);
        DataType const found = in.header(Kind::MATRIX);
        if (found != matrixType<T, N>())
            serial::fail("data type or dimension " + typeText(found) +
                         " read from stream is not compatible with requested matrix type " +
                         typeText(matrixType<T, N>()));
        Matrix<T, N> m;
        in.raw(m.m_data.data(), sizeof(m.m_data));
        return m;
    }
};

// ------------------------------------------------------------ value arrays

// Calls f(byte offset) for every element of the indexer, its layout's first
// dimension fastest.
template <class F>
void eachInLayout(Indexer const& indexer, F&& f)
{
    std::size_t const n = indexer.dimensionCount();
    std::size_t const count = indexer.elementCount();
    if (n == 0 || count == 0)
        return;
    VectorXu64 index(n);
    for (std::size_t k = 0; k < n; ++k)
        index.data()[k] = 0;
    std::size_t offset = 0;
    for (std::size_t done = 0; done < count; ++done) {
        f(offset);
        for (std::size_t k = 0; k < n; ++k) {
            std::size_t const d = indexer.layout(k);
            uint64_t& i = index.data()[d];
            if (++i < indexer.shape(d)) {
                offset += indexer.byteStride(d);
                break;
            }
            offset -= (i - 1) * indexer.byteStride(d);
            i = 0;
        }
    }
}

// Dense in the recorded order. An array without elements has nothing to lay
// out: one whose dense strides an array could not hold (past 2^63 - 1, as for
// a shape such as [2^62, 0], which explicit strides allow) is rebuilt with
// strides of zero.
Indexer decodedLayout(VectorXu64 const& shape, DataType type, VectorXu64 const& layout, std::size_t count)
{
    if (count == 0) {
        Indexer strideless(shape, type, VectorXu64(shape.size()), layout); // checks the layout
        uint64_t step = type.byteCount();
        for (std::size_t k = 0; k < shape.size(); ++k)
            if (__builtin_mul_overflow(step, shape[layout[k]], &step) ||
                step > uint64_t(std::numeric_limits<int64_t>::max()))
                return strideless;
    }
    return Indexer(shape, type, layout);
}

template <class T>
struct Codec<ArrayX<T>>
{
    static void encode(ArrayX<T> const& a, std::shared_ptr<StreamAccess> const& s)
    {
        Writer out(s);
        Indexer const& ix = a.indexer();
        std::size_t const n = ix.dimensionCount();
        serial::checkWritableDimensions(Kind::ARRAY, n);
        out.header(Kind::ARRAY, DataTypeTraits<T>::toDataType());
        out.u64(n);
        for (std::size_t k = 0; k < n; ++k)
            out.u64(ix.shape(k));
        for (std::size_t k = 0; k < n; ++k)
            out.u64(ix.layout(k));
        std::size_t const count = n == 0 ? 0 : ix.elementCount();
        auto const* bytes = reinterpret_cast<uint8_t const*>(a.buffer());
        if (ix.isContinuous() && ix.byteCount() == count * sizeof(T)) {
            out.raw(bytes, count * sizeof(T));
        } else {
            eachInLayout(ix, [&](std::size_t offset) { out.raw(bytes + offset, sizeof(T)); });
        }
        out.end();
    }

    static ArrayX<T> decode(std::shared_ptr<StreamAccess> const& s)
    {
        Reader in(s);
        expectType(in.header(Kind::ARRAY), DataTypeTraits<T>::toDataType(), "array");
        uint64_t const n = in.count(16, serial::kMaxDimensions, "dimension count");
        VectorXu64 shape(n);
        VectorXu64 layout(n);
        std::size_t count = n == 0 ? 0 : 1;
        for (std::size_t k = 0; k < n; ++k) {
            shape.data()[k] = in.u64();
            count = checkedMultiply(count, shape.data()[k], "array shape");
        }
        for (std::size_t k = 0; k < n; ++k)
            layout.data()[k] = in.u64();
        std::size_t const bytes = checkedMultiply(count, sizeof(T), "array size");
        if (n == 0)
            return ArrayX<T>(shape);
        Indexer const indexer = decodedLayout(shape, DataTypeTraits<T>::toDataType(), layout, count);
        ArrayX<T> a{VectorXu64()};
        in.block(bytes, [&] {
            a = ArrayX<T>(indexer);
            return static_cast<void*>(a.buffer());
        });
        return a;
    }
};

} // namespace

template <class V>
void Serialization::encode(V const& value, std::shared_ptr<StreamAccess> outStream)
{
    Codec<V>::encode(value, outStream);
}

template <class V>
V Serialization::decode(std::shared_ptr<StreamAccess> inStream)
{
    return Codec<V>::decode(inStream);
}

#define QUELBO_SERIALIZATION_OF(T, S, ID)                                                                              \
    template void Serialization::encode(ArrayX<T> const&, std::shared_ptr<StreamAccess>);                              \
    template void Serialization::encode(Vector<T, 2> const&, std::shared_ptr<StreamAccess>);                           \
    template void Serialization::encode(Vector<T, 3> const&, std::shared_ptr<StreamAccess>);                           \
    template void Serialization::encode(Vector<T, 4> const&, std::shared_ptr<StreamAccess>);                           \
    template void Serialization::encode(VectorX<T> const&, std::shared_ptr<StreamAccess>);                             \
    template ArrayX<T> Serialization::decode(std::shared_ptr<StreamAccess>);                                           \
    template Vector<T, 2> Serialization::decode(std::shared_ptr<StreamAccess>);                                        \
    template Vector<T, 3> Serialization::decode(std::shared_ptr<StreamAccess>);                                        \
    template Vector<T, 4> Serialization::decode(std::shared_ptr<StreamAccess>);                                        \
    template VectorX<T> Serialization::decode(std::shared_ptr<StreamAccess>);                                          \
    void Serialization::encodeArrayX##S(ArrayX<T> const& v, std::shared_ptr<StreamAccess> s)                           \
    {                                                                                                                  \
        encode(v, s);                                                                                                  \
    }                                                                                                                  \
    ArrayX<T> Serialization::decodeArrayX##S(std::shared_ptr<StreamAccess> s)                                          \
    {                                                                                                                  \
        return decode<ArrayX<T>>(s);                                                                                   \
    }                                                                                                                  \
    void Serialization::encodeVector2##S(Vector<T, 2> const& v, std::shared_ptr<StreamAccess> s)                       \
    {                                                                                                                  \
        encode(v, s);                                                                                                  \
    }                                                                                                                  \
    void Serialization::encodeVector3##S(Vector<T, 3> const& v, std::shared_ptr<StreamAccess> s)                       \
    {                                                                                                                  \
        encode(v, s);                                                                                                  \
    }                                                                                                                  \
    void Serialization::encodeVector4##S(Vector<T, 4> const& v, std::shared_ptr<StreamAccess> s)                       \
    {                                                                                                                  \
        encode(v, s);                                                                                                  \
    }                                                                                                                  \
    void Serialization::encodeVectorX##S(VectorX<T> const& v, std::shared_ptr<StreamAccess> s)                         \
    {                                                                                                                  \
        encode(v, s);                                                                                                  \
    }                                                                                                                  \
    Vector<T, 2> Serialization::decodeVector2##S(std::shared_ptr<StreamAccess> s)                                      \
    {                                                                                                                  \
        return decode<Vector<T, 2>>(s);                                                                                \
    }                                                                                                                  \
    Vector<T, 3> Serialization::decodeVector3##S(std::shared_ptr<StreamAccess> s)                                      \
    {                                                                                                                  \
        return decode<Vector<T, 3>>(s);                                                                                \
    }                                                                                                                  \
    Vector<T, 4> Serialization::decodeVector4##S(std::shared_ptr<StreamAccess> s)                                      \
    {                                                                                                                  \
        return decode<Vector<T, 4>>(s);                                                                                \
    }                                                                                                                  \
    VectorX<T> Serialization::decodeVectorX##S(std::shared_ptr<StreamAccess> s)                                        \
    {                                                                                                                  \
        return decode<VectorX<T>>(s);                                                                                  \
    }
QUELBO_ELEMENT_TYPES(QUELBO_SERIALIZATION_OF)
#undef QUELBO_SERIALIZATION_OF

#define QUELBO_SERIALIZATION_MATRIX(T, N, S)                                                                           \
    template void Serialization::encode(Matrix<T, N> const&, std::shared_ptr<StreamAccess>);                           \
    template Matrix<T, N> Serialization::decode(std::shared_ptr<StreamAccess>);                                        \
    void Serialization::encodeMatrix##S(Matrix<T, N> const& m, std::shared_ptr<StreamAccess> s)                        \
    {                                                                                                                  \
        encode(m, s);                                                                                                  \
    }                                                                                                                  \
    Matrix<T, N> Serialization::decodeMatrix##S(std::shared_ptr<StreamAccess> s)                                       \
    {                                                                                                                  \
        return decode<Matrix<T, N>>(s);                                                                                \
    }
QUELBO_SERIALIZATION_MATRIX(float, 3, 3f)
QUELBO_SERIALIZATION_MATRIX(float, 4, 4f)
QUELBO_SERIALIZATION_MATRIX(double, 3, 3d)
QUELBO_SERIALIZATION_MATRIX(double, 4, 4d)
#undef QUELBO_SERIALIZATION_MATRIX

} // namespace quelbo
