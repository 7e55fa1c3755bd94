// Serialization: image and data-frame views, value arrays, matrices, the
// class itself and the docstrings of the vector members.
#include "serialization.h"

#include "native_types.h"
#include "quelbo/data_frame.h"
#include "quelbo/image_view.h"
#include "runtime/members.h"
#include <string>

namespace qw::serialization {
namespace {

QW_TYPE(quelbo::Serialization);

// The common tail of the decoders' docstrings that state the library's
// header checks.
std::string header_raises(const char* kind)
{
    return std::string(":raises: Error if Quelbo version read from stream is not compatible with current version\n"
                       ":raises: Error if read magic number is invalid\n"
                       ":raises: Error if object to decode is not ") +
           kind + "\n";
}

// ---------------------------------------------------------- arrays, matrices

template <class E>
struct ArrayCodec : ValueCodec<quelbo::ArrayX<E>>
{
    static constexpr const char* decl = Named<const quelbo::ArrayX<E>&>::text;
    static const char* enc() { return joined("Serialization_encode_arrayx", Code<E>::array); }
    static const char* dec() { return joined("Serialization_decode_arrayx", Code<E>::array); }
};

// A matrix class's codec: the library's operations for the class, named by
// its code ("3f").
template <class M, const char* Code, void (*Encode)(const M&, Stream), M (*Decode)(Stream)>
struct MatrixCodec
{
    using T = M;
    static constexpr const char* decl = Named<const M&>::text;
    static void encode(const M& m, Stream s) { Encode(m, std::move(s)); }
    static M decode(Stream s) { return Decode(std::move(s)); }
    static const char* enc() { return joined("Serialization_encode_matrix_", Code); }
    static const char* dec() { return joined("Serialization_decode_matrix_", Code); }
};
#define QW_MATRIX_CODEC(S)                                                                                             \
    constexpr char kCode##S[] = #S;                                                                                    \
    using MatrixCodec##S = MatrixCodec<quelbo::Matrix##S, kCode##S, &quelbo::Serialization::encodeMatrix##S,           \
                                       &quelbo::Serialization::decodeMatrix##S>
QW_MATRIX_CODEC(3f);
QW_MATRIX_CODEC(4f);
QW_MATRIX_CODEC(3d);
QW_MATRIX_CODEC(4d);
#undef QW_MATRIX_CODEC

// A group of members: the encoders in order, then the decoders; the first of
// each carries the group's docstring.
template <class... Trs>
void add_group(Methods& m, const char* enc_doc, const char* dec_doc)
{
    ((m.add<ObjectEncoder<Trs>>(enc_doc), enc_doc = nullptr), ...);
    ((m.add<Decoder<Trs>>(dec_doc), dec_doc = nullptr), ...);
}

void add_arrays(Methods& m)
{
    const char* enc = "\nSerialize an Array into a stream.\n\n"
                      ":type src: :py:class:`ArrayXi8`\n"
                      ":param src: The array to encode.\n"
                      ":type dst: :py:class:`StreamAccess`\n"
                      ":param dst: The stream where the encoded data is written.\n";
    const char* dec = "\nDecode an array from a stream.\n\n"
                      ":type src: :py:class:`StreamAccess`\n"
                      ":param src: The stream to decode from.\n\n"
                      ":rtype: :py:class:`ArrayXi8`\n"
                      ":return: The decoded array.\n";
    // The docstrings name ArrayXi8: its codecs carry them.
    quelbo::forEachElement([&](auto e) {
        using E = typename decltype(e)::type;
        m.add<ObjectEncoder<ArrayCodec<E>>>(std::is_same<E, int8_t>::value ? enc : nullptr);
    });
    quelbo::forEachElement([&](auto e) {
        using E = typename decltype(e)::type;
        m.add<Decoder<ArrayCodec<E>>>(std::is_same<E, int8_t>::value ? dec : nullptr);
    });
}

void add_matrices(Methods& m)
{
    static const char* enc = "\nFactory to serialize a Matrix into a stream.\n"
                             ":type mat: :py:class:`Matrix3f`\n"
                             ":param mat: Matrix to serialize\n"
                             ":type outStream: :py:class:`StreamAccess`\n"
                             ":param outStream: Stream where data is written\n";
    static const char* dec = intern(
        "\nFactory to unserialize a Matrix from a stream.\n"
        ":type inStream: :py:class:`StreamAccess`\n"
        ":param inStream: Stream from where data is read\n"
        ":rtype: :py:class:`Matrix3f`\n"
        ":return: a Matrix built from input Stream\n" +
        header_raises("a Matrix") +
        ":raises: Error if data type or dimension read from stream is not compatible with requested matrix type\n");
    add_group<MatrixCodec3f, MatrixCodec4f, MatrixCodec3d, MatrixCodec4d>(m, enc, dec);
}

using SerializationTr = Traits<quelbo::Serialization>;

void add_class(Methods& m)
{
    qw::add_class<SerializationTr>(m);
}

} // namespace

const char* vector_encode_doc(std::size_t n)
{
    const std::string v = std::string("Vector") + size_text(n);
    return intern("\nFactory to serialize a " + v +
                  " into a stream.\n"
                  ":type vect: :py:class:`" +
                  v +
                  "u8`\n"
                  ":param vect: " +
                  v +
                  " to serialize\n"
                  ":type outStream: :py:class:`StreamAccess`\n"
                  ":param outStream: Stream where data is written\n");
}

const char* vector_decode_doc(std::size_t n)
{
    const std::string v = std::string("Vector") + size_text(n);
    const std::string first = n == 3 ? "Method to load a " + v + " which has been serialized into a stream."
                                     : "Factory to unserialize a " + v + " from a stream.";
    return intern("\n" + first +
                  "\n"
                  ":type inStream: :py:class:`StreamAccess`\n"
                  ":param inStream: Stream from where data is read\n"
                  ":rtype: :py:class:`" +
                  v +
                  "u8`\n"
                  ":return: a " +
                  v + " built from input Stream\n" + header_raises("a Vector") +
                  ":raises: Error if data type read from stream is not compatible with requested vector type\n");
}

const char* view_encode_doc(const char* name, const char* param, const char* article)
{
    const std::string n = name, p = param;
    return intern("\nFactory to serialize " + std::string(article) + " " + n +
                  " into a stream.\n"
                  ":type " +
                  p + ": :py:class:`" + n +
                  "`\n"
                  ":param " +
                  p + ": " + n +
                  " to serialize\n"
                  ":type outStream: :py:class:`StreamAccess`\n"
                  ":param outStream: Stream where data is written\n"
                  ":raises: Error if " +
                  n + " has not READ capacity\n");
}

const char* view_decode_doc(const char* name, const char* article)
{
    const std::string n = name;
    return intern("\nFactory to unserialize " + std::string(article) + " " + n +
                  " from a stream.\n"
                  ":type inStream: :py:class:`StreamAccess`\n"
                  ":param inStream: Stream from where data is read\n"
                  ":rtype: :py:class:`" +
                  n +
                  "`\n"
                  ":return: a in-memory " +
                  n + " built from input Stream\n" + header_raises((std::string(article) + " " + n).c_str()) +
                  ":raises: Error if decoding issue (synchronization tag not found)\n");
}

// ------------------------------------------------------------ view kinds

namespace {

struct ImageViewCodec
{
    using T = quelbo::ImageView;
    static const char* enc() { return "Serialization_encode_image_view"; }
    static const char* dec() { return "Serialization_decode_image_view"; }
    static constexpr const char* decl = Named<std::shared_ptr<T>>::text;
    static const char* enc_doc() { return view_encode_doc("ImageView", "image", "an"); }
    static const char* dec_doc() { return view_decode_doc("ImageView", "an"); }
    static void encode(std::shared_ptr<T> v, Stream s) { quelbo::Serialization::encodeImageView(v, s); }
    static std::shared_ptr<T> decode(Stream s) { return quelbo::Serialization::decodeImageView(s); }
};

struct DataFrameViewCodec
{
    using T = quelbo::DataFrameView;
    static const char* enc() { return "Serialization_encode_data_frame_view"; }
    static const char* dec() { return "Serialization_decode_data_frame_view"; }
    static constexpr const char* decl = Named<std::shared_ptr<T>>::text;
    static const char* enc_doc() { return view_encode_doc("DataFrameView", "dataFrame", "a"); }
    static const char* dec_doc() { return view_decode_doc("DataFrameView", "a"); }
    static void encode(std::shared_ptr<T> v, Stream s) { quelbo::Serialization::encodeDataFrameView(v, s); }
    static std::shared_ptr<T> decode(Stream s) { return quelbo::Serialization::decodeDataFrameView(s); }
};

} // namespace

QW_FAMILY(&add_view_codec<ImageViewCodec>);
QW_FAMILY(&add_view_codec<DataFrameViewCodec>);
QW_FAMILY(&add_arrays);
QW_FAMILY(&add_matrices);
QW_FAMILY(&add_class);

} // namespace qw::serialization
