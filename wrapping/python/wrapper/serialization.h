// Serialization: the static encoders and decoders of vectors, value arrays,
// matrices and views. Every function is one of three shapes over a traits
// struct `Tr` (`T` the native value, `enc`/`dec` the Python names, `decl`
// the declared value type of an object encoder):
//   - encode_sequence: a Python sequence becomes a temporary vector;
//   - encode_object: a wrapped object of the value's own class;
//   - decode: the stream alone, the result a new owning object.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include "common/item_parser.h"
#include "quelbo/serialization.h"
#include "runtime/shared.h"
#include "runtime/wrap.h"

namespace qw::serialization {

using Stream = std::shared_ptr<quelbo::StreamAccess>;
constexpr const char* kStream = "std::shared_ptr< quelbo::StreamAccess >";

// An encoder: the value (converted by `convert(object, value)`) and the
// stream, then `act(value, stream)`.
template <class Value, class Convert, class Act>
PyObject* encode_with(PyObject* args, const char* f, Convert&& convert, Act&& act)
{
    PyObject* a[2];
    Value v{};
    Stream s;
    if (!unpack(f, args, 2, 2, a) || !convert(a[0], v) || !shared_arg(a[1], {f, 2, kStream}, s))
        return nullptr;
    return call([&] {
        act(v, std::move(s));
        return none();
    });
}

// A decoder: the stream alone, then `produce(stream)` makes the result.
template <class Produce>
PyObject* decode_with(PyObject* o, const ArgId& a, Produce&& produce)
{
    Stream s;
    if (!shared_arg(o, a, s))
        return nullptr;
    return call([&] { return produce(std::move(s)); });
}

template <class Tr>
struct Codec
{
    using T = typename Tr::T;

    static PyObject* encode_sequence(PyObject*, PyObject* args)
    {
        static const char* f = Tr::enc();
        return encode_with<T>(
            args, f, [](PyObject* o, T& v) { return sequence_to_vector(o, v); },
            [](T const& v, Stream s) { quelbo::Serialization::encode(v, std::move(s)); });
    }

    static PyObject* encode_object(PyObject*, PyObject* args)
    {
        static const char* f = Tr::enc();
        return encode_with<T*>(
            args, f,
            [](PyObject* o, T*& v) {
                return ref(o, {f, 1, Tr::decl()}, v);
            },
            [](T* v, Stream s) { quelbo::Serialization::encode(*v, std::move(s)); });
    }

    static PyObject* decode(PyObject*, PyObject* o)
    {
        static const ArgId a{Tr::dec(), 1, kStream};
        return decode_with(o, a, [](Stream s) { return value(quelbo::Serialization::decode<T>(std::move(s))); });
    }
};

// ------------------------------------------------------------ element types

// The codes of an element type in the names: vector code and array code.
template <class E>
struct Code;
#define QW_SERIALIZATION_CODE(E, vector_code, array_code)                                                              \
    template <>                                                                                                        \
    struct Code<E>                                                                                                     \
    {                                                                                                                  \
        static constexpr const char* vector = vector_code;                                                             \
        static constexpr const char* array = array_code;                                                               \
    }
QW_SERIALIZATION_CODE(uint8_t, "u8", "u8");
QW_SERIALIZATION_CODE(uint16_t, "u_16", "u16");
QW_SERIALIZATION_CODE(uint32_t, "u_32", "u32");
QW_SERIALIZATION_CODE(uint64_t, "u_64", "u64");
QW_SERIALIZATION_CODE(int8_t, "i8", "i8");
QW_SERIALIZATION_CODE(int16_t, "i_16", "i16");
QW_SERIALIZATION_CODE(int32_t, "i_32", "i32");
QW_SERIALIZATION_CODE(int64_t, "i_64", "i64");
QW_SERIALIZATION_CODE(float, "f", "f");
QW_SERIALIZATION_CODE(double, "d", "d");
#undef QW_SERIALIZATION_CODE

template <class... E>
struct Elements
{
};

// ------------------------------------------------------------------ vectors

// Size N of the vector (0: dynamic).
template <class E, std::size_t N>
struct VectorTr
{
    using T = std::conditional_t<N == 0, quelbo::VectorX<E>, quelbo::Vector<E, N>>;
    static constexpr const char* size = N == 2 ? "2" : N == 3 ? "3" : N == 4 ? "4" : "x";
    static const char* enc() { return joined("Serialization_encode_vector_", size, Code<E>::vector); }
    static const char* dec() { return joined("Serialization_decode_vector_", size, Code<E>::vector); }
};

// Docstrings of the first member of each size.
const char* vector_encode_doc(std::size_t n);
const char* vector_decode_doc(std::size_t n);

// The encoders of one size in the order of `Es`, then its decoders.
template <std::size_t N, class... Es>
void add_vectors(Methods& m, Elements<Es...>)
{
    const char* enc_doc = vector_encode_doc(N);
    ((m.add<&Codec<VectorTr<Es, N>>::encode_sequence>(VectorTr<Es, N>::enc(), METH_VARARGS, enc_doc),
      enc_doc = nullptr),
     ...);
    const char* dec_doc = vector_decode_doc(N);
    ((m.add<&Codec<VectorTr<Es, N>>::decode>(VectorTr<Es, N>::dec(), METH_O, dec_doc), dec_doc = nullptr), ...);
}

using VectorOrder = Elements<uint8_t, uint16_t, uint32_t, uint64_t, int8_t, int16_t, int32_t, int64_t, float, double>;

template <std::size_t N>
void add_vector_size(Methods& m)
{
    add_vectors<N>(m, VectorOrder{});
}

} // namespace qw::serialization

namespace qw::serialization {

// Views: shared objects, encoded from a handle of their own class (None an
// empty pointer, which the library refuses) and decoded into a new one.
// `Tr`: `T` the view class, `enc`/`dec` names, `decl` the declared type,
// `encode`/`decode` the library operations.
template <class Tr>
struct ViewCodec
{
    using T = typename Tr::T;

    static PyObject* encode(PyObject*, PyObject* args)
    {
        static const char* f = Tr::enc();
        return encode_with<std::shared_ptr<T>>(
            args, f,
            [](PyObject* o, std::shared_ptr<T>& v) {
                return shared_arg(o, {f, 1, Tr::decl()}, v);
            },
            [](std::shared_ptr<T> const& v, Stream s) { Tr::encode(v, std::move(s)); });
    }

    static PyObject* decode(PyObject*, PyObject* o)
    {
        static const ArgId a{Tr::dec(), 1, kStream};
        return decode_with(o, a, [](Stream s) { return shared(Tr::decode(std::move(s))); });
    }

    static void add(Methods& m)
    {
        m.add<&encode>(Tr::enc(), METH_VARARGS, Tr::enc_doc());
        m.add<&decode>(Tr::dec(), METH_O, Tr::dec_doc());
    }
};

// The docstrings of a view kind's pair: `name` "ImageView", `param` the
// encoder's value parameter, `article` "an" or "a" before the name.
const char* view_encode_doc(const char* name, const char* param, const char* article);
const char* view_decode_doc(const char* name, const char* article);

} // namespace qw::serialization
