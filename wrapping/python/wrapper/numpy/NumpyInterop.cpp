// NumpyInterop: numpy arrays to image views and back, and its flat functions.
#include "numpy/NumpyInterop.h"

#include <limits>

#include "common/dimension_list.h"
#include "numpy/NumpyImageView.h"
#include "quelbo/error.h"
#include "runtime/members.h"
#include "runtime/shared.h"
#include "native_types.h"

namespace quelbo {

namespace {

constexpr uint64_t kNone = std::numeric_limits<uint64_t>::max();

// Keeps the view, and the memory the array shows, alive for the array.
struct ContainerPythonView
{
    std::shared_ptr<View> view;
    std::shared_ptr<MemoryBlock> block;
};

constexpr const char* kCapsule = "ContainerView";

// The view goes through the runtime's deferral: what it lets go of Python
// is released after the view's destruction, not in its middle.
void destructorView(PyObject* capsule)
{
    if (void* record = PyCapsule_GetPointer(capsule, kCapsule))
        qw::destroy_or_defer(record, [](void* p) { delete static_cast<ContainerPythonView*>(p); });
    else
        PyErr_Clear();
}

// numpy type number and item size of a scalar data type (0, numpy bool, for
// any other type).
int numpyTypeFromDataType(DataType scalar, int& itemsize)
{
    const int type = visitElement(
        scalar, [](auto tag) { return qw::np::type_of<typename decltype(tag)::type>; }, [] { return qw::np::BOOL; });
    itemsize = type == qw::np::BOOL ? 1 : int(scalar.bitDepth() / 8);
    return type;
}

// What both conversions to an array start from.
struct Source
{
    PyObject* image = nullptr; // the Python object given
    std::shared_ptr<ImageView> view;
    VectorXu64 shape;
    DataType type;
    ImageType axes;
    size_t n = 0; // dimensions of the view
    size_t c = 0; // components of the data type
};

bool source(PyObject* image, Source& s)
{
    s.image = image;
    static const qw::ArgId a{"NumpyInterop_to_numpy_array", 1, qw::Named<std::shared_ptr<quelbo::ImageView>>::text};
    if (!qw::is_shared<ImageView>(image, true) || !qw::shared_arg(image, a, s.view)) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, "Numpy array can only be built from ImageView instances");
        return false;
    }
    if (!s.view) {
        PyErr_SetString(PyExc_TypeError, "Input ImageView cannot be empty");
        return false;
    }
    if (!s.view->support(ImageCapability::MEMORY_ACCESS)) {
        PyErr_SetString(PyExc_ValueError, "Input ImageView must support MEMORY_ACCESS capability");
        return false;
    }
    s.shape = s.view->shape();
    s.type = s.view->dataType();
    auto properties = s.view->properties();
    s.axes = properties ? properties->imageInfo().axesInterpretation() : ImageTypeId::UNKNOWN;
    s.n = s.shape.size();
    s.c = s.type.elementCount();
    if (s.c == 0)
        throw Error("ImageView data type has no component - it cannot be converted");
    if (s.axes != ImageTypeId::UNKNOWN && s.axes.dimensionCount() != s.n)
        throw Error("ImageView axes interpretation does not match its shape");
    return true;
}

