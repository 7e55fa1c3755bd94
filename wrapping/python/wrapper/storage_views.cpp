// ImageViewFactory: views over a random-access store and in temporary files.
#include "core_args.h"
#include "quelbo/image_view_factory.h"
#include "quelbo/random_access.h"
#include "readonly/readonly_args.h"
#include "runtime/declare.h"
#include "runtime/shared.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::ImageProperties;
using quelbo::ImageViewFactory;
using quelbo::MetadataNode;

constexpr auto kStore = named<std::shared_ptr<quelbo::RandomAccess>>, kLayout = named<quelbo::MemoryLayout>,
               kShape = named<const quelbo::VectorXu64&>, kConstType = named<const quelbo::DataType>,
               kConstMetadata = named<std::shared_ptr<const quelbo::MetadataNode>>,
               kFixedMetadata = named<const std::shared_ptr<const quelbo::MetadataNode>>, kDir = named<const std::string&>;

using Store = SharedArg<quelbo::RandomAccess, kStore>;
using Layout = Arg<quelbo::MemoryLayout, kLayout>;
using Shape = Seq<quelbo::VectorXu64, kShape>;
using Properties = ProxyShared<ImageProperties, text::properties>;
using Dir = Arg<std::string, kDir>;
using Shaped = const quelbo::VectorXu64&;
using Props = std::shared_ptr<ImageProperties>;

// ------------------------------------------------------ from_random_access

template <class P, int Place>
struct FromStore : Candidate<P, Place>
{
    static constexpr const char* member = "quelbo::ImageViewFactory::fromRandomAccess";
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
    : FromStore<Params<Store, Shape, DTypeArg<kConstType>, Properties, ProxyShared<const MetadataNode, kConstMetadata>>,
                2>
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

using Metadata = ProxyShared<MetadataNode, text::metadata>;
using Meta = std::shared_ptr<MetadataNode>;

template <class P, int Place>
struct OnDisk : Candidate<P, Place>
{
    static constexpr const char* member = "quelbo::ImageViewFactory::createOnDisk";
};
struct on_disk_2 : OnDisk<Params<Shape, DTypeArg<text::data_type>>, 3>
{
    static constexpr auto call = [](Shaped shape, quelbo::DataType type) {
        return ImageViewFactory::createOnDisk(shape, type);
    };
};
struct on_disk_3 : OnDisk<Params<Dir, Shape, DTypeArg<text::data_type>>, 1>
{
    static constexpr auto call = [](const std::string& dir, Shaped shape, quelbo::DataType type) {
        return ImageViewFactory::createOnDisk(dir, shape, type);
    };
};
struct on_disk_4 : OnDisk<Params<Shape, DTypeArg<text::data_type>, Properties, Metadata>, 2>
{
    static constexpr auto call = [](Shaped shape, quelbo::DataType type, Props properties, Meta metadata) {
        return ImageViewFactory::createOnDisk(shape, type, properties, metadata);
    };
};
struct on_disk_5 : OnDisk<Params<Dir, Shape, DTypeArg<text::data_type>, Properties, Metadata>, 0>
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

using Image = SharedArg<quelbo::ImageView, text::image>;

struct copy_1 : Candidate<Params<Image>, 0>
{
    static constexpr const char* member = "quelbo::ImageViewFactory::copyOnDisk";
    static constexpr auto call = [](std::shared_ptr<quelbo::ImageView> image) {
        return ImageViewFactory::copyOnDisk(image);
    };
};
struct copy_2 : Candidate<Params<Image, Dir>, 1>
{
    static constexpr const char* member = "quelbo::ImageViewFactory::copyOnDisk";
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
QW_FAMILY(order::factories_storage, add_storage_views);

} // namespace
