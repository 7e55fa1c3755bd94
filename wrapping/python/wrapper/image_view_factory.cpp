// ImageViewFactory: views allocated in memory, uniform views, views over
// caller memory and copies in memory; views derived from other views or from
// the frames of a multi-image view; views over a random-access store and in
// temporary files.
#include "quelbo/image_view_factory.h"
#include "buffer_args.h"
#include "common/dimension_list.h"
#include "core_args.h"
#include "quelbo/image_properties.h"
#include "quelbo/multi_image_view.h"
#include "quelbo/random_access.h"
#include "readonly/readonly_args.h"
#include "runtime/declare.h"
#include "runtime/item_parser.h"
#include "runtime/members.h"
#include "runtime/shared.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::ImageDimension;
using quelbo::ImageProperties;
using quelbo::ImageView;
using quelbo::ImageViewFactory;
using quelbo::MetadataNode;
using quelbo::MultiImageView;
using ViewPtr = std::shared_ptr<ImageView>;

QW_TYPE(ImageViewFactory);

using FactoryTr = Traits<ImageViewFactory>;

using Shape = Seq<quelbo::VectorXu64>;
using Type = DTypeArg<>;
using Properties = ProxyShared<ImageProperties>;
using Image = SharedArg<ImageView>;

// -------------------------------------------------------------- in memory

struct allocate_2 : Candidate<Params<Shape, Type>, 1>
{
    static constexpr const char* member = member_of<ImageViewFactory, QW_NAME("allocate")>;
    static constexpr auto call = [](const quelbo::VectorXu64& shape, quelbo::DataType type) {
        return ImageViewFactory::allocate(shape, type);
    };
};
struct allocate_4 : Candidate<Params<Shape, Type, Properties, ProxyShared<MetadataNode>>, 0>
{
    static constexpr const char* member = member_of<ImageViewFactory, QW_NAME("allocate")>;
    static constexpr auto call = [](const quelbo::VectorXu64& shape, quelbo::DataType type,
                                    std::shared_ptr<ImageProperties> properties,
                                    std::shared_ptr<MetadataNode> metadata) {
        return ImageViewFactory::allocate(shape, type, properties, metadata);
    };
};

struct allocate : DeclareOverloads<allocate, allocate_2, allocate_4>
{
    static constexpr const char* name = "ImageViewFactory_allocate";
    static constexpr const char* doc =
        "Allocate a new image in memory.\nCapabilities of the returned view: READ, WRITE, BUFFER, RESHAPE.\nWith "
        "empty properties, default properties are generated.\n:raises: Error if the given properties are not "
        "compatible with the shape and type.";
};

struct uniform : Declare<uniform, Params<Shape, Type, Source<>, Properties, ProxyShared<const MetadataNode>>>
{
    static constexpr const char* name = "ImageViewFactory__uniform";
    static constexpr auto call = [](const quelbo::VectorXu64& shape, quelbo::DataType type, Buffer& value,
                                    std::shared_ptr<ImageProperties> properties,
                                    std::shared_ptr<const MetadataNode> metadata) {
        return ImageViewFactory::uniform(shape, type, value.data, value.size, properties, metadata);
    };
};

// The view keeps the buffer exported (and so alive and unresized) as long as
// it, or anything made from its memory, lives.
struct from_buffer
    : Declare<from_buffer, Params<Shape, Type, Kept<&kMemorySize>, Properties, ProxyShared<MetadataNode>>>
{
    static constexpr const char* name = "ImageViewFactory___from_buffer";
    static constexpr auto call = [](const quelbo::VectorXu64& shape, quelbo::DataType type,
                                    quelbo::BorrowedMemory&& memory, std::shared_ptr<ImageProperties> properties,
                                    std::shared_ptr<MetadataNode> metadata) {
        return ImageViewFactory::fromBuffer(shape, type, std::move(memory), properties, metadata);
    };
};

void add_image_view_factory(Methods& m)
{
    m.add<allocate>();
    m.add<uniform>();
    m.add<from_buffer>();
    m.add<
        Fn<QW_NAME("ImageViewFactory_copy_in_memory"), &ImageViewFactory::copyInMemory, SharedArg<quelbo::ImageView>>>(
        "Copy an image in memory.\nMemory is allocated and the data copied when the source is not in memory; "
        "a source already in memory is returned itself.\nCapabilities of the returned view: READ, WRITE, BUFFER, "
        "RESHAPE.\n:raises: InvalidArgument if the source is empty or its properties are not valid, Error if "
        "it does not support READ.");
    add_class<FactoryTr>(m);
}
QW_FAMILY(add_image_view_factory);

// ---------------------------------------------------------- derived views