// Sizes and byte strides of the array: view dimension j on numpy axis
// order[j], the components of vector data on axis newDimensionIndex.
PyObject* configureAndBuild(Source const& s, VectorXu64 const& order, uint64_t newDimensionIndex)
{
    Indexer const& indexer = s.view->indexer();
    if (indexer.dimensionCount() != s.n)
        throw Error("ImageView memory layout does not match its shape");
    const DataType scalar = DataType::extractScalarType(s.type);
    const int nd = int(s.n + (s.c != 1 ? 1 : 0));
    std::vector<qw::np::npy_intp> dims(size_t(nd) + 1), strides(size_t(nd) + 1);
    for (size_t p = 0, j = 0; p < size_t(nd); ++p) {
        if (p == newDimensionIndex) {
            dims[p] = qw::np::npy_intp(s.c);
            strides[p] = qw::np::npy_intp(scalar.byteCount());
            continue;
        }
        const uint64_t at = order.data()[j];
        if (at >= uint64_t(nd))
            throw Error("Input dimensions list is not valid");
        dims[at] = qw::np::npy_intp(indexer.shape(j));
        strides[at] = qw::np::npy_intp(int64_t(indexer.byteStride(j)));
        ++j;
    }
    int itemsize = 0;
    const int type = numpyTypeFromDataType(scalar, itemsize);

    // Every byte the array can reach must lie in the memory the view shows.
    const bool writable = s.view->support(ImageCapability::WRITE);
    auto* data = static_cast<uint8_t*>(writable ? s.view->buffer() : const_cast<void*>(s.view->bufferReadOnly()));
    auto block = s.view->memoryBlock();
    if (!block)
        block = MemoryBlock::borrow(data, s.view->bufferSize(), nullptr);
    qw::np::npy_intp low = 0, high = 0;
    if (!qw::np::reach(nd, dims.data(), strides.data(), itemsize, low, high) ||
        (high > low && !block->contains(data + low, size_t(high - low))))
        throw Error("ImageView memory does not hold the array it would show");

    auto* record = new ContainerPythonView{s.view, block};
    PyObject* capsule = PyCapsule_New(record, kCapsule, &destructorView);
    if (!capsule) {
        delete record;
        PyErr_Clear();
        throw Error("Error when linking Numpy array to Quelbo View");
    }
    const int flags = qw::np::ALIGNED | qw::np::F_CONTIGUOUS | (writable ? qw::np::WRITEABLE : 0);
    PyObject* array =
        qw::np::new_array(qw::np::array_type(), nd, dims.data(), type, strides.data(), data, 0, flags, s.image);
    if (!array) {
        PySys_WriteStdout("error when creating array\n");
        Py_DECREF(capsule);
        return nullptr;
    }
    if (qw::np::set_base_object(array, capsule) < 0) {
        Py_DECREF(array);
        PyErr_Clear();
        throw Error("Error when linking Numpy array to Quelbo View");
    }
    return array;
}

} // namespace

std::shared_ptr<ImageView> NumpyInterop::fromNumpyArray(PyObject* np, ImageType axes_interpretation,
                                                        ImageInterpretation interpretation, bool hasAlpha)
{
    if (!qw::np::is_array(np)) {
        PyErr_SetString(PyExc_TypeError, "Input Numpy Array is not valid");
        return nullptr;
    }
    return std::make_shared<NumpyImageView>(np, axes_interpretation, interpretation, hasAlpha);
}

std::shared_ptr<ImageView> NumpyInterop::orderFromNumpyArray(PyObject* np, ImageDimension const* dimensionsList,
                                                             size_t count, ImageInterpretation interpretation,
                                                             bool hasAlpha)
{
    if (count == 0) {
        PyErr_SetString(PyExc_TypeError, "List of dimensions cannot be empty");
        return nullptr;
    }
    if (!qw::np::is_array(np)) {
        PyErr_SetString(PyExc_TypeError, "Input Numpy Array is not valid");
        return nullptr;
    }
    return std::make_shared<NumpyImageView>(np, dimensionsList, count, interpretation, hasAlpha);
}

PyObject* NumpyInterop::toNumpyArray(PyObject* image)
{
    Source s;
    if (!source(image, s))
        return nullptr;
    VectorXu64 order(s.n);
    uint64_t newDimensionIndex = s.n;
    if (s.axes == ImageTypeId::UNKNOWN) {
        for (size_t j = 0; j < s.n; ++j)
            order.data()[j] = j;
    } else if (s.c > 1) {
        for (size_t j = 0; j < s.n; ++j)
            order.data()[j] = s.n - 1 - j;
    } else {
        // Last canonical dimension first, CHANNEL (when present) last.
        const size_t channel = s.axes.indexDimension(CHANNEL);
        size_t p = 0;
        for (size_t j = s.n; j-- > 0;) {
            if (j != channel)
                order.data()[j] = p++;
        }
        if (channel != ImageType::npos)
            order.data()[channel] = p;
        newDimensionIndex = kNone;
    }
    return configureAndBuild(s, order, newDimensionIndex);
}

PyObject* NumpyInterop::orderToNumpyArray(PyObject* image, ImageDimension const* dimensionsList, size_t count)
{
    Source s;
    if (!source(image, s))
        return nullptr;
    if (s.axes == ImageTypeId::UNKNOWN)
        throw Error("ImageView has no axes interpretation - Dimensions are unknown");
    ImageType axes = s.axes;
    if (s.c > 1) {
        if (axes.has(CHANNEL))
            throw Error("CHANNEL dimension already exists - vectorial data cannot be converted");
        axes.add(CHANNEL);
    }
    if (count != axes.dimensionCount())
        throw Error("Input dimensions list is not valid");
    VectorXu64 order(s.n);
    uint64_t newDimensionIndex = kNone;
    for (int32_t d = COLUMN; d <= SEQUENCE; ++d) {
        const auto dim = static_cast<ImageDimension>(d);
        size_t k = 0;
        while (k < count && dimensionsList[k] != dim)
            ++k;
        if (s.axes.has(dim)) {
            if (k == count)
                throw Error("Input dimensions list is incomplete");
            order.data()[s.axes.indexDimension(dim)] = k;
        } else if (s.c > 1 && dim == CHANNEL) {
            if (k == count)
                throw Error("Input dimensions list is incomplete");
            newDimensionIndex = k;
        }
    }
    return configureAndBuild(s, order, newDimensionIndex);
}

} // namespace quelbo

