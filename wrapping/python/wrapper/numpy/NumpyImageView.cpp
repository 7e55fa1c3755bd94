#include "numpy/NumpyImageView.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "quelbo/dependency_graph.h"
#include "quelbo/error.h"
#include "quelbo/region_copier.h"

namespace quelbo {

const ImageDimension DimensionOrderNumpy[5] = {SEQUENCE, SLICE, ROW, COLUMN, CHANNEL};

namespace {

std::vector<ImageDimension> dimensionsOf(ImageType itype)
{
    std::vector<ImageDimension> list;
    for (ImageDimension d : DimensionOrderNumpy) {
        if (itype.has(d))
            list.push_back(d);
    }
    return list;
}

uint64_t magnitude(int64_t v)
{
    return v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
}

} // namespace

NumpyImageView::NumpyImageView(PyObject* array, ImageType itype, ImageInterpretation interpretation, bool hasAlpha)
    : ImageView(ViewDataOrigin::CPU_MEMORY, "Numpy array"), m_array(qw::np::fields(array)),
      m_shape(size_t(qw::np::fields(array)->nd))
{
    const auto list = dimensionsOf(itype);
    common(list.data(), list.size(), interpretation, hasAlpha);
    quelbo::DependencyGraph::recordForeignMemory(viewOrigin());
}

NumpyImageView::NumpyImageView(PyObject* array, ImageDimension const* dimList, size_t count,
                               ImageInterpretation interpretation, bool hasAlpha)
    : ImageView(ViewDataOrigin::CPU_MEMORY, "Numpy array"), m_array(qw::np::fields(array)),
      m_shape(size_t(qw::np::fields(array)->nd))
{
    common(dimList, count, interpretation, hasAlpha);
    quelbo::DependencyGraph::recordForeignMemory(viewOrigin());
}

// The array reference lives in the memory block (and in every block handed
// out), so it is released when the last of them goes.
NumpyImageView::~NumpyImageView() = default;

void NumpyImageView::common(ImageDimension const* dimList, size_t count, ImageInterpretation interpretation,
                            bool hasAlpha)
{
    auto keeper = qw::keep_object(reinterpret_cast<PyObject*>(m_array));
    const ImageType itype(dimList, count);
    const size_t nd = size_t(m_array->nd);
    if (count != nd)
        throw Error("Given dimensions list is not compatible with array shape");
    if (itype.dimensionCount() != count)
        throw Error("Given dimensions list names a dimension more than once");
    for (size_t i = 0; i < nd; ++i)
        m_shape.data()[itype.indexDimension(dimList[i])] = uint64_t(m_array->dimensions[i]);
    if (!qw::np::native_order(m_array))
        throw Error("Unsupported numpy data type");
    m_type = convertDataType(m_array->descr->type_num);

    VectorXu64 order(nd), strides(nd);
    for (size_t i = 0; i < nd; ++i) {
        const size_t canonical = itype.indexDimension(dimList[i]);
        order.data()[i] = canonical;
        strides.data()[canonical] = uint64_t(int64_t(m_array->strides[i]));
    }
    // The memory order: C-ordered arrays (or slices of one) list their last
    // axis first, others their first; the strides then decide, so that a
    // transposed or sliced array is described as it lies in memory.
    PyObject* base = m_array->base;
    const bool isC =
        (base && qw::np::is_array(base) ? qw::np::fields(base)->flags : m_array->flags) & qw::np::C_CONTIGUOUS;
    if (isC)
        std::reverse(order.data(), order.data() + nd);
    std::stable_sort(order.data(), order.data() + nd, [&](uint64_t a, uint64_t b) {
        return magnitude(int64_t(strides.data()[a])) < magnitude(int64_t(strides.data()[b]));
    });
    m_indexer = Indexer(m_shape, m_type, strides, order);
    initProperties(itype, interpretation, hasAlpha);
    if (!m_properties->isCompatibleWith(m_shape, m_type))
        throw Error("Given information are not compatible with Numpy");

    qw::np::npy_intp low = 0, high = 0;
    if (!qw::np::reach(m_array->nd, m_array->dimensions, m_array->strides, m_array->descr->elsize, low, high))
        throw InvalidArgument("Numpy array spans more than 64 bits of addresses");
    m_block = MemoryBlock::borrow(m_array->data + low, size_t(high - low), std::move(keeper));
    m_writable = m_array->flags & qw::np::WRITEABLE;
    m_data = m_array->data;
}

char* NumpyImageView::data() const
{
    if (m_array->data != m_data)
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

void NumpyImageView::initProperties(ImageType itype, ImageInterpretation interpretation, bool hasAlpha)
{
    m_properties = ImageProperties::fromDataType(m_type);
    m_properties->imageInfo().setAxesInterpretation(itype);
    m_properties->imageInfo().setInterpretation(interpretation);
    m_properties->imageInfo().setAlpha(hasAlpha);
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
    std::memcpy(dst, data() + m_indexer.byteOffset(index), m_type.byteCount());
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
    properties->checkFit(m_shape, m_type, "ImageView");
    m_properties = std::make_shared<ImageProperties>(*properties);
}

// An empty node clears the metadata.
void NumpyImageView::setMetadata(std::shared_ptr<MetadataNode> metadata)
{
    requireWrite("setMetadata");
    m_metadata = metadata ? metadata->clone() : nullptr;
}

void NumpyImageView::storeSample(VectorXu64 const& index, const uint8_t* src)
{
    std::memcpy(data() + m_indexer.byteOffset(index), src, m_type.byteCount());
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

size_t NumpyImageView::bufferSize()
{
    size_t size = size_t(m_array->descr->elsize);
    for (int i = 0; i < m_array->nd; ++i)
        size *= size_t(m_array->dimensions[i]);
    return size;
}

} // namespace quelbo
