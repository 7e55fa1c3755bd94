#include "numpy/NumpyImageView.h"

#include <algorithm>
#include <cstring>

#include "quelbo/dependency_graph.h"
#include "quelbo/error.h"
#include "quelbo/region_copier.h"

namespace quelbo {

const ImageDimension DimensionOrderNumpy[5] = {SEQUENCE, SLICE, ROW, COLUMN, CHANNEL};

namespace {

// The dimensions of an image type in numpy's order.
struct NumpyDimensions
{
    explicit NumpyDimensions(ImageType itype)
    {
        for (ImageDimension d : DimensionOrderNumpy) {
            if (itype.has(d))
                list[count++] = d;
        }
    }

    ImageDimension list[5] = {};
    size_t count = 0;
};

uint64_t magnitude(int64_t v)
{
    return v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
}

} // namespace

NumpyImageView::NumpyImageView(PyObject* array, ImageType itype, ImageInterpretation interpretation, bool hasAlpha)
    : NumpyImageView(qw::np::fields(array), layoutOf(qw::np::fields(array), itype), interpretation, hasAlpha)
{}

NumpyImageView::NumpyImageView(PyObject* array, ImageDimension const* dimList, size_t count,
                               ImageInterpretation interpretation, bool hasAlpha)
    : NumpyImageView(qw::np::fields(array), layoutOf(qw::np::fields(array), dimList, count), interpretation, hasAlpha)
{}

NumpyImageView::NumpyImageView(qw::np::Array* array, Layout layout, ImageInterpretation interpretation, bool hasAlpha)
    : ImageView(ViewDataOrigin::CPU_MEMORY, "Numpy array"), m_array(array), m_shape(std::move(layout.shape)),
      m_type(layout.type), m_properties(layout.type, layout.itype, interpretation, hasAlpha),
      m_indexer(m_shape, m_type, layout.strides, layout.order)
{
    if (!m_properties.isCompatibleWith(m_shape, m_type))
        throw Error("Given information are not compatible with Numpy");
    qw::np::npy_intp low = 0, high = 0;
    if (!qw::np::reach(m_array->nd, m_array->dimensions, m_array->strides, m_array->descr->elsize, low, high))
        throw InvalidArgument("Numpy array spans more than 64 bits of addresses");
    m_block = MemoryBlock::borrow(m_array->data + low, size_t(high - low),
                                  qw::keep_object(reinterpret_cast<PyObject*>(m_array)));
    m_low = low;
    m_high = high;
    m_writable = m_array->flags & qw::np::WRITEABLE;
    m_data = m_array->data;
    quelbo::DependencyGraph::recordForeignMemory(*this);
}

// The array reference lives in the memory block (and in every block handed
// out), so it is released when the last of them goes.
NumpyImageView::~NumpyImageView() = default;

NumpyImageView::Layout NumpyImageView::layoutOf(qw::np::Array* array, ImageType itype)
{
    const NumpyDimensions dimensions(itype);
    return layoutOf(array, dimensions.list, dimensions.count);
}

// The checks come in this order: the list against the array's dimensions,
// then the element type.
NumpyImageView::Layout NumpyImageView::layoutOf(qw::np::Array* array, ImageDimension const* dimList, size_t count)
{
    Layout layout;
    layout.itype = ImageType(dimList, count);
    const size_t nd = size_t(array->nd);
    if (count != nd)
        throw Error("Given dimensions list is not compatible with array shape");
    if (layout.itype.dimensionCount() != count)
        throw Error("Given dimensions list names a dimension more than once");
    layout.shape = VectorXu64(nd);
    layout.strides = VectorXu64(nd);
    layout.order = VectorXu64(nd);
    uint64_t* order = layout.order.data();
    uint64_t* strides = layout.strides.data();
    for (size_t i = 0; i < nd; ++i) {
        const size_t canonical = layout.itype.indexDimension(dimList[i]);
        layout.shape.data()[canonical] = uint64_t(array->dimensions[i]);
        strides[canonical] = uint64_t(int64_t(array->strides[i]));
        order[i] = canonical;
    }
    if (!qw::np::native_order(array))
        throw Error("Unsupported numpy data type");
    layout.type = convertDataType(array->descr->type_num);

    // The memory order: C-ordered arrays (or slices of one) list their last
    // axis first, others their first; the strides then decide, so that a
    // transposed or sliced array is described as it lies in memory. The
    // sort is stable (equal strides keep that order) and in place: an
    // insertion sort, which passes once over the few axes of an array that
    // is ordered already.
    PyObject* base = array->base;
    const bool isC =
        (base && qw::np::is_array(base) ? qw::np::fields(base)->flags : array->flags) & qw::np::C_CONTIGUOUS;
    if (isC)
        std::reverse(order, order + nd);
    for (size_t i = 1; i < nd; ++i) {
        const uint64_t d = order[i];
        const uint64_t step = magnitude(int64_t(strides[d]));
        size_t j = i;
        for (; j > 0 && magnitude(int64_t(strides[order[j - 1]])) > step; --j)
            order[j] = order[j - 1];
        order[j] = d;
    }
    return layout;
}

char* NumpyImageView::data() const
{
    qw::np::npy_intp low = 0, high = 0;
    const bool holds = m_array->data == m_data &&
                       (m_low == m_high || (qw::np::reach(m_array->nd, m_array->dimensions, m_array->strides,
                                                          m_array->descr->elsize, low, high) &&
                                            low <= m_low && m_high <= high));
    if (!holds)
        throw Error("The numpy array of the view was given other memory");
    return m_data;
}

DataType NumpyImageView::convertDataType(int npyType)
{
    const DataType type = qw::np::dtype_of(npyType);
    if (type == DataType())
        throw Error("Unsupported numpy data type");
    return type;
}

ImageCapabilitySet NumpyImageView::capabilities() const
{
    ImageCapabilitySet caps(ImageCapability::READ);
    caps.add(ImageCapability::MEMORY_ACCESS);
    if (m_writable)
        caps.add(ImageCapability::WRITE);
    return caps;
}

std::string NumpyImageView::readOnly(char const* operation)
{
    return std::string("ImageView: ") + operation + " is not supported by a read-only numpy array";
}

void NumpyImageView::requireWrite(char const* operation) const
{
    if (!m_writable)
        throw NotImplemented(readOnly(operation));
}

void NumpyImageView::loadSample(VectorXu64 const& index, uint8_t* dst)
{
    std::memmove(dst, data() + m_indexer.byteOffset(index), m_type.byteCount());
}

void NumpyImageView::load(RegionXu64 const& region, uint8_t* dst)
{
    Indexer dense(region.size(), m_type);
    RegionCopier(m_indexer, dense, region.origin(), VectorXu64(region.dimensionCount()), region.size(), m_type)
        .copy(data(), dst);
}

void NumpyImageView::setProperties(std::shared_ptr<const ImageProperties> properties)
{
    requireWrite("setProperties");
    if (!properties)
        throw InvalidArgument("ImageView: the properties cannot be empty");
    m_properties.set(std::make_shared<ImageProperties>(*properties));
}

// An empty node clears the metadata.
void NumpyImageView::setMetadata(std::shared_ptr<MetadataNode> metadata)
{
    requireWrite("setMetadata");
    m_metadata = metadata ? metadata->clone() : nullptr;
}

void NumpyImageView::storeSample(VectorXu64 const& index, const uint8_t* src)
{
    std::memmove(data() + m_indexer.byteOffset(index), src, m_type.byteCount());
}

void NumpyImageView::store(RegionXu64 const& region, const uint8_t* src)
{
    Indexer dense(region.size(), m_type);
    RegionCopier(dense, m_indexer, VectorXu64(region.dimensionCount()), region.origin(), region.size(), m_type)
        .copy(src, data());
}

void* NumpyImageView::buffer()
{
    return data();
}

const void* NumpyImageView::bufferReadOnly() const
{
    return data();
}

// The bytes of the samples the view was made over (the array's, unless it
// has changed since; buffer() then refuses).
size_t NumpyImageView::bufferSize()
{
    size_t size = m_type.byteCount();
    for (size_t i = 0; i < m_shape.size(); ++i)
        size *= size_t(m_shape[i]);
    return size;
}

} // namespace quelbo
