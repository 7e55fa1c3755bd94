// ImageViewFactory: views allocated in memory, uniform views, views over
// caller memory and copies in memory.
#include "quelbo/image_view_factory.h"
#include "common/item_parser.h"
#include "core_args.h"
#include "order.h"
#include "readonly/readonly_args.h"
#include "runtime/buffer.h"
#include "runtime/declare.h"

namespace {

using namespace qw;
using quelbo::ImageProperties;
using quelbo::ImageViewFactory;
using quelbo::MetadataNode;

QW_TYPE(ImageViewFactory, "_p_quelbo__ImageViewFactory");

struct FactoryTr
{
    using T = ImageViewFactory;
    static constexpr const char* name = "ImageViewFactory";
    static constexpr const char* native = "quelbo::ImageViewFactory";
};

// The arguments every creation function starts with.
struct Common
{
    quelbo::VectorXu64 shape;
    quelbo::DataType type;
    std::shared_ptr<ImageProperties> properties;
};

bool shape_and_type(const char* fn, PyObject* shape, PyObject* type, Common& c)
{
    return sequence_to_vector(shape, c.shape) && dtype_arg(type, {fn, 2, "quelbo::DataType"}, c.type);
}

// properties (argument `n`) and metadata (`n + 1`), each also as its read-only wrapper.
template <class Node>
bool description(const char* fn, int n, const char* node_type, PyObject* p, PyObject* m, Common& c,
                 std::shared_ptr<Node>& node)
{
    return proxy_shared_arg(p, {fn, n, "std::shared_ptr< quelbo::ImageProperties >"}, c.properties) &&
           proxy_shared_arg(m, {fn, n + 1, node_type}, node);
}

constexpr char kShape[] = "quelbo::VectorXu64 const &";
constexpr char kDataType[] = "quelbo::DataType";
constexpr char kProperties[] = "std::shared_ptr< quelbo::ImageProperties >";
constexpr char kMetadata[] = "std::shared_ptr< quelbo::MetadataNode >";
constexpr char kImage[] = "std::shared_ptr< quelbo::ImageView >";
using Shape = Seq<quelbo::VectorXu64, kShape>;
using Type = DTypeArg<kDataType>;

struct allocate_2 : Candidate<Params<Shape, Type>, 1>
{
    static constexpr const char* member = "quelbo::ImageViewFactory::allocate";
    static constexpr auto call = [](const quelbo::VectorXu64& shape, quelbo::DataType type) {
        return ImageViewFactory::allocate(shape, type);
    };
};
struct allocate_4
    : Candidate<Params<Shape, Type, ProxyShared<ImageProperties, kProperties>, ProxyShared<MetadataNode, kMetadata>>, 0>
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

PyObject* ImageViewFactory__uniform(PyObject*, PyObject* args)
{
    const char* fn = "ImageViewFactory__uniform";
    PyObject* a[5];
    Common c;
    Buffer value;
    std::shared_ptr<const MetadataNode> metadata;
    if (!unpack(fn, args, 5, 5, a) || !shape_and_type(fn, a[0], a[1], c) ||
        !buffer_arg(a[2], {fn, 3, kSrc}, BufferForm::source, value) ||
        !description(fn, 5, "std::shared_ptr< quelbo::MetadataNode const >", a[3], a[4], c, metadata))
        return nullptr;
    return call([&] {
        return shared(ImageViewFactory::uniform(c.shape, c.type, value.data, value.size, c.properties, metadata));
    });
}

// The view keeps the buffer exported (and so alive and unresized) as long as
// it, or anything made from its memory, lives.
PyObject* ImageViewFactory___from_buffer(PyObject*, PyObject* args)
{
    const char* fn = "ImageViewFactory___from_buffer";
    PyObject* a[5];
    Common c;
    quelbo::BorrowedMemory memory;
    std::shared_ptr<MetadataNode> metadata;
    if (!unpack(fn, args, 5, 5, a) || !shape_and_type(fn, a[0], a[1], c) ||
        !buffer_keep(a[2], {fn, 3, kMemorySize}, memory) ||
        !description(fn, 5, "std::shared_ptr< quelbo::MetadataNode >", a[3], a[4], c, metadata))
        return nullptr;
    return call([&] {
        return shared(ImageViewFactory::fromBuffer(c.shape, c.type, std::move(memory), c.properties, metadata));
    });
}

struct copy_in_memory : Declare<copy_in_memory, Params<SharedArg<quelbo::ImageView, kImage>>>
{
    static constexpr const char* name = "ImageViewFactory_copy_in_memory";
    static constexpr const char* doc =
        "Copy an image in memory.\nMemory is allocated and the data copied when the source is not in memory; "
        "a source already in memory is returned itself.\nCapabilities of the returned view: READ, WRITE, BUFFER, "
        "RESHAPE.\n:raises: InvalidArgument if the source is empty or its properties are not valid, Error if "
        "it does not support READ.";
    static constexpr auto call = &ImageViewFactory::copyInMemory;
};

void add_image_view_factory(Methods& m)
{
    m.add<allocate>();
    m.add<&ImageViewFactory__uniform>("ImageViewFactory__uniform", METH_VARARGS);
    m.add<&ImageViewFactory___from_buffer>("ImageViewFactory___from_buffer", METH_VARARGS);
    m.add<copy_in_memory>();
}
QW_FAMILY(order::image_view_factory, add_image_view_factory);

// Release and registration close the class, after its derived and storage-backed views.
void add_image_view_factory_close(Methods& m)
{
    ClassOps<FactoryTr>::add(m);
}
QW_FAMILY(order::image_view_factory_close, add_image_view_factory_close);

} // namespace
