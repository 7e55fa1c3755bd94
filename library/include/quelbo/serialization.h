// Serialization: values and views encoded into streams and decoded back.
#pragma once
#include <cstdint>
#include <memory>

#include "quelbo/array.h"
#include "quelbo/element_types.h"
#include "quelbo/export.h"
#include "quelbo/matrix.h"
#include "quelbo/stream_access.h"
#include "quelbo/vector.h"

namespace quelbo {

class ImageView;
class DataFrameView;

// Encodes values and views into streams and decodes them back, in the byte
// format of library/SERIALIZATION.md. Every operation is static.
//
// An encoder checks everything it can (a stream, its WRITE capability, what
// the value needs) before writing its first byte, and throws Error when a
// stream takes fewer bytes than given. A decoder reads exactly one record; it
// treats the stream as untrusted input and throws Error (never an oversized
// allocation) for a record that is truncated, corrupt, of another version,
// kind or data type.
class QUELBO_API Serialization
{
public:
    static void encodeImageView(std::shared_ptr<ImageView> image, std::shared_ptr<StreamAccess> outStream);
    static std::shared_ptr<ImageView> decodeImageView(std::shared_ptr<StreamAccess> inStream);
    static void encodeDataFrameView(std::shared_ptr<DataFrameView> dataFrame, std::shared_ptr<StreamAccess> outStream);
    static std::shared_ptr<DataFrameView> decodeDataFrameView(std::shared_ptr<StreamAccess> inStream);

#define QUELBO_SERIALIZATION_OF(T, S, ID)                                                                              \
    static void encodeArrayX##S(ArrayX<T> const& src, std::shared_ptr<StreamAccess> dst);                              \
    static ArrayX<T> decodeArrayX##S(std::shared_ptr<StreamAccess> src);                                               \
    static void encodeVector2##S(Vector<T, 2> const& vect, std::shared_ptr<StreamAccess> outStream);                   \
    static void encodeVector3##S(Vector<T, 3> const& vect, std::shared_ptr<StreamAccess> outStream);                   \
    static void encodeVector4##S(Vector<T, 4> const& vect, std::shared_ptr<StreamAccess> outStream);                   \
    static void encodeVectorX##S(VectorX<T> const& vect, std::shared_ptr<StreamAccess> outStream);                     \
    static Vector<T, 2> decodeVector2##S(std::shared_ptr<StreamAccess> inStream);                                      \
    static Vector<T, 3> decodeVector3##S(std::shared_ptr<StreamAccess> inStream);                                      \
    static Vector<T, 4> decodeVector4##S(std::shared_ptr<StreamAccess> inStream);                                      \
    static VectorX<T> decodeVectorX##S(std::shared_ptr<StreamAccess> inStream);
    QUELBO_ELEMENT_TYPES(QUELBO_SERIALIZATION_OF)
#undef QUELBO_SERIALIZATION_OF

    static void encodeMatrix3f(Matrix<float, 3> const& mat, std::shared_ptr<StreamAccess> outStream);
    static void encodeMatrix4f(Matrix<float, 4> const& mat, std::shared_ptr<StreamAccess> outStream);
    static void encodeMatrix3d(Matrix<double, 3> const& mat, std::shared_ptr<StreamAccess> outStream);
    static void encodeMatrix4d(Matrix<double, 4> const& mat, std::shared_ptr<StreamAccess> outStream);
    static Matrix<float, 3> decodeMatrix3f(std::shared_ptr<StreamAccess> inStream);
    static Matrix<float, 4> decodeMatrix4f(std::shared_ptr<StreamAccess> inStream);
    static Matrix<double, 3> decodeMatrix3d(std::shared_ptr<StreamAccess> inStream);
    static Matrix<double, 4> decodeMatrix4d(std::shared_ptr<StreamAccess> inStream);

    // The same operations as templates over the value type, for generic code.
    template <class V>
    static void encode(V const& value, std::shared_ptr<StreamAccess> outStream);
    template <class V>
    static V decode(std::shared_ptr<StreamAccess> inStream);
};

} // namespace quelbo
