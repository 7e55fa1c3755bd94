// The GPU image functions: allocation (plain and coalesced), copy into GPU
// memory, adaptation to GPU buffers and the GPU-image test, over _quelbo's
// image views, data types, properties and metadata.
#include "core_args.h"
#include "quelbo_cuda/cuda_image_factory.h"
#include "readonly/readonly_args.h"
#include "runtime/shared.h"
#include "runtime/wrap.h"
#include "runtime/members.h"

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

// ------------------------------------------------------------ one image

const char kImageType[] = "std::shared_ptr< quelbo::ImageView >";

template <class R, R (*Fn)(ImagePtr)>
PyObject* on_image(const char* fn, PyObject* o)
{
    ImagePtr image;
    if (!shared_arg(o, {fn, 1, kImageType}, image))
        return nullptr;
    return call([&] {
        if constexpr (std::is_same<R, bool>::value)
            return to_py(Fn(std::move(image)));
        else
            return shared(Fn(std::move(image)));
    });
}

PyObject* is_cuda_image(PyObject*, PyObject* o)
{
    return on_image<bool, &CudaExtensionProvider::isCudaImage>("CudaExtensionProvider_is_cuda_image", o);
}

PyObject* copy_in_cuda_memory(PyObject*, PyObject* o)
{
    return on_image<ImagePtr, &CudaImageFactory::copyInCudaMemory>("CudaImageFactory_copy_in_cuda_memory", o);
}

PyObject* adapt_to_cuda(PyObject*, PyObject* o)
{
    return on_image<ImagePtr, &CudaImageFactory::adaptToCuda>("CudaImageFactory_adapt_to_cuda", o);
}

// ------------------------------------------------------------ allocation

// The two allocation functions differ only in name, prototypes and calls.
struct Plain
{
    static constexpr const char* name = "CudaImageFactory_allocate";
    static constexpr const char* proto2 =
        "quelbo_cuda::CudaImageFactory::allocate(quelbo::VectorXu64 const &,quelbo::DataType)";
    static constexpr const char* proto4 =
        "quelbo_cuda::CudaImageFactory::allocate(quelbo::VectorXu64 const &,quelbo::DataType,std::shared_ptr< "
        "quelbo::ImageProperties >,std::shared_ptr< quelbo::MetadataNode >)";
    static ImagePtr make(quelbo::VectorXu64 const& s, quelbo::DataType t) { return CudaImageFactory::allocate(s, t); }
    static ImagePtr make(quelbo::VectorXu64 const& s, quelbo::DataType t, PropertiesPtr p, MetadataPtr m)
    {
        return CudaImageFactory::allocate(s, t, std::move(p), std::move(m));
    }
};

struct Coalesced
{
    static constexpr const char* name = "CudaImageFactory_allocate_coalesced";
    static constexpr const char* proto2 =
        "quelbo_cuda::CudaImageFactory::allocateCoalesced(quelbo::VectorXu64 const &,quelbo::DataType)";
    static constexpr const char* proto4 =
        "quelbo_cuda::CudaImageFactory::allocateCoalesced(quelbo::VectorXu64 const &,quelbo::DataType,"
        "std::shared_ptr< quelbo::ImageProperties >,std::shared_ptr< quelbo::MetadataNode >)";
    static ImagePtr make(quelbo::VectorXu64 const& s, quelbo::DataType t)
    {
        return CudaImageFactory::allocateCoalesced(s, t);
    }
    static ImagePtr make(quelbo::VectorXu64 const& s, quelbo::DataType t, PropertiesPtr p, MetadataPtr m)
    {
        return CudaImageFactory::allocateCoalesced(s, t, std::move(p), std::move(m));
    }
};

template <class F>
struct Allocate
{
    static bool check2(Args a, Py_ssize_t) { return PySequence_Check(a[0]) && is_dtype(a[1]); }
    static bool check4(Args a, Py_ssize_t n)
    {
        return check2(a, n) && is_proxy_shared<quelbo::ImageProperties>(a[2]) &&
               is_proxy_shared<quelbo::MetadataNode>(a[3]);
    }