constexpr auto kImageType = named<quelbo::ImageType>;
constexpr auto kProperties = named<std::shared_ptr<const quelbo::ImageProperties>>;
constexpr auto kDimensions = named<const quelbo::ImageDimension*>;

using Multi = SharedArg<MultiImageView>;
using Dimension = Arg<ImageDimension>;
using Size = Arg<size_t, text::size>;

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

using Region = Ref<quelbo::RegionXu64>;

// The candidates of interlace and stack, in dispatch order.
struct interlace_1 : Candidate<Params<Multi>, 1>
{
    static constexpr const char* member = member_of<ImageViewFactory, QW_NAME("interlace")>;
    static constexpr ViewPtr (*call)(std::shared_ptr<MultiImageView>) = &ImageViewFactory::interlace;
};
struct interlace_3 : Candidate<Params<Multi, Arg<quelbo::ImageInterpretation>, Arg<bool, text::boolean>>, 0>
{
    static constexpr const char* member = member_of<ImageViewFactory, QW_NAME("interlace")>;
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
    static constexpr const char* member = member_of<ImageViewFactory, QW_NAME("stack")>;
    static constexpr auto call = [](std::shared_ptr<MultiImageView> multi) { return ImageViewFactory::stack(multi); };
};
struct stack_2 : Candidate<Params<Multi, Dimension>, 0>
{
    static constexpr const char* member = member_of<ImageViewFactory, QW_NAME("stack")>;
    static constexpr auto call = [](std::shared_ptr<MultiImageView> multi, ImageDimension dimension) {
        return ImageViewFactory::stack(multi, dimension);
    };
};
struct stack_3 : Candidate<Params<Multi, Dimension, Size>, 2>
{
    static constexpr const char* member = member_of<ImageViewFactory, QW_NAME("stack")>;
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

using Range = Seq<quelbo::Vector2d>;

void add_derived(Methods& m)
{
    m.add<Fn<QW_NAME("ImageViewFactory_make_thread_safe"), &ImageViewFactory::makeThreadSafe, Image>>(
        "Make an image view whose operations are protected for access from several "
        "threads.\nNothing is allocated; the result has the capabilities of the source.\n"
        ":raises: InvalidArgument if the image view is empty.");
    m.add<Fn<QW_NAME("ImageViewFactory_flip_dimension_index"),
             static_cast<ViewPtr (*)(ViewPtr, size_t)>(&ImageViewFactory::flip), Image, Size>>(
        "Flip an image view along the dimension of the given index. Nothing is allocated; the result can only be "
        "read.\n:raises: InvalidArgument if the image view is empty, Error if the source cannot be read, "
        "InvalidArgument if the index is not below the dimension count.");
    m.add<Fn<QW_NAME("ImageViewFactory_flip_dimension"),
             static_cast<ViewPtr (*)(ViewPtr, ImageDimension)>(&ImageViewFactory::flip), Image, Dimension>>(
        "Flip an image view along the given dimension. Nothing is allocated; the result can only be read.\n"
        ":raises: InvalidArgument if the image view is empty, Error if the source cannot be read, "
        "InvalidArgument if the image type is unknown or lacks the dimension.");
    m.add<Fn<QW_NAME("ImageViewFactory_sub_sample"), &ImageViewFactory::subSample, Image, Size>>(
        "Keep one sample of every step along each dimension but CHANNEL; a step of 1 gives the same image.\n"
        "Nothing is allocated; the result can only be read.\n:raises: InvalidArgument if the image view is "
        "empty, if step is 0 or larger than a dimension.");
    m.add<reinterpret_axes>();
    m.add<Fn<QW_NAME("ImageViewFactory_reinterpret"), &ImageViewFactory::reinterpret, Image,
             Ref<quelbo::ImageType, kImageType>>>(
        "Change the image type of an image view: only the properties change, UNKNOWN fits any view.\n"
        ":raises: InvalidArgument if the image view is empty, Error if the image type's dimension count does not "
        "match.");
    m.add<Fn<QW_NAME("ImageViewFactory_disassemble_channels"), &ImageViewFactory::disassembleChannels, Image>>(
        "Turn an N-dimensional view of vector samples into an N+1-dimensional scalar view with a CHANNEL "
        "dimension of the component count. Nothing is allocated; the result can only be read.\n"
        ":raises: InvalidArgument if the image view is empty or already has a CHANNEL dimension.");
    m.add<Fn<QW_NAME("ImageViewFactory_assemble_channels"), &ImageViewFactory::assembleChannels, Image>>(
        "Pack the CHANNEL dimension, or the last dimension when there is none, into one vector sample.\n"
        "Nothing is allocated; the result can only be read.\n:raises: InvalidArgument if the image view is empty.");
    m.add<Fn<QW_NAME("ImageViewFactory_extract_adjusted_region"), &ImageViewFactory::extractAdjustedRegion, Image,
             Region>>("A region of an image view whose dimensions of size 1 are dropped. Nothing is allocated.\n"
                      ":raises: InvalidArgument if the image view is empty or for an empty region.");
    m.add<Fn<QW_NAME("ImageViewFactory_extract_region"), &ImageViewFactory::extractRegion, Image, Region>>(
        "A region of an image view. Nothing is allocated.\n:raises: InvalidArgument "
        "if the image view is empty or for an empty region.");
    m.add<Fn<QW_NAME("ImageViewFactory_extract_channel"), &ImageViewFactory::extractChannel, Image, Size>>(
        "One component (0 to the component count minus 1) of an image view of vector samples.\n"
        "Nothing is allocated.\n:raises: InvalidArgument if the image view is empty.");
    m.add<Fn<QW_NAME("ImageViewFactory_adapt_data_type"), &ImageViewFactory::adaptDataType, Image, DTypeArg<>>>(
        "Map the source's value range onto the standard range of a data type. Nothing is allocated.\n"
        ":raises: InvalidArgument if the image view is empty, if the component count differs or the type is not "
        "numeric.");
    m.add<Fn<QW_NAME("ImageViewFactory_from_image_view"), &ImageViewFactory::fromImageView, Image,
             ProxyShared<const quelbo::ImageProperties, kProperties>, ProxyShared<const quelbo::MetadataNode>>>(
        "The same image view with other properties (a clone of the source's when empty) and metadata.\n"
        ":raises: InvalidArgument if the image view is empty, Error if the properties do not fit the shape and "
        "type.");
    m.add<interlace>();
    m.add<stack>();
    m.add<Fn<QW_NAME("ImageViewFactory_adapt_dynamic_range"), &ImageViewFactory::adaptDynamicRange, Image, DTypeArg<>,
             Range, Range>>(
        "Map inputRange linearly onto outputRange, in a data type; values outside map outside, without "
        "clamping. Nothing is allocated.\n:raises: InvalidArgument if the image view is empty.");
}
QW_FAMILY(add_derived);

// ----------------------------------------------------------- stored views

constexpr auto kStore = named<std::shared_ptr<quelbo::RandomAccess>>, kLayout = named<quelbo::MemoryLayout>,
               kConstType = named<const quelbo::DataType>,
               kFixedMetadata = named<const std::shared_ptr<const quelbo::MetadataNode>>,
               kDir = named<const std::string&>;

using Store = SharedArg<quelbo::RandomAccess, kStore>;
using Layout = Arg<quelbo::MemoryLayout, kLayout>;
using Dir = Arg<std::string, kDir>;
using Shaped = const quelbo::VectorXu64&;
using Props = std::shared_ptr<ImageProperties>;

// ------------------------------------------------------ from_random_access

template <class P, int Place>
struct FromStore : Candidate<P, Place>
{
    static constexpr const char* member = member_of<ImageViewFactory, QW_NAME("fromRandomAccess")>;
};
struct from_store_3 : FromStore<Params<Store, Shape, DTypeArg<kConstType>>, 3>
{
    static constexpr auto call = [](std::shared_ptr<quelbo::RandomAccess> store, Shaped shape, quelbo::DataType type) {
        return ImageViewFactory::fromRandomAccess(store, shape, type);
    };
};
struct from_store_4 : FromStore<Params<Store, Layout, Shape, DTypeArg<kConstType>>, 1>
{
    static constexpr auto call = [](std::shared_ptr<quelbo::RandomAccess> store, quelbo::MemoryLayout layout,
                                    Shaped shape, quelbo::DataType type) {
        return ImageViewFactory::fromRandomAccess(store, layout, shape, type);
    };
};
struct from_store_5
    : FromStore<Params<Store, Shape, DTypeArg<kConstType>, Properties, ProxyShared<const MetadataNode>>, 2>
{
    static constexpr auto call = [](std::shared_ptr<quelbo::RandomAccess> store, Shaped shape, quelbo::DataType type,
                                    Props properties, std::shared_ptr<const MetadataNode> metadata) {
        return ImageViewFactory::fromRandomAccess(store, shape, type, properties, metadata);
    };
};
struct from_store_6 : FromStore<Params<Store, Layout, Shape, DTypeArg<kConstType>, Properties,
                                       ProxyShared<const MetadataNode, kFixedMetadata>>,
                                0>
{
    static constexpr auto call = [](std::shared_ptr<quelbo::RandomAccess> store, quelbo::MemoryLayout layout,
                                    Shaped shape, quelbo::DataType type, Props properties,
                                    std::shared_ptr<const MetadataNode> metadata) {
        return ImageViewFactory::fromRandomAccess(store, layout, shape, type, properties, metadata);
    };
};
struct from_random_access : DeclareOverloads<from_random_access, from_store_3, from_store_4, from_store_5, from_store_6>
{
    static constexpr const char* name = "ImageViewFactory_from_random_access";
    static constexpr const char* doc =
        "Create an image view over a random-access storage; no memory is allocated, the view reads and writes "
        "the storage.\nThe forms without layout use the FORTRAN memory layout; with empty properties, default "
        "properties are generated; the metadata are attached to the view.\nThe returned view has the "
        "capabilities READ and WRITE.\n:raises: InvalidArgument if the accessor is empty or the storage cannot "
        "hold the image; Error if the properties are not compatible with the shape and type.";
};

// ---------------------------------------------------------- create_on_disk

using Metadata = ProxyShared<MetadataNode>;
using Meta = std::shared_ptr<MetadataNode>;

template <class P, int Place>
struct OnDisk : Candidate<P, Place>
{
    static constexpr const char* member = member_of<ImageViewFactory, QW_NAME("createOnDisk")>;
};
struct on_disk_2 : OnDisk<Params<Shape, DTypeArg<>>, 3>
{
    static constexpr auto call = [](Shaped shape, quelbo::DataType type) {
        return ImageViewFactory::createOnDisk(shape, type);
    };
};
struct on_disk_3 : OnDisk<Params<Dir, Shape, DTypeArg<>>, 1>
{
    static constexpr auto call = [](const std::string& dir, Shaped shape, quelbo::DataType type) {
        return ImageViewFactory::createOnDisk(dir, shape, type);
    };
};
struct on_disk_4 : OnDisk<Params<Shape, DTypeArg<>, Properties, Metadata>, 2>
{
    static constexpr auto call = [](Shaped shape, quelbo::DataType type, Props properties, Meta metadata) {
        return ImageViewFactory::createOnDisk(shape, type, properties, metadata);
    };
};
struct on_disk_5 : OnDisk<Params<Dir, Shape, DTypeArg<>, Properties, Metadata>, 0>
{
    static constexpr auto call = [](const std::string& dir, Shaped shape, quelbo::DataType type, Props properties,
                                    Meta metadata) {
        return ImageViewFactory::createOnDisk(dir, shape, type, properties, metadata);
    };
};
struct create_on_disk : DeclareOverloads<create_on_disk, on_disk_2, on_disk_3, on_disk_4, on_disk_5>
{
    static constexpr const char* name = "ImageViewFactory_create_on_disk";
    static constexpr const char* doc =
        "Create an image view whose data are stored raw in a new temporary file, in dirPath when given, else in "
        "the usual temporary folder.\nNo memory is allocated for the data, only disk space; the file is deleted "
        "when the view is destroyed.\nThe returned view has the capabilities READ, WRITE and RESHAPE.\n:raises: "
        "InvalidArgument if dirPath does not exist; Error if the properties are not compatible with the shape "
        "and type.";
};

// ------------------------------------------------------------ copy_on_disk

struct copy_1 : Candidate<Params<Image>, 0>
{
    static constexpr const char* member = member_of<ImageViewFactory, QW_NAME("copyOnDisk")>;
    static constexpr auto call = [](std::shared_ptr<quelbo::ImageView> image) {
        return ImageViewFactory::copyOnDisk(image);
    };
};
struct copy_2 : Candidate<Params<Image, Dir>, 1>
{
    static constexpr const char* member = member_of<ImageViewFactory, QW_NAME("copyOnDisk")>;
    static constexpr auto call = [](std::shared_ptr<quelbo::ImageView> image, const std::string& dir) {
        return ImageViewFactory::copyOnDisk(image, dir);
    };
};
struct copy_on_disk : DeclareOverloads<copy_on_disk, copy_1, copy_2>
{
    static constexpr const char* name = "ImageViewFactory_copy_on_disk";
    static constexpr const char* doc =
        "Copy the data of an image view into a new temporary raw file, chunk by chunk with chunks of at most "
        "1 MB, in dirPath when given, else in the usual temporary folder.\nThe copy is made even when the image "
        "is already on disk; the result is not linked to the image; the file is deleted when the returned view "
        "is destroyed.\nThe returned view has the capabilities READ, WRITE and RESHAPE.\n:raises: "
        "InvalidArgument if the image is empty, if dirPath does not exist, or if the properties of the image are "
        "not valid.";
};

void add_storage_views(Methods& m)
{
    m.add<from_random_access>();
    m.add<create_on_disk>();
    m.add<copy_on_disk>();
}
QW_FAMILY(add_storage_views);

} // namespace
