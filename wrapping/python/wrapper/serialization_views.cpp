// Serialization of image views.
#include "quelbo/image_view.h"
#include "native_types.h"
#include "serialization.h"

namespace qw::serialization {
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

} // namespace

QW_FAMILY(order::serialization_views, &add_view_codec<ImageViewCodec>);

} // namespace qw::serialization
