// Serialization: the static encoders and decoders of vectors, value arrays,
// matrices and views. Every function is an Encoder or a Decoder over a
// traits struct `Tr` (`T` the native value, `enc`/`dec` the Python names,
// `decl` the declared value type, `encode`/`decode` the library operations).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "quelbo/data_type_traits.h"
#include "quelbo/serialization.h"
#include "runtime/declare.h"
#include "native_types.h"

namespace qw::serialization {

using Stream = std::shared_ptr<quelbo::StreamAccess>;
using StreamArg = SharedArg<quelbo::StreamAccess>;

// An encoder: the value (kind V) and the stream, encoded by Tr::encode.
template <class Tr, class V>
struct Encoder : Declare<Encoder<Tr, V>, Params<V, StreamArg>>
{
    static const char* name()
    {
        static const char* fn = Tr::enc();
        return fn;
    }
    static constexpr auto call = [](auto& value, Stream& s) { Tr::encode(value, std::move(s)); };
};

// A decoder: the stream alone; Tr::decode makes the result.
template <class Tr>
struct Decoder : Declare<Decoder<Tr>, Params<StreamArg>>
{
    static const char* name()
    {
        static const char* fn = Tr::dec();
        return fn;
    }
    static constexpr auto call = [](Stream& s) { return Tr::decode(std::move(s)); };
};

// The library's operations for a value type T, the result a new owning
// object. `decl`, in the traits deriving from it, is the value's declared type.
template <class V>
struct ValueCodec
{
    using T = V;
    static void encode(const T& v, Stream s) { quelbo::Serialization::encode(v, std::move(s)); }
    static T decode(Stream s) { return quelbo::Serialization::decode<T>(std::move(s)); }
};

// The encoder of a value given as a sequence (a temporary vector) or as a
// wrapped object of its own class.
template <class Tr>
using SequenceEncoder = Encoder<Tr, Seq<typename Tr::T, &Tr::decl>>;
template <class Tr>
using ObjectEncoder = Encoder<Tr, Ref<typename Tr::T, &Tr::decl>>;

// ------------------------------------------------------------ element types

// The codes of an element type in the names, from its suffix in the
// library's list (u16): the array code is the suffix; the vector code sets a
// width of two digits apart (u_16).
template <const char* Suffix>
struct VectorCode
{
    static constexpr size_t size = text_length(Suffix);
    static constexpr std::array<char, size + 2> chars = [] {
        std::array<char, size + 2> c{};
        size_t n = 0;
        for (size_t i = 0; i < size; ++i) {
            if (i == 1 && size > 2)
                c[n++] = '_';
            c[n++] = Suffix[i];
        }
        return c;
    }();
    static constexpr const char* text = chars.data();
};
template <class E>
struct Code;
#define QW_SERIALIZATION_CODE(E, S, ID)                                                                                \
    template <>                                                                                                        \
    struct Code<E>                                                                                                     \
    {                                                                                                                  \
        static constexpr const char* vector = VectorCode<QW_NAME(#S)>::text;                                           \
        static constexpr const char* array = QW_NAME(#S);                                                              \
    };
QUELBO_ELEMENT_TYPES(QW_SERIALIZATION_CODE)
#undef QW_SERIALIZATION_CODE

// ------------------------------------------------------------------ vectors

// The size in a vector's names (0: dynamic): Vector2 ... VectorX in its class
// name, the dynamic size in lower case in the flat names.
constexpr const char* size_text(std::size_t n, bool flat = false)
{
    return n == 2 ? "2" : n == 3 ? "3" : n == 4 ? "4" : flat ? "x" : "X";
}

// Size N of the vector (0: dynamic); the declared type is the vector's
// template form.
template <class E, std::size_t N>
struct VectorCodec : ValueCodec<std::conditional_t<N == 0, quelbo::VectorX<E>, quelbo::Vector<E, N>>>
{
    using V = std::conditional_t<N == 0, quelbo::VectorX<E>, quelbo::Vector<E, N>>;
    static constexpr const char* decl = Named<const AsTemplate<V>&>::text;
    static constexpr const char* size = size_text(N, true);
    static const char* enc() { return joined("Serialization_encode_vector_", size, Code<E>::vector); }
    static const char* dec() { return joined("Serialization_decode_vector_", size, Code<E>::vector); }
};

// Docstrings of the first member of each size.
const char* vector_encode_doc(std::size_t n);
const char* vector_decode_doc(std::size_t n);

// The encoders of one size in the order of the library's element types, then
// its decoders.
template <std::size_t N>
void add_vector_size(Methods& m)
{
    const char* enc_doc = vector_encode_doc(N);
    quelbo::forEachElement([&](auto e) {
        m.add<SequenceEncoder<VectorCodec<typename decltype(e)::type, N>>>(enc_doc);
        enc_doc = nullptr;
    });
    const char* dec_doc = vector_decode_doc(N);
    quelbo::forEachElement([&](auto e) {
        m.add<Decoder<VectorCodec<typename decltype(e)::type, N>>>(dec_doc);
        dec_doc = nullptr;
    });
}

} // namespace qw::serialization

namespace qw::serialization {

// Views: shared objects, encoded from a handle of their own class (None an
// empty pointer, which the library refuses) and decoded into a new one.
// `Tr`: `T` the view class, `enc`/`dec` names, `decl` the declared type,
// `encode`/`decode` the library operations, `enc_doc`/`dec_doc` the
// docstrings.
template <class Tr>
void add_view_codec(Methods& m)
{
    m.add<Encoder<Tr, SharedArg<typename Tr::T, &Tr::decl>>>(Tr::enc_doc());
    m.add<Decoder<Tr>>(Tr::dec_doc());
}

// The docstrings of a view kind's pair: `name` "ImageView", `param` the
// encoder's value parameter, `article` "an" or "a" before the name.
const char* view_encode_doc(const char* name, const char* param, const char* article);
const char* view_decode_doc(const char* name, const char* article);

} // namespace qw::serialization
