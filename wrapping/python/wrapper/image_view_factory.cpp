// ImageViewFactory: views allocated in memory, uniform views, views over
// caller memory and copies in memory.
#include "quelbo/image_view_factory.h"
#include "buffer_args.h"
#include "common/item_parser.h"
#include "core_args.h"
#include "order.h"
#include "readonly/readonly_args.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::ImageProperties;
using quelbo::ImageViewFactory;
using quelbo::MetadataNode;

QW_TYPE(ImageViewFactory, "_p_quelbo__ImageViewFactory");

using FactoryTr = Traits<ImageViewFactory>;

constexpr auto kShape = named<const quelbo::VectorXu64&>;
using Shape = Seq<quelbo::VectorXu64, kShape>;
using Type = DTypeArg<text::data_type>;
using Properties = ProxyShared<ImageProperties, text::properties>;

struct allocate_2 : Candidate<Params<Shape, Type>, 1>
{
    static constexpr const char* member = "quelbo::ImageViewFactory::allocate";
    static constexpr auto call = [](const quelbo::VectorXu64& shape, quelbo::DataType type) {
        return ImageViewFactory::allocate(shape, type);
    };
};
struct allocate_4 : Candidate<Params<Shape, Type, Properties, ProxyShared<MetadataNode, text::metadata>>, 0>
{
    static constexpr const char* member = "quelbo::ImageViewFactory::allocate";
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

constexpr auto kMetadataConst = named<std::shared_ptr<const quelbo::MetadataNode>>;

struct uniform
    : Declare<uniform, Params<Shape, Type, Source<>, Properties, ProxyShared<const MetadataNode, kMetadataConst>>>
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
    : Declare<from_buffer,
              Params<Shape, Type, Kept<&kMemorySize>, Properties, ProxyShared<MetadataNode, text::metadata>>>
{
    static constexpr const char* name = "ImageViewFactory___from_buffer";
    static constexpr auto call = [](const quelbo::VectorXu64& shape, quelbo::DataType type,
                                    quelbo::BorrowedMemory&& memory, std::shared_ptr<ImageProperties> properties,
                                    std::shared_ptr<MetadataNode> metadata) {
        return ImageViewFactory::fromBuffer(shape, type, std::move(memory), properties, metadata);
    };
};

constexpr char kCopyInMemory[] = "ImageViewFactory_copy_in_memory";

void add_image_view_factory(Methods& m)
{
    m.add<allocate>();
    m.add<uniform>();
    m.add<from_buffer>();
    m.add<Fn<kCopyInMemory, &ImageViewFactory::copyInMemory, SharedArg<quelbo::ImageView, text::image>>>(
        "Copy an image in memory.\nMemory is allocated and the data copied when the source is not in memory; "
        "a source already in memory is returned itself.\nCapabilities of the returned view: READ, WRITE, BUFFER, "
        "RESHAPE.\n:raises: InvalidArgument if the source is empty or its properties are not valid, Error if "
        "it does not support READ.");
}
QW_FAMILY(order::image_view_factory, add_image_view_factory);

// Release and registration close the class, after its derived and storage-backed views.
void add_image_view_factory_close(Methods& m)
{
    add_class<FactoryTr>(m);
}
QW_FAMILY(order::image_view_factory_close, add_image_view_factory_close);

} // namespace
