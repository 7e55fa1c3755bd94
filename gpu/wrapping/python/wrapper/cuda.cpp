// The GPU image functions: allocation (plain and coalesced), copy into GPU
// memory, adaptation to GPU buffers and the GPU-image test, over _quelbo's
// image views, data types, properties and metadata.
#include "core_args.h"
#include "quelbo_cuda/cuda_image_factory.h"
#include "readonly/readonly_args.h"
#include "runtime/members.h"
#include "cuda_types.h"

namespace qw::cuda {

namespace {

using quelbo_cuda::CudaExtensionProvider;
using quelbo_cuda::CudaImageFactory;
using ImagePtr = std::shared_ptr<quelbo::ImageView>;
using PropertiesPtr = std::shared_ptr<quelbo::ImageProperties>;
using MetadataPtr = std::shared_ptr<quelbo::MetadataNode>;

// ------------------------------------------------------------ arguments

// A shape: a sequence of ints, each read as a 64-bit dimension (a negative
// item wraps, -1 giving 2^64 - 1, and the library refuses such sizes).
bool shape_arg(PyObject* o, quelbo::VectorXu64& out)
{
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0) {
        PyErr_SetString(PyExc_ValueError, "input sequence must be sized");
        return false;
    }
    // Item access may run Python code; the shape is converted first, so
    // nothing the call holds can be deleted under it.
    quelbo::VectorXu64 shape(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_GetItem(o, i);
        if (!item)
            return false;
        if (!PyLong_Check(item)) {
            Py_DECREF(item);
            PyErr_SetString(PyExc_TypeError, "invalid item");
            return false;
        }
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(item, &overflow);
        uint64_t dim = static_cast<uint64_t>(v);
        if (overflow > 0) // from 2^63 up: still a 64-bit size?
            dim = PyLong_AsUnsignedLongLong(item);
        Py_DECREF(item);
        if (overflow < 0 || (overflow > 0 && dim == uint64_t(-1) && PyErr_Occurred()) ||
            (v == -1 && !overflow && PyErr_Occurred())) {
            PyErr_Clear();
            PyErr_SetString(PyExc_OverflowError, "shape item out of the 64-bit range");
            return false;
        }
        shape[size_t(i)] = dim;
    }
    out = std::move(shape);
    return true;
}

// A shape parameter: any sequence passes the check; its items are read by shape_arg.
constexpr auto kShapeType = named<const quelbo::VectorXu64&>;
struct Shape : Kind<kShapeType>
{
    using value = quelbo::VectorXu64;
    static bool check(PyObject* o) { return PySequence_Check(o); }
    static bool get(PyObject* o, const ArgId&, value& v) { return shape_arg(o, v); }
    static value& pass(value& v) { return v; }
};
using Image = SharedArg<quelbo::ImageView>;
using Properties = ProxyShared<quelbo::ImageProperties>;
using Metadata = ProxyShared<quelbo::MetadataNode>;

// ------------------------------------------------------------ one image

using IsCudaImage = Fn<QW_NAME("CudaExtensionProvider_is_cuda_image"), &CudaExtensionProvider::isCudaImage, Image>;
using CopyInCudaMemory =
    Fn<QW_NAME("CudaImageFactory_copy_in_cuda_memory"), &CudaImageFactory::copyInCudaMemory, Image>;
using AdaptToCuda = Fn<QW_NAME("CudaImageFactory_adapt_to_cuda"), &CudaImageFactory::adaptToCuda, Image>;

// ------------------------------------------------------------ allocation

// allocate and allocateCoalesced: a shape and a data type, then optionally
// properties and metadata; Member is the library's name of the member.
template <const char* Name, const char* Member, auto Make2, auto Make4>
struct Allocate
{
    static constexpr const char* member = member_of<CudaImageFactory, Member>;
    struct two : Candidate<Params<Shape, DTypeArg<>>>
    {
        static constexpr const char* member = Allocate::member;
        static constexpr auto call = Make2;
    };
    struct four : Candidate<Params<Shape, DTypeArg<>, Properties, Metadata>>
    {
        static constexpr const char* member = Allocate::member;
        static constexpr auto call = Make4;
    };
    struct fn : DeclareOverloads<fn, two, four>
    {
        static constexpr const char* name = Name;
    };
};

using AllocatePlain =
    Allocate<QW_NAME("CudaImageFactory_allocate"), QW_NAME("allocate"),
             static_cast<ImagePtr (*)(quelbo::VectorXu64 const&, quelbo::DataType)>(&CudaImageFactory::allocate),
             static_cast<ImagePtr (*)(quelbo::VectorXu64 const&, quelbo::DataType, PropertiesPtr, MetadataPtr)>(
                 &CudaImageFactory::allocate)>;
using AllocateCoalesced =
    Allocate<QW_NAME("CudaImageFactory_allocate_coalesced"), QW_NAME("allocateCoalesced"),
             static_cast<ImagePtr (*)(quelbo::VectorXu64 const&, quelbo::DataType)>(
                 &CudaImageFactory::allocateCoalesced),
             static_cast<ImagePtr (*)(quelbo::VectorXu64 const&, quelbo::DataType, PropertiesPtr, MetadataPtr)>(
                 &CudaImageFactory::allocateCoalesced)>;

// ------------------------------------------------------------ classes

using FactoryTr = Traits<CudaImageFactory>;
using ProviderTr = Traits<CudaExtensionProvider>;

// The docstring names the data type and properties by their native names.
constexpr char kAllocateDocHead[] =
    "\n*Overload 1:*\n\nAllocates an image in CUDA memory\n\n:type shape: :py:class:`VectorXu64`\n:param shape: Shape "
    "of the image to allocate\n:type dtype: :py:class:`DataType`\n:param dtype: DataType of the image to "
    "allocate\n\n|\n\n*Overload 2:*\n\nAllocates an image in CUDA memory\n\n:type shape: :py:class:`VectorXu64`\n"
    ":param shape: Shape of the image to allocate\n:type dtype: :py:class:`DataType`\n:param dtype: ";
constexpr char kAllocateDocTypeTail[] =
    " of the image to allocate\n:type properties: :py:class:`ImageProperties`\n:param properties: ";
constexpr char kAllocateDocTail[] =
    " to apply to new image\n:type metadata: :py:class:`MetadataNode`\n:param metadata: "
    "Metadata to apply to new image\n\n:raises: Error if properties are null or invalid\n:rtype: "
    ":py:class:`ImageView`\n:return: an image allocated in CUDA memory\n";
const char* const kAllocateDoc = JoinedText<kAllocateDocHead, named<quelbo::DataType>, kAllocateDocTypeTail,
                                            named<quelbo::ImageProperties>, kAllocateDocTail>::text;

const char kCoalescedDoc[] =
    "\n*Overload 1:*\n\nAllocates an image in CUDA memory with coalesced memory layout.\n\n:type shape: "
    ":py:class:`VectorXu64`\n:param shape: the shape of the image to allocate.\n:type dtype: :py:class:`DataType`\n"
    ":param dtype: The data type of the image to allocate.\n\n:rtype: :py:class:`ImageView`\n:return: An ImageView "
    "allocated in CUDA memory with coalesced memory layout.\n\n|\n\n*Overload 2:*\n\nAllocates an image in CUDA "
    "memory with coalesced memory layout.\n\n:type shape: :py:class:`VectorXu64`\n:param shape: the shape of the "
    "image to allocate.\n:type dtype: :py:class:`DataType`\n:param dtype: The data type of the image to allocate.\n"
    ":type properties: :py:class:`ImageProperties`\n:param properties: properties to apply to the new image.\n:type "
    "metadata: :py:class:`MetadataNode`\n:param metadata: metadata to attach to the new image.\n\n:rtype: "
    ":py:class:`ImageView`\n:return: An ImageView allocated in CUDA memory with coalesced memory layout.\n";

const char kCopyDoc[] =
    "\nCopy given image in CUDA memory. If given image is already in CUDA memory, it\nis returned directly.\n\nCuda "
    "memory is allocated by this operation. Data from original ImageView\nare duplicated.\n\nReturned ImageView has "
    "following capabilities (see #ImageCapability):\n- READ\n- WRITE\n\n:type image: :py:class:`ImageView`\n:param "
    "image: Image to load\n\n:raises: InvalidArgument If the input image is null\n:raises: Error If the input "
    "ImageView does not support READ capability\n:raises: InvalidArgument If properties of input ImageView are not "
    "valid\n";

const char kAdaptDoc[] =
    "\nAdapt any ImageView to accept CUDA buffers for read and write operations.\nIf given image is already a CUDA "
    "image, it is returned directly.\n\n:type image: :py:class:`ImageView`\n:param image: Image to adapt for Cuda "
    "buffers\n:raises: InvalidArgument If properties of input ImageView are not valid\n";

const char kIsCudaDoc[] = "Returns if given image is a CUDA image.";

} // namespace

// The module's table, in interface order.
void add_methods(Methods& m)
{
    m.add<AllocatePlain::fn>(kAllocateDoc);
    m.add<AllocateCoalesced::fn>(kCoalescedDoc);
    m.add<CopyInCudaMemory>(kCopyDoc);
    m.add<AdaptToCuda>(kAdaptDoc);
    add_class<FactoryTr>(m);
    m.add<IsCudaImage>(kIsCudaDoc);
    add_class<ProviderTr>(m);
}

} // namespace qw::cuda
