// Serialization of data-frame views.
#include "quelbo/data_frame.h"
#include "native_types.h"
#include "serialization.h"

namespace qw::serialization {
namespace {

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

QW_FAMILY(order::serialization_frames, &add_view_codec<DataFrameViewCodec>);

} // namespace qw::serialization
