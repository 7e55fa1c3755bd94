// ImageViewFactory: the views derived from other views or from the frames of
// a multi-image view.
#include "common/dimension_list.h"
#include "common/item_parser.h"
#include "core_args.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_view_factory.h"
#include "quelbo/multi_image_view.h"
#include "readonly/readonly_args.h"
#include "runtime/declare.h"
#include "runtime/shared.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::ImageDimension;
using quelbo::ImageView;
using quelbo::ImageViewFactory;
using quelbo::MultiImageView;
using ViewPtr = std::shared_ptr<ImageView>;
constexpr auto kMulti = named<std::shared_ptr<quelbo::MultiImageView>>;
constexpr auto kDimension = named<quelbo::ImageDimension>;
constexpr auto kInterpretation = named<quelbo::ImageInterpretation>;
constexpr auto kImageType = named<quelbo::ImageType>;
constexpr auto kRegion = named<const quelbo::RegionXu64&>;
constexpr auto kProperties = named<std::shared_ptr<const quelbo::ImageProperties>>;
constexpr auto kMetadata = named<std::shared_ptr<const quelbo::MetadataNode>>;
constexpr auto kDimensions = named<const quelbo::ImageDimension*>;
constexpr auto kRange = named<const quelbo::Vector2d&>;

using Image = SharedArg<ImageView, text::image>;
using Multi = SharedArg<MultiImageView, kMulti>;
using Dimension = Arg<ImageDimension, kDimension>;
using Size = Arg<size_t, text::size>;

constexpr char kMakeThreadSafe[] = "ImageViewFactory_make_thread_safe";
constexpr char kFlipDimensionIndex[] = "ImageViewFactory_flip_dimension_index";
constexpr char kFlipDimension[] = "ImageViewFactory_flip_dimension";
constexpr char kSubSample[] = "ImageViewFactory_sub_sample";

struct reinterpret_axes : Declare<reinterpret_axes, Params<Image, Dims<kDimensions>>>
{
    static constexpr const char* name = "ImageViewFactory_reinterpret_axes";
    static constexpr const char* doc =
        "Name the dimensions of an image view; they are reordered to the canonical order with a new image type.\n"
        "Nothing is allocated; the result reads and writes as the source does.\n:raises: InvalidArgument if the "
        "image view is empty, Error if the list's size does not match the dimension count.";
    static constexpr auto call = [](ViewPtr view, const std::vector<ImageDimension>& dimensions) {
        return ImageViewFactory::reinterpretAxes(view, dimensions.data(), dimensions.size());
    };
};

constexpr char kReinterpret[] = "ImageViewFactory_reinterpret";
constexpr char kDisassembleChannels[] = "ImageViewFactory_disassemble_channels";
constexpr char kAssembleChannels[] = "ImageViewFactory_assemble_channels";

using Region = Ref<quelbo::RegionXu64, kRegion>;

constexpr char kExtractAdjustedRegion[] = "ImageViewFactory_extract_adjusted_region";
constexpr char kExtractRegion[] = "ImageViewFactory_extract_region";
constexpr char kExtractChannel[] = "ImageViewFactory_extract_channel";
constexpr char kAdaptDataType[] = "ImageViewFactory_adapt_data_type";
constexpr char kFromImageView[] = "ImageViewFactory_from_image_view";

// The candidates of interlace and stack, in dispatch order.
struct interlace_1 : Candidate<Params<Multi>, 1>
{
    static constexpr const char* member = "quelbo::ImageViewFactory::interlace";
    static constexpr ViewPtr (*call)(std::shared_ptr<MultiImageView>) = &ImageViewFactory::interlace;
};
struct interlace_3
    : Candidate<Params<Multi, Arg<quelbo::ImageInterpretation, kInterpretation>, Arg<bool, text::boolean>>, 0>
{
    static constexpr const char* member = "quelbo::ImageViewFactory::interlace";
    static constexpr ViewPtr (*call)(std::shared_ptr<MultiImageView>, quelbo::ImageInterpretation,
                                     bool) = &ImageViewFactory::interlace;
};

struct interlace : DeclareOverloads<interlace, interlace_1, interlace_3>
{
    static constexpr const char* name = "ImageViewFactory_interlace";
    static constexpr const char* doc =
        "Make the frames of a multi-image view the components of one vector sample (interpretation UNKNOWN and "
        "no alpha by default). Nothing is allocated.\n:raises: InvalidArgument if the multi-image view is empty, "
        "for frames of different shape or type, with a CHANNEL dimension, or not scalar.";
};

struct stack_1 : Candidate<Params<Multi>, 1>
{
    static constexpr const char* member = "quelbo::ImageViewFactory::stack";
    static constexpr auto call = [](std::shared_ptr<MultiImageView> multi) { return ImageViewFactory::stack(multi); };
};
struct stack_2 : Candidate<Params<Multi, Dimension>, 0>
{
    static constexpr const char* member = "quelbo::ImageViewFactory::stack";
    static constexpr auto call = [](std::shared_ptr<MultiImageView> multi, ImageDimension dimension) {
        return ImageViewFactory::stack(multi, dimension);
    };
};
struct stack_3 : Candidate<Params<Multi, Dimension, Size>, 2>
{
    static constexpr const char* member = "quelbo::ImageViewFactory::stack";
    static constexpr auto call = [](std::shared_ptr<MultiImageView> multi, ImageDimension dimension, size_t threads) {
        return ImageViewFactory::stack(multi, dimension, threads);
    };
};

