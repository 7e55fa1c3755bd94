// ImageViewFactory: views over a random-access store and in temporary files.
#include "common/item_parser.h"
#include "core_args.h"
#include "quelbo/image_view_factory.h"
#include "quelbo/random_access.h"
#include "readonly/readonly_args.h"
#include "runtime/shared.h"

namespace {

using namespace qw;
using quelbo::ImageProperties;
using quelbo::ImageViewFactory;
using quelbo::MetadataNode;

bool is_properties(PyObject* o)
{
    return is_proxy_shared<ImageProperties>(o);
}
bool is_metadata(PyObject* o)
{
    return is_proxy_shared<MetadataNode>(o);
}

// ------------------------------------------------------ from_random_access

// Argument kinds by position: with a layout (4 and 6 arguments) the shape
// comes third.
PyObject* from_random_access_call(Args a, Py_ssize_t n)
{
    static const char* fn = "ImageViewFactory_from_random_access";
    bool const layoutGiven = n == 4 || n == 6;
    size_t const s = layoutGiven ? 2 : 1; // index of the shape
    std::shared_ptr<quelbo::RandomAccess> accessor;
    quelbo::MemoryLayout layout = quelbo::MemoryLayout::FORTRAN;
    quelbo::VectorXu64 shape;
    quelbo::DataType type;
    std::shared_ptr<ImageProperties> properties;
    std::shared_ptr<const MetadataNode> metadata;
    if (!shared_arg(a[0], {fn, 1, "std::shared_ptr< quelbo::RandomAccess >"}, accessor) ||
        (layoutGiven && !arg(a[1], {fn, 2, "quelbo::MemoryLayout"}, layout)) || !sequence_to_vector(a[s], shape) ||
        !dtype_arg(a[s + 1], {fn, int(s + 2), "quelbo::DataType const"}, type))
        return nullptr;
    if (n >= 5) {
        static const char* props5 = "std::shared_ptr< quelbo::ImageProperties >";
        static const char* meta5 = "std::shared_ptr< quelbo::MetadataNode const >";
        static const char* meta6 = "std::shared_ptr< quelbo::MetadataNode const > const";
        if (!proxy_shared_arg(a[s + 2], {fn, int(s + 3), props5}, properties) ||
            !proxy_shared_arg(a[s + 3], {fn, int(s + 4), n == 6 ? meta6 : meta5}, metadata))
            return nullptr;
    }
    return call([&] {
        switch (n) {
        case 3:
            return shared(ImageViewFactory::fromRandomAccess(accessor, shape, type));
        case 4:
            return shared(ImageViewFactory::fromRandomAccess(accessor, layout, shape, type));
        case 5:
            return shared(ImageViewFactory::fromRandomAccess(accessor, shape, type, properties, metadata));
        default:
            return shared(ImageViewFactory::fromRandomAccess(accessor, layout, shape, type, properties, metadata));
        }
    });
}

bool random_access_check(Args a, Py_ssize_t n)
{
    bool const layoutGiven = n == 4 || n == 6;
    size_t const s = layoutGiven ? 2 : 1;
    return is_shared<quelbo::RandomAccess>(a[0]) && (!layoutGiven || is<int32_t>(a[1])) && is_seq(a[s]) &&
           is_dtype(a[s + 1]) && (n < 5 || (is_properties(a[s + 2]) && is_metadata(a[s + 3])));
}

PyObject* from_random_access(PyObject*, PyObject* args)
{
    static const Overloads rows(
        "ImageViewFactory_from_random_access",
        {{"quelbo::ImageViewFactory::fromRandomAccess(std::shared_ptr< quelbo::RandomAccess >,quelbo::VectorXu64 "
          "const &,quelbo::DataType const)",
          3, 3, &random_access_check, &from_random_access_call, 3},
         {"quelbo::ImageViewFactory::fromRandomAccess(std::shared_ptr< quelbo::RandomAccess >,quelbo::MemoryLayout,"
          "quelbo::VectorXu64 const &,quelbo::DataType const)",
          4, 4, &random_access_check, &from_random_access_call, 1},
         {"quelbo::ImageViewFactory::fromRandomAccess(std::shared_ptr< quelbo::RandomAccess >,quelbo::VectorXu64 "
          "const &,quelbo::DataType const,std::shared_ptr< quelbo::ImageProperties >,std::shared_ptr< "
          "quelbo::MetadataNode const >)",
          5, 5, &random_access_check, &from_random_access_call, 2},
         {"quelbo::ImageViewFactory::fromRandomAccess(std::shared_ptr< quelbo::RandomAccess >,quelbo::MemoryLayout,"
          "quelbo::VectorXu64 const &,quelbo::DataType const,std::shared_ptr< quelbo::ImageProperties >,"
          "std::shared_ptr< quelbo::MetadataNode const > const)",
          6, 6, &random_access_check, &from_random_access_call, 0}});
    return rows(args);
}

// ---------------------------------------------------------- create_on_disk

// With 3 and 5 arguments the folder comes first.
PyObject* create_on_disk_call(Args a, Py_ssize_t n)
{
    static const char* fn = "ImageViewFactory_create_on_disk";
    bool const dirGiven = n == 3 || n == 5;
    size_t const s = dirGiven ? 1 : 0;
    std::string dir;
    quelbo::VectorXu64 shape;
    quelbo::DataType type;
    std::shared_ptr<ImageProperties> properties;
    std::shared_ptr<MetadataNode> metadata;
    if ((dirGiven && !arg(a[0], {fn, 1, "std::string const &"}, dir)) || !sequence_to_vector(a[s], shape) ||
        !dtype_arg(a[s + 1], {fn, int(s + 2), "quelbo::DataType"}, type))
        return nullptr;
    if (n >= 4 &&
        (!proxy_shared_arg(a[s + 2], {fn, int(s + 3), "std::shared_ptr< quelbo::ImageProperties >"}, properties) ||
         !proxy_shared_arg(a[s + 3], {fn, int(s + 4), "std::shared_ptr< quelbo::MetadataNode >"}, metadata)))
        return nullptr;
    return call([&] {
        switch (n) {
        case 2:
            return shared(ImageViewFactory::createOnDisk(shape, type));
        case 3:
            return shared(ImageViewFactory::createOnDisk(dir, shape, type));
        case 4:
            return shared(ImageViewFactory::createOnDisk(shape, type, properties, metadata));
        default:
            return shared(ImageViewFactory::createOnDisk(dir, shape, type, properties, metadata));
        }
    });
}

bool on_disk_check(Args a, Py_ssize_t n)
{
    bool const dirGiven = n == 3 || n == 5;
    size_t const s = dirGiven ? 1 : 0;
    return (!dirGiven || is<std::string>(a[0])) && is_seq(a[s]) && is_dtype(a[s + 1]) &&
           (n < 4 || (is_properties(a[s + 2]) && is_metadata(a[s + 3])));
}

PyObject* create_on_disk(PyObject*, PyObject* args)
{
    static const Overloads rows(
        "ImageViewFactory_create_on_disk",
        {{"quelbo::ImageViewFactory::createOnDisk(quelbo::VectorXu64 const &,quelbo::DataType)", 2, 2, &on_disk_check,
          &create_on_disk_call, 3},
         {"quelbo::ImageViewFactory::createOnDisk(std::string const &,quelbo::VectorXu64 const &,quelbo::DataType)", 3,
          3, &on_disk_check, &create_on_disk_call, 1},
         {"quelbo::ImageViewFactory::createOnDisk(quelbo::VectorXu64 const &,quelbo::DataType,std::shared_ptr< "
          "quelbo::ImageProperties >,std::shared_ptr< quelbo::MetadataNode >)",
          4, 4, &on_disk_check, &create_on_disk_call, 2},
         {"quelbo::ImageViewFactory::createOnDisk(std::string const &,quelbo::VectorXu64 const &,quelbo::DataType,"
          "std::shared_ptr< quelbo::ImageProperties >,std::shared_ptr< quelbo::MetadataNode >)",
          5, 5, &on_disk_check, &create_on_disk_call, 0}});
    return rows(args);
}

// ------------------------------------------------------------ copy_on_disk

PyObject* copy_on_disk_call(Args a, Py_ssize_t n)
{
    static const char* fn = "ImageViewFactory_copy_on_disk";
    std::shared_ptr<quelbo::ImageView> image;
    std::string dir;
    if (!shared_arg(a[0], {fn, 1, "std::shared_ptr< quelbo::ImageView >"}, image) ||
        (n == 2 && !arg(a[1], {fn, 2, "std::string const &"}, dir)))
        return nullptr;
    return call([&] {
        return shared(n == 1 ? ImageViewFactory::copyOnDisk(image) : ImageViewFactory::copyOnDisk(image, dir));
    });
}

bool copy_check(Args a, Py_ssize_t n)
{
    return is_shared<quelbo::ImageView>(a[0]) && (n == 1 || is<std::string>(a[1]));
}

PyObject* copy_on_disk(PyObject*, PyObject* args)
{
    static const Overloads rows(
        "ImageViewFactory_copy_on_disk",
        {{"quelbo::ImageViewFactory::copyOnDisk(std::shared_ptr< quelbo::ImageView >)", 1, 1, &copy_check,
          &copy_on_disk_call, 0},
         {"quelbo::ImageViewFactory::copyOnDisk(std::shared_ptr< quelbo::ImageView >,std::string const &)", 2, 2,
          &copy_check, &copy_on_disk_call, 1}});
    return rows(args);
}

void add_storage_views(Methods& m)
{
    m.add<&from_random_access>(
        "ImageViewFactory_from_random_access", METH_VARARGS,
        "Create an image view over a random-access storage; no memory is allocated, the view reads and writes "
        "the storage.\nThe forms without layout use the FORTRAN memory layout; with empty properties, default "
        "properties are generated; the metadata are attached to the view.\nThe returned view has the "
        "capabilities READ and WRITE.\n:raises: InvalidArgument if the accessor is empty or the storage cannot "
        "hold the image; Error if the properties are not compatible with the shape and type.");
    m.add<&create_on_disk>(
        "ImageViewFactory_create_on_disk", METH_VARARGS,
        "Create an image view whose data are stored raw in a new temporary file, in dirPath when given, else in "
        "the usual temporary folder.\nNo memory is allocated for the data, only disk space; the file is deleted "
        "when the view is destroyed.\nThe returned view has the capabilities READ, WRITE and RESHAPE.\n:raises: "
        "InvalidArgument if dirPath does not exist; Error if the properties are not compatible with the shape "
        "and type.");
    m.add<&copy_on_disk>(
        "ImageViewFactory_copy_on_disk", METH_VARARGS,
        "Copy the data of an image view into a new temporary raw file, chunk by chunk with chunks of at most "
        "1 MB, in dirPath when given, else in the usual temporary folder.\nThe copy is made even when the image "
        "is already on disk; the result is not linked to the image; the file is deleted when the returned view "
        "is destroyed.\nThe returned view has the capabilities READ, WRITE and RESHAPE.\n:raises: "
        "InvalidArgument if the image is empty, if dirPath does not exist, or if the properties of the image are "
        "not valid.");
}
QW_FAMILY(order::factories_storage, add_storage_views);

} // namespace