// ------------------------------------------------------------ flat functions

namespace {

using namespace qw;
using quelbo::NumpyInterop;

QW_TYPE(NumpyInterop);

using NumpyInteropTr = Traits<NumpyInterop>;

// A shared view, or null with the Python exception that the operation set.
PyObject* view_result(std::shared_ptr<quelbo::ImageView> view)
{
    if (!view)
        return PyErr_Occurred() ? nullptr : none();
    return shared(std::move(view));
}

constexpr auto kImageType = named<quelbo::ImageType>;
constexpr auto kDimensions = named<const quelbo::ImageDimension*>;
using Array = Object<text::object>;
using Interpretation = Arg<quelbo::ImageInterpretation>;
using Alpha = Arg<bool, text::boolean>;
using Dimensions = Dims<kDimensions>;

struct from_numpy_array
    : Declare<from_numpy_array, Params<Array, Ref<quelbo::ImageType, kImageType>, Interpretation, Alpha>>
{
    static constexpr const char* name = "NumpyInterop__from_numpy_array";
    static constexpr const char* doc =
        "Create an ImageView from a numpy array, its axes the dimensions of the given image type in numpy order "
        "(TZYXC).\nData are not duplicated: the returned ImageView shares its data with the given numpy array.";
    static constexpr auto call = [](PyObject* array, quelbo::ImageType& axes,
                                    quelbo::ImageInterpretation interpretation, bool alpha) {
        return view_result(NumpyInterop::fromNumpyArray(array, axes, interpretation, alpha));
    };
};

// The dimension list fills two parameters: the interpretation is argument 4.
struct order_from_numpy_array : Declare<order_from_numpy_array, Params<Array, Dimensions, Interpretation, Alpha>>
{
    static constexpr const char* name = "NumpyInterop__order_from_numpy_array";
    static constexpr const char* doc =
        "Create an ImageView from a numpy array, entry i of the list naming the dimension of axis i.\nData are "
        "not duplicated: the returned ImageView shares its data with the given numpy array.";
    static constexpr auto call = [](PyObject* array, const std::vector<quelbo::ImageDimension>& dims,
                                    quelbo::ImageInterpretation interpretation, bool alpha) {
        return view_result(NumpyInterop::orderFromNumpyArray(array, dims.data(), dims.size(), interpretation, alpha));
    };
};

struct order_to_numpy_array : Declare<order_to_numpy_array, Params<Object<text::object>, Dimensions>>
{
    static constexpr const char* name = "NumpyInterop_order_to_numpy_array";
    static constexpr const char* doc =
        "Create a numpy array over the data of an ImageView, axis k showing the dimension at position k of the "
        "list.\nThe view must have an axes interpretation other than UNKNOWN and all its dimensions must be in "
        "the list; for vector data a new CHANNEL dimension is created and is mandatory in the list.\n:raises: "
        "Error if the image has invalid properties.\nData are not duplicated.";
    static constexpr auto call = [](PyObject* view, const std::vector<quelbo::ImageDimension>& dims) {
        return NumpyInterop::orderToNumpyArray(view, dims.data(), dims.size());
    };
};

void add_numpy_interop(Methods& m)
{
    m.add<from_numpy_array>();
    m.add<order_from_numpy_array>();
    m.add<Fn<QW_NAME("NumpyInterop_to_numpy_array"), &NumpyInterop::toNumpyArray, Object<text::object>>>(
        "Create a numpy array over the data of an ImageView.\nThe view's dimensions (XYZCT order) are reordered "
        "for numpy (TZYXC): for example a view of shape (12, 4, 6) with axes COLUMN, ROW, SLICE gives an array "
        "of shape (6, 4, 12), (6, 4, 12, 3) for data of three components.\nWith an UNKNOWN axes interpretation "
        "the dimensions are not reordered; only the component dimension of vector data is added last.\nData "
        "are not duplicated.");
    m.add<order_to_numpy_array>();
    add_class<NumpyInteropTr, NewDefault>(m);
}
QW_FAMILY(add_numpy_interop);

} // namespace