struct stack : DeclareOverloads<stack, stack_1, stack_2, stack_3>
{
    static constexpr const char* name = "ImageViewFactory_stack";
    static constexpr const char* doc =
        "Stack the frames of a multi-image view along a new dimension (the last one, with the image type "
        "UNKNOWN, when none is given). threadCount 0 chooses the thread count, 1 turns multithreading off.\n"
        "Nothing is allocated.\n:raises: InvalidArgument if the multi-image view is empty or for frames of "
        "different shape or type.";
};

using Range = Seq<quelbo::Vector2d, kRange>;

constexpr char kAdaptDynamicRange[] = "ImageViewFactory_adapt_dynamic_range";

void add_derived(Methods& m)
{
    m.add<Fn<kMakeThreadSafe, &ImageViewFactory::makeThreadSafe, Image>>(
        "Make an image view whose operations are protected for access from several "
        "threads.\nNothing is allocated; the result has the capabilities of the source.\n"
        ":raises: InvalidArgument if the image view is empty.");
    m.add<Fn<kFlipDimensionIndex, static_cast<ViewPtr (*)(ViewPtr, size_t)>(&ImageViewFactory::flip), Image, Size>>(
        "Flip an image view along the dimension of the given index. Nothing is allocated; the result can only be "
        "read.\n:raises: InvalidArgument if the image view is empty, Error if the source cannot be read, "
        "InvalidArgument if the index is not below the dimension count.");
    m.add<Fn<kFlipDimension, static_cast<ViewPtr (*)(ViewPtr, ImageDimension)>(&ImageViewFactory::flip), Image,
             Dimension>>(
        "Flip an image view along the given dimension. Nothing is allocated; the result can only be read.\n"
        ":raises: InvalidArgument if the image view is empty, Error if the source cannot be read, "
        "InvalidArgument if the image type is unknown or lacks the dimension.");
    m.add<Fn<kSubSample, &ImageViewFactory::subSample, Image, Size>>(
        "Keep one sample of every step along each dimension but CHANNEL; a step of 1 gives the same image.\n"
        "Nothing is allocated; the result can only be read.\n:raises: InvalidArgument if the image view is "
        "empty, if step is 0 or larger than a dimension.");
    m.add<reinterpret_axes>();
    m.add<Fn<kReinterpret, &ImageViewFactory::reinterpret, Image, Ref<quelbo::ImageType, kImageType>>>(
        "Change the image type of an image view: only the properties change, UNKNOWN fits any view.\n"
        ":raises: InvalidArgument if the image view is empty, Error if the image type's dimension count does not "
        "match.");
    m.add<Fn<kDisassembleChannels, &ImageViewFactory::disassembleChannels, Image>>(
        "Turn an N-dimensional view of vector samples into an N+1-dimensional scalar view with a CHANNEL "
        "dimension of the component count. Nothing is allocated; the result can only be read.\n"
        ":raises: InvalidArgument if the image view is empty or already has a CHANNEL dimension.");
    m.add<Fn<kAssembleChannels, &ImageViewFactory::assembleChannels, Image>>(
        "Pack the CHANNEL dimension, or the last dimension when there is none, into one vector sample.\n"
        "Nothing is allocated; the result can only be read.\n:raises: InvalidArgument if the image view is empty.");
    m.add<Fn<kExtractAdjustedRegion, &ImageViewFactory::extractAdjustedRegion, Image, Region>>(
        "A region of an image view whose dimensions of size 1 are dropped. Nothing is allocated.\n"
        ":raises: InvalidArgument if the image view is empty or for an empty region.");
    m.add<Fn<kExtractRegion, &ImageViewFactory::extractRegion, Image, Region>>(
        "A region of an image view. Nothing is allocated.\n:raises: InvalidArgument "
        "if the image view is empty or for an empty region.");
    m.add<Fn<kExtractChannel, &ImageViewFactory::extractChannel, Image, Size>>(
        "One component (0 to the component count minus 1) of an image view of vector samples.\n"
        "Nothing is allocated.\n:raises: InvalidArgument if the image view is empty.");
    m.add<Fn<kAdaptDataType, &ImageViewFactory::adaptDataType, Image, DTypeArg<text::data_type>>>(
        "Map the source's value range onto the standard range of a data type. Nothing is allocated.\n"
        ":raises: InvalidArgument if the image view is empty, if the component count differs or the type is not "
        "numeric.");
    m.add<Fn<kFromImageView, &ImageViewFactory::fromImageView, Image,
             ProxyShared<const quelbo::ImageProperties, kProperties>,
             ProxyShared<const quelbo::MetadataNode, kMetadata>>>(
        "The same image view with other properties (a clone of the source's when empty) and metadata.\n"
        ":raises: InvalidArgument if the image view is empty, Error if the properties do not fit the shape and "
        "type.");
    m.add<interlace>();
    m.add<stack>();
    m.add<Fn<kAdaptDynamicRange, &ImageViewFactory::adaptDynamicRange, Image, DTypeArg<text::data_type>, Range, Range>>(
        "Map inputRange linearly onto outputRange, in a data type; values outside map outside, without "
        "clamping. Nothing is allocated.\n:raises: InvalidArgument if the image view is empty.");
}
QW_FAMILY(order::factories_derived, add_derived);

} // namespace
