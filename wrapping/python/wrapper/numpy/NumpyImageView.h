// An image view over the memory of a numpy array, without copy.
#pragma once

#include <memory>

#include "numpy/numpy_memory.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_type.h"
#include "quelbo/image_view.h"
#include "quelbo/indexer.h"
#include "quelbo/metadata.h"

namespace quelbo {

// The order in which numpy arrays list their axes: SEQUENCE, SLICE, ROW,
// COLUMN, CHANNEL.
extern const ImageDimension DimensionOrderNumpy[5];

// The array's axes in the view's canonical order; the byte strides of the
// array are kept as they are (negative ones included), so element 0 of the
// view is the array's data address. The view holds one reference to the
// array, released under the interpreter lock. A read-only array gives a
// view without WRITE. Making one costs the same whatever the array's size:
// one allocation for the view and its indexer, one for the memory block and
// its reference; the properties are made when first asked for.
class NumpyImageView : public ImageView
{
public:
    // The array's axes are the dimensions of itype in DimensionOrderNumpy.
    NumpyImageView(PyObject* array, ImageType itype, ImageInterpretation interpretation, bool hasAlpha);
    // Entry i of dimList is the dimension of numpy axis i.
    NumpyImageView(PyObject* array, ImageDimension const* dimList, size_t count, ImageInterpretation interpretation,
                   bool hasAlpha);
    ~NumpyImageView() override;

    ImageCapabilitySet capabilities() const override;
    VectorXu64 const& shape() override { return m_shape; }
    DataType dataType() override { return m_type; }
    std::shared_ptr<const ImageProperties> properties() override { return m_properties.get(); }
    std::shared_ptr<const MetadataNode> metadata() const override { return m_metadata; }
    void setProperties(std::shared_ptr<const ImageProperties> properties) override;
    void setMetadata(std::shared_ptr<MetadataNode> metadata) override;
    Indexer const& indexer() override { return m_indexer; }
    void* buffer() override;
    const void* bufferReadOnly() const override;
    size_t bufferSize() override;
    std::shared_ptr<MemoryBlock> memoryBlock() override { return m_block; }
    std::string refusal(Transfer transfer) const override { return readOnly(nameOf(transfer)); }

protected:
    void loadSample(VectorXu64 const& index, uint8_t* dst) override;
    void load(RegionXu64 const& region, uint8_t* dst) override;
    void storeSample(VectorXu64 const& index, const uint8_t* src) override;
    void store(RegionXu64 const& region, const uint8_t* src) override;

private:
    // What the array shows, in the view's terms.
    struct Layout
    {
        ImageType itype;
        VectorXu64 shape;   // canonical order
        DataType type;
        VectorXu64 strides; // bytes, canonical order
        VectorXu64 order;   // canonical indices, fastest in memory first
    };

    NumpyImageView(qw::np::Array* array, Layout layout, ImageInterpretation interpretation, bool hasAlpha);
    static Layout layoutOf(qw::np::Array* array, ImageType itype);
    static Layout layoutOf(qw::np::Array* array, ImageDimension const* dimList, size_t count);
    static DataType convertDataType(int npyType);
    // The refusal of an operation that would change a read-only array.
    static std::string readOnly(char const* operation);
    void requireWrite(char const* operation) const;
    // The array's data address; Error when the array no longer holds the
    // bytes the view was made over: given other memory since (numpy's
    // deprecated assignment of `data`), or shrunk in place (a resize).
    char* data() const;

    qw::np::Array* m_array;
    char* m_data = nullptr; // the data address the view was made over
    qw::np::npy_intp m_low = 0, m_high = 0; // the bytes it reaches, from m_data
    VectorXu64 m_shape;
    DataType m_type;
    LazyImageProperties m_properties;
    std::shared_ptr<MetadataNode> m_metadata;
    Indexer m_indexer;
    std::shared_ptr<MemoryBlock> m_block; // the bytes the array reaches; holds the array reference
    bool m_writable = false;
};

} // namespace quelbo
