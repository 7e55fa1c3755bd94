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

namespace {

using namespace qw;
using quelbo::ImageDimension;
using quelbo::ImageView;
using quelbo::ImageViewFactory;
using quelbo::MultiImageView;
using ViewPtr = std::shared_ptr<ImageView>;
constexpr char kMulti[] = "std::shared_ptr< quelbo::MultiImageView >";
constexpr char kDimension[] = "quelbo::ImageDimension";
constexpr char kInterpretation[] = "quelbo::ImageInterpretation";
constexpr char kImageType[] = "quelbo::ImageType";
constexpr char kRegion[] = "quelbo::RegionXu64 const &";
constexpr char kProperties[] = "std::shared_ptr< quelbo::ImageProperties const >";
constexpr char kMetadata[] = "std::shared_ptr< quelbo::MetadataNode const >";
constexpr char kDimensions[] = "quelbo::ImageDimension const *";
constexpr char kRange[] = "quelbo::Vector2d const &";

using Image = SharedArg<ImageView, text::image>;
using Multi = SharedArg<MultiImageView, kMulti>;
using Dimension = Arg<ImageDimension, kDimension>;
using Size = Arg<size_t, text::size>;

struct make_thread_safe : Declare<make_thread_safe, Params<Image>>
{
    static constexpr const char* name = "ImageViewFactory_make_thread_safe";
    static constexpr const char* doc =
        "Make an image view whose operations are protected for access from several "
        "threads.\nNothing is allocated; the result has the capabilities of the source.\n"
        ":raises: InvalidArgument if the image view is empty.";
    static constexpr auto call = &ImageViewFactory::makeThreadSafe;
};

struct flip_dimension_index : Declare<flip_dimension_index, Params<Image, Size>>
{
    static constexpr const char* name = "ImageViewFactory_flip_dimension_index";
    static constexpr const char* doc =
        "Flip an image view along the dimension of the given index. Nothing is allocated; the result can only be "
        "read.\n:raises: InvalidArgument if the image view is empty, Error if the source cannot be read, "
        "InvalidArgument if the index is not below the dimension count.";
    static constexpr ViewPtr (*call)(ViewPtr, size_t) = &ImageViewFactory::flip;
};

struct flip_dimension : Declare<flip_dimension, Params<Image, Dimension>>
{
    static constexpr const char* name = "ImageViewFactory_flip_dimension";
    static constexpr const char* doc =
        "Flip an image view along the given dimension. Nothing is allocated; the result can only be read.\n"
        ":raises: InvalidArgument if the image view is empty, Error if the source cannot be read, "
        "InvalidArgument if the image type is unknown or lacks the dimension.";
    static constexpr ViewPtr (*call)(ViewPtr, ImageDimension) = &ImageViewFactory::flip;
};

struct sub_sample : Declare<sub_sample, Params<Image, Size>>
{
    static constexpr const char* name = "ImageViewFactory_sub_sample";
    static constexpr const char* doc =
        "Keep one sample of every step along each dimension but CHANNEL; a step of 1 gives the same image.\n"
        "Nothing is allocated; the result can only be read.\n:raises: InvalidArgument if the image view is "
        "empty, if step is 0 or larger than a dimension.";
    static constexpr auto call = &ImageViewFactory::subSample;
};

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

struct reinterpret : Declare<reinterpret, Params<Image, Ref<quelbo::ImageType, kImageType>>>
{
    static constexpr const char* name = "ImageViewFactory_reinterpret";
    static constexpr const char* doc =
        "Change the image type of an image view: only the properties change, UNKNOWN fits any view.\n"
        ":raises: InvalidArgument if the image view is empty, Error if the image type's dimension count does not "
        "match.";
    static constexpr auto call = &ImageViewFactory::reinterpret;
};

struct disassemble_channels : Declare<disassemble_channels, Params<Image>>
{
    static constexpr const char* name = "ImageViewFactory_disassemble_channels";
    static constexpr const char* doc =
        "Turn an N-dimensional view of vector samples into an N+1-dimensional scalar view with a CHANNEL "
        "dimension of the component count. Nothing is allocated; the result can only be read.\n"
        ":raises: InvalidArgument if the image view is empty or already has a CHANNEL dimension.";
    static constexpr auto call = &ImageViewFactory::disassembleChannels;
};

struct assemble_channels : Declare<assemble_channels, Params<Image>>
{
    static constexpr const char* name = "ImageViewFactory_assemble_channels";
    static constexpr const char* doc =
        "Pack the CHANNEL dimension, or the last dimension when there is none, into one vector sample.\n"
        "Nothing is allocated; the result can only be read.\n:raises: InvalidArgument if the image view is empty.";
    static constexpr auto call = &ImageViewFactory::assembleChannels;
};

using Region = Ref<quelbo::RegionXu64, kRegion>;

struct extract_adjusted_region : Declare<extract_adjusted_region, Params<Image, Region>>
{
    static constexpr const char* name = "ImageViewFactory_extract_adjusted_region";
    static constexpr const char* doc =
        "A region of an image view whose dimensions of size 1 are dropped. Nothing is allocated.\n"
        ":raises: InvalidArgument if the image view is empty or for an empty region.";
    static constexpr auto call = &ImageViewFactory::extractAdjustedRegion;
};

struct extract_region : Declare<extract_region, Params<Image, Region>>
{
    static constexpr const char* name = "ImageViewFactory_extract_region";
    static constexpr const char* doc = "A region of an image view. Nothing is allocated.\n:raises: InvalidArgument "
                                       "if the image view is empty or for an empty region.";
    static constexpr auto call = &ImageViewFactory::extractRegion;
};

struct extract_channel : Declare<extract_channel, Params<Image, Size>>
{
    static constexpr const char* name = "ImageViewFactory_extract_channel";
    static constexpr const char* doc =
        "One component (0 to the component count minus 1) of an image view of vector samples.\n"
        "Nothing is allocated.\n:raises: InvalidArgument if the image view is empty.";
    static constexpr auto call = &ImageViewFactory::extractChannel;
};

struct adapt_data_type : Declare<adapt_data_type, Params<Image, DTypeArg<text::data_type>>>
{
    static constexpr const char* name = "ImageViewFactory_adapt_data_type";
    static constexpr const char* doc =
        "Map the source's value range onto the standard range of a data type. Nothing is allocated.\n"
        ":raises: InvalidArgument if the image view is empty, if the component count differs or the type is not "
        "numeric.";
    static constexpr auto call = &ImageViewFactory::adaptDataType;
};

struct from_image_view : Declare<from_image_view, Params<Image, ProxyShared<const quelbo::ImageProperties, kProperties>,
                                                         ProxyShared<const quelbo::MetadataNode, kMetadata>>>
{
    static constexpr const char* name = "ImageViewFactory_from_image_view";
    static constexpr const char* doc =
        "The same image view with other properties (a clone of the source's when empty) and metadata.\n"
        ":raises: InvalidArgument if the image view is empty, Error if the properties do not fit the shape and "
        "type.";
    static constexpr auto call = &ImageViewFactory::fromImageView;
};

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

struct adapt_dynamic_range : Declare<adapt_dynamic_range, Params<Image, DTypeArg<text::data_type>, Range, Range>>
{
    static constexpr const char* name = "ImageViewFactory_adapt_dynamic_range";
    static constexpr const char* doc =
        "Map inputRange linearly onto outputRange, in a data type; values outside map outside, without "
        "clamping. Nothing is allocated.\n:raises: InvalidArgument if the image view is empty.";
    static constexpr auto call = &ImageViewFactory::adaptDynamicRange;
};

void add_derived(Methods& m)
{
    m.add<make_thread_safe>();
    m.add<flip_dimension_index>();
    m.add<flip_dimension>();
    m.add<sub_sample>();
    m.add<reinterpret_axes>();
    m.add<reinterpret>();
    m.add<disassemble_channels>();
    m.add<assemble_channels>();
    m.add<extract_adjusted_region>();
    m.add<extract_region>();
    m.add<extract_channel>();
    m.add<adapt_data_type>();
    m.add<from_image_view>();
    m.add<interlace>();
    m.add<stack>();
    m.add<adapt_dynamic_range>();
}
QW_FAMILY(order::factories_derived, add_derived);

} // namespace
