// Views adapting the values of their source to another type or range.

#include "quelbo/data_type_traits.h"
#include "values/chunks.h"
#include "values/convert_kernels.h"
#include "views/derived/derived_view.h"

namespace quelbo {
using namespace derived;

namespace {

// ------------------------------------------------------------ adapt view

using detail::ConvertFn;
using detail::forEachChunk;
using detail::Linear;

void needNumeric(DataType scalar)
{
    visitElement(
        scalar, [](auto) {},
        [&] { invalid("the data type " + scalar.toString() + " is not a numeric type of 8, 16, 32 or 64 bits"); });
}

// Values mapped linearly from one range onto another, in another type: the
// source moves a bounded chunk at a time through a scratch.
class AdaptView final : public DerivedView
{
public:
    AdaptView(char const* name, std::shared_ptr<ImageView> source, DataType type, Vector2d const& in,
              Vector2d const& out, std::shared_ptr<const ImageProperties> properties)
        : DerivedView(name, {source}, readWriteOf(*source), source->shape(), type, std::move(properties),
                      detail::metadataOf(*source))
    {
        DataType const from = DataType::extractScalarType(source->dataType());
        DataType const to = DataType::extractScalarType(type);
        needNumeric(from);
        needNumeric(to);
        m_components = type.elementCount();
        m_sourceBytes = source->sampleByteCount();
        m_bytes = type.byteCount();
        double const span = in[1] - in[0], back = out[1] - out[0];
        m_forward = {in[0], span != 0 ? back / span : 0.0, out[0]};
        m_backward = {out[0], back != 0 ? span / back : 0.0, in[0]};
        m_load = detail::linearConverter(from, to, m_forward);
        m_store = detail::linearConverter(to, from, m_backward);
    }

protected:
    void pull(RegionXu64 const& region, uint8_t* dst) override
    {
        // Values the source holds in memory as laid out here are mapped
        // from there in one pass.
        if (const uint8_t* held = detail::denseInMemory(source(), region))
            return m_load(held, dst, size_t(region.elementCount()) * m_components, m_forward);
        detail::Scratch tile;
        forEachChunk(region, detail::chunkSamples(m_sourceBytes), [&](RegionXu64 const& part, uint64_t at) {
            size_t const samples = size_t(part.elementCount());
            tile.resize(samples * m_sourceBytes);
            source().readRegion(part, tile.data());
            m_load(tile.data(), dst + at * m_bytes, samples * m_components, m_forward);
        });
    }
    void push(RegionXu64 const& region, const uint8_t* src) override
    {
        detail::Scratch tile;
        forEachChunk(region, detail::chunkSamples(m_sourceBytes), [&](RegionXu64 const& part, uint64_t at) {
            size_t const samples = size_t(part.elementCount());
            tile.resize(samples * m_sourceBytes);
            m_store(src + at * m_bytes, tile.data(), samples * m_components, m_backward);
            source().writeRegion(part, tile.data());
        });
    }

private:
    ConvertFn m_load = nullptr, m_store = nullptr;
    size_t m_components = 1, m_sourceBytes = 1, m_bytes = 1;
    Linear m_forward{}, m_backward{};
};

std::shared_ptr<ImageView> adapt(char const* name, std::shared_ptr<ImageView> view, DataType type, Vector2d const& in,
                                 Vector2d const& out)
{
    DataType const from = view->dataType();
    if (type.elementCount() != from.elementCount())
        invalid(std::string(name) + ": " + type.toString() + " and " + from.toString() + " differ in component count");
    if (!type.isNumeric() || !from.isNumeric())
        invalid(std::string(name) + ": " + type.toString() + " and " + from.toString() + " must be numeric");
    auto p = describe(*view, view->shape(), type);
    p->imageInfo().setBitDepth(type.bitDepth());
    p->imageInfo().setValueRange(out);
    return std::make_shared<AdaptView>(name, view, type, in, out, std::move(p));
}

} // namespace

std::shared_ptr<ImageView> ImageViewFactory::adaptDataType(std::shared_ptr<ImageView> view, DataType type)
{
    needView(view, "adaptDataType");
    auto p = view->properties();
    Vector2d const in = p ? p->imageInfo().valueRange() : DataType::standardRange(view->dataType());
    return adapt("AdaptDataType", view, type, in, DataType::standardRange(type));
}

std::shared_ptr<ImageView> ImageViewFactory::adaptDynamicRange(std::shared_ptr<ImageView> view, DataType type,
                                                               Vector2d const& inputRange, Vector2d const& outputRange)
{
    needView(view, "adaptDynamicRange");
    return adapt("AdaptDynamicRange", view, type, inputRange, outputRange);
}

} // namespace quelbo