    // Shape and data type, the first two arguments of both forms.
    static bool common(Args a, quelbo::VectorXu64& shape, quelbo::DataType& dtype)
    {
        static const ArgId dt{F::name, 2, "quelbo::DataType"};
        return shape_arg(a[0], shape) && dtype_arg(a[1], dt, dtype);
    }

    static PyObject* call2(Args a, Py_ssize_t)
    {
        quelbo::VectorXu64 shape;
        quelbo::DataType dtype;
        if (!common(a, shape, dtype))
            return nullptr;
        return call([&] { return shared(F::make(shape, dtype)); });
    }

    static PyObject* call4(Args a, Py_ssize_t)
    {
        static const ArgId props{F::name, 3, "std::shared_ptr< quelbo::ImageProperties >"};
        static const ArgId meta{F::name, 4, "std::shared_ptr< quelbo::MetadataNode >"};
        quelbo::VectorXu64 shape;
        quelbo::DataType dtype;
        PropertiesPtr p;
        MetadataPtr m;
        if (!common(a, shape, dtype) || !proxy_shared_arg(a[2], props, p) || !proxy_shared_arg(a[3], meta, m))
            return nullptr;
        return call([&] { return shared(F::make(shape, dtype, std::move(p), std::move(m))); });
    }

    static PyObject* fn(PyObject*, PyObject* args)
    {
        static const Overloads rows(F::name, {{F::proto2, 2, 2, &check2, &call2}, {F::proto4, 4, 4, &check4, &call4}});
        return rows(args);
    }
};

// ------------------------------------------------------------ classes

struct FactoryTr
{
    using T = CudaImageFactory;
    static constexpr const char* name = "CudaImageFactory";
    static constexpr const char* native = "quelbo_cuda::CudaImageFactory";
};

struct ProviderTr
{
    using T = CudaExtensionProvider;
    static constexpr const char* name = "CudaExtensionProvider";
    static constexpr const char* native = "quelbo_cuda::CudaExtensionProvider";
};

const char kAllocateDoc[] =
    "\n*Overload 1:*\n\nAllocates an image in CUDA memory\n\n:type shape: :py:class:`VectorXu64`\n:param shape: Shape "
    "of the image to allocate\n:type dtype: :py:class:`DataType`\n:param dtype: DataType of the image to "
    "allocate\n\n|\n\n*Overload 2:*\n\nAllocates an image in CUDA memory\n\n:type shape: :py:class:`VectorXu64`\n"
    ":param shape: Shape of the image to allocate\n:type dtype: :py:class:`DataType`\n:param dtype: quelbo::DataType "
    "of the image to allocate\n:type properties: :py:class:`ImageProperties`\n:param properties: "
    "quelbo::ImageProperties to apply to new image\n:type metadata: :py:class:`MetadataNode`\n:param metadata: "
    "Metadata to apply to new image\n\n:raises: Error if properties are null or invalid\n:rtype: "
    ":py:class:`ImageView`\n:return: an image allocated in CUDA memory\n";

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
    m.add<&Allocate<Plain>::fn>("CudaImageFactory_allocate", METH_VARARGS, kAllocateDoc);
    m.add<&Allocate<Coalesced>::fn>("CudaImageFactory_allocate_coalesced", METH_VARARGS, kCoalescedDoc);
    m.add<&copy_in_cuda_memory>("CudaImageFactory_copy_in_cuda_memory", METH_O, kCopyDoc);
    m.add<&adapt_to_cuda>("CudaImageFactory_adapt_to_cuda", METH_O, kAdaptDoc);
    add_class<FactoryTr>(m);
    m.add<&is_cuda_image>("CudaExtensionProvider_is_cuda_image", METH_O, kIsCudaDoc);
    add_class<ProviderTr>(m);
}

} // namespace qw::cuda
