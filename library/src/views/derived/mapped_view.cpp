// Rearranged views: flips, sub-sampling, boxes, slices, axis orders and components.
#include <algorithm>
#include <string>
#include <type_traits>

#include "quelbo/region_copier.h"
#include "views/derived/derived_view.h"

namespace quelbo {
using namespace derived;

namespace {

// A view whose samples are a fixed rearrangement of its source's (flips,
// sub-sampling, boxes, axis orders, components): nothing is copied until a
// region is read, and then straight from the source's memory when it offers
// it.
class MappedView final : public DerivedView
{
public:
    MappedView(char const* name, std::shared_ptr<ImageView> source, ImageCapabilitySet caps, VectorXu64 shape,
               DataType type, std::shared_ptr<const ImageProperties> properties, Mapping mapping)
        : MappedView(name, source, caps, std::move(shape), type, std::move(properties), placed(source, mapping))
    {}

    ~MappedView() override { util::release(m_data); }

    // Parts of samples written through a source without memory go back as
    // whole samples read first: not side by side with other writers of them
    // (the other channels of a stack of channels).
    ParallelAccessCapabilitySet parallelCapabilities() override
    {
        uint64_t caps = DerivedView::parallelCapabilities().value();
        if (m_map.unit != m_data->dataType() && !m_data->support(ImageCapability::MEMORY_ACCESS))
            caps &= ~uint64_t(ParallelAccessCapability::PARALLEL_WRITE);
        return ParallelAccessCapabilitySet(caps);
    }

    // The box of its data that the view shows, in memory; else its data.
    void reachInto(detail::Reach& reach, std::vector<ImageView*>& through) override
    {
        if (!m_data->support(ImageCapability::MEMORY_ACCESS))
            return through.push_back(m_data.get());
        VectorXu64 const& extent = shape();
        for (size_t d = 0; d < extent.size(); ++d)
            if (extent.data()[d] == 0)
                return;
        RegionXu64 const box = sourceBox(RegionXu64(VectorXu64(extent.size()), extent));
        reach.spans.push_back(detail::spanOf(*m_data, &box));
    }

protected:
    bool movesInOneCopy() override { return m_passThrough || m_data->support(ImageCapability::MEMORY_ACCESS); }

    void pull(RegionXu64 const& region, uint8_t* dst) override
    {
        if (m_passThrough)
            return m_data->readRegion(sourceBox(region), dst);
        transfer(region, dst);
    }
    void push(RegionXu64 const& region, const uint8_t* src) override
    {
        if (m_passThrough)
            return m_data->writeRegion(sourceBox(region), src);
        transfer(region, src);
    }

private:
    // Where a mapping over `source` reads: over another rearrangement,
    // straight from its data, laid out as that rearrangement found it.
    struct Placed
    {
        std::shared_ptr<ImageView> data;
        Mapping map;
        MappedView* inner;
    };
    static Placed placed(std::shared_ptr<ImageView> const& source, Mapping const& mapping)
    {
        auto* inner = dynamic_cast<MappedView*>(source.get());
        if (inner && inner->composable())
            return {inner->m_data, inner->compose(mapping), inner};
        return {source, mapping, nullptr};
    }

    MappedView(char const* name, std::shared_ptr<ImageView> const& source, ImageCapabilitySet caps, VectorXu64 shape,
               DataType type, std::shared_ptr<const ImageProperties> properties, Placed at)
        : DerivedView(name, {source}, caps, std::move(shape), type, std::move(properties), detail::metadataOf(*source),
                      at.data.get()),
          m_data(std::move(at.data)), m_map(std::move(at.map))
    {
        if (at.inner)
            standOn(at.inner->footingOf(*m_data));
        ImageView& src = *m_data;
        m_passThrough = !m_map.hasInner && m_map.byteOffset == 0 && m_map.unit == src.dataType();
        int last = -1;
        for (MapAxis const& a : m_map.axes) {
            m_passThrough = m_passThrough && a.source > last && a.step == 1;
            last = a.source;
        }
    }

    // The box of the source that a region of the view reaches.
    RegionXu64 sourceBox(RegionXu64 const& region)
    {
        size_t const n = m_map.start.size();
        std::vector<int64_t> lo(m_map.start), hi(m_map.start);
        auto reach = [&](MapAxis const& a, uint64_t origin, uint64_t size) {
            if (a.source < 0)
                return;
            int64_t const first = a.step * int64_t(origin);
            int64_t const last = a.step * int64_t(origin + size - 1);
            lo[a.source] += std::min(first, last);
            hi[a.source] += std::max(first, last);
        };
        for (size_t d = 0; d < m_map.axes.size(); ++d)
            reach(m_map.axes[d], region.origin().data()[d], region.size().data()[d]);
        if (m_map.hasInner)
            reach(m_map.inner, 0, m_map.innerCount);
        VectorXu64 origin(n), size(n);
        for (size_t k = 0; k < n; ++k) {
            origin.data()[k] = uint64_t(lo[k]);
            size.data()[k] = uint64_t(hi[k] - lo[k] + 1);
        }
        return RegionXu64(origin, size);
    }

    // Moves the units of a region between the view's dense buffer (towards
    // it when it is mutable) and the source: its memory when it has some,
    // else the boxes its chunks reach, one bounded chunk at a time.
    template <class Byte>
    void transfer(RegionXu64 const& region, Byte* dense)
    {
        constexpr bool toView = !std::is_const_v<Byte>;
        ImageView& src = *m_data;
        size_t const n = m_map.start.size();
        if (src.support(ImageCapability::MEMORY_ACCESS))
            return moveUnits(region, dense, static_cast<uint8_t*>(src.buffer()), src.indexer().byteStride(),
                             VectorXu64(n));
        // Chunks cut along the outermost axis the region spans, as many of
        // its indices as the source box of a chunk holds: a chunk is measured
        // by what it reaches (a sub-sampled axis reads the slabs between its
        // samples too: fewer, longer reads cost less).
        size_t const axes = region.dimensionCount();
        size_t band = axes;
        while (band > 0 && region.size().data()[band - 1] == 1)
            --band;
        band = band > 0 ? band - 1 : 0;
        uint64_t budget = 1;
        // A band axis walking the source's outermost dimension by more than
        // one sample (sub-sampling) reads only the slabs it reaches.
        int sparse = -1;
        uint64_t keep = 1;
        if (band < axes) {
            VectorXu64 size = region.size();
            size.data()[band] = 1;
            RegionXu64 const slab(region.origin(), size);
            RegionXu64 const reach = sourceBox(slab);
            budget = detail::chunkSamples(src.regionByteCount(reach)) * slab.elementCount();
            MapAxis const& a = m_map.axes[band];
            if (a.source >= 0) {
                sparse = a.source;
                keep = uint64_t(a.step < 0 ? -a.step : a.step);
                for (size_t k = size_t(sparse) + 1; k < n && keep > 1; ++k)
                    keep = reach.size().data()[k] == 1 ? keep : 1;
            }
        }
        size_t const sampleBytes = sampleByteCount();
        detail::Scratch tile;
        detail::forEachChunk(region, budget, [&](RegionXu64 const& part, uint64_t at) {
            Byte* const bytes = dense + at * sampleBytes;
            RegionXu64 const box = sourceBox(part);
            if (keep > 1)
                return moveSlabs(part, bytes, box, size_t(sparse), keep, tile);
            tile.resize(src.regionByteCount(box));
            // A write of every sample of the box, whole, keeps nothing of it
            // (and goes to a source that cannot be read, too).
            bool const whole = m_map.unit == src.dataType() &&
                               box.elementCount() == part.elementCount() * m_map.innerCount;
            if (toView || !whole)
                src.readRegion(box, tile.data());
            moveUnits(part, bytes, tile.data(), detail::denseStrides(box.size(), src.sampleByteCount()), box.origin());
            if (!toView)
                src.writeRegion(box, tile.data());
        });
    }

    // Moves a part of a region through its source box's slabs along the
    // source dimension k that it reaches every keep-th index of: those
    // slabs only, packed in the tile.
    template <class Byte>
    void moveSlabs(RegionXu64 const& part, Byte* dense, RegionXu64 const& box, size_t k, uint64_t keep,
                   detail::Scratch& tile)
    {
        ImageView& src = *m_data;
        uint64_t const slabs = (box.size().data()[k] - 1) / keep + 1;
        VectorXu64 at = box.origin(), extent = box.size();
        extent.data()[k] = 1;
        size_t const slabBytes = src.regionByteCount(RegionXu64(at, extent));
        tile.resize(size_t(slabs) * slabBytes);
        auto each = [&](auto&& move) {
            for (uint64_t j = 0; j < slabs; ++j) {
                at.data()[k] = box.origin().data()[k] + j * keep;
                move(RegionXu64(at, extent), tile.data() + j * slabBytes);
            }
        };
        each([&](RegionXu64 const& slab, uint8_t* bytes) { src.readRegion(slab, bytes); });
        extent.data()[k] = slabs;
        moveUnits(part, dense, tile.data(), detail::denseStrides(extent, src.sampleByteCount()), box.origin(), k, keep);
        extent.data()[k] = 1;
        if constexpr (std::is_const_v<Byte>)
            each([&](RegionXu64 const& slab, uint8_t* bytes) { src.writeRegion(slab, bytes); });
    }

    // Moves the units of a region between the view's dense buffer and the
    // source's samples at base, laid out by strides from memoryOrigin.
    // Along source dimension `packed` the memory holds only every keep-th
    // index from memoryOrigin.
    template <class Byte>
    void moveUnits(RegionXu64 const& region, Byte* dense, uint8_t* base, VectorXu64 const& strides,
                   VectorXu64 const& memoryOrigin, size_t packed = ~size_t(0), uint64_t keep = 1)
    {
        size_t const n = m_map.start.size();
        auto scale = [&](size_t k) { return k == packed ? int64_t(keep) : int64_t(1); };
        auto stride = [&](MapAxis const& a) {
            return a.source < 0 ? a.step : a.step / scale(size_t(a.source)) * int64_t(strides.data()[a.source]);
        };
        // The source index of the region's first unit, then its place.
        std::vector<int64_t> first(m_map.start);
        for (size_t d = 0; d < m_map.axes.size(); ++d)
            if (m_map.axes[d].source >= 0)
                first[m_map.axes[d].source] += m_map.axes[d].step * int64_t(region.origin().data()[d]);
        int64_t offset = int64_t(m_map.byteOffset);
        for (size_t k = 0; k < n; ++k)
            offset += (first[k] - int64_t(memoryOrigin.data()[k])) / scale(k) * int64_t(strides.data()[k]);
        for (size_t d = 0; d < m_map.axes.size(); ++d)
            if (m_map.axes[d].source < 0)
                offset += m_map.axes[d].step * int64_t(region.origin().data()[d]);

        // The units of the region, inner axis first, on both sides.
        size_t const axes = m_map.axes.size() + (m_map.hasInner ? 1 : 0);
        VectorXu64 size(axes), mapped(axes);
        size_t a = 0;
        if (m_map.hasInner) {
            size.data()[a] = m_map.innerCount;
            mapped.data()[a++] = uint64_t(stride(m_map.inner));
        }
        for (size_t d = 0; d < m_map.axes.size(); ++d, ++a) {
            size.data()[a] = region.size().data()[d];
            mapped.data()[a] = uint64_t(stride(m_map.axes[d]));
        }
        Indexer const sourceSide(size, m_map.unit, mapped, detail::identityOrder(axes));
        Indexer const viewSide(size, m_map.unit);
        VectorXu64 const zero(axes);
        if constexpr (!std::is_const_v<Byte>)
            RegionCopier(sourceSide, viewSide, zero, zero, size, m_map.unit).copy(base + offset, dense);
        else
            RegionCopier(viewSide, sourceSide, zero, zero, size, m_map.unit).copy(dense, base + offset);
    }

    // A plain rearrangement of whole samples: another mapping over this view
    // can go straight to its data.
    bool composable() const
    {
        if (m_map.hasInner || m_map.byteOffset != 0 || m_map.unit != m_data->dataType())
            return false;
        for (MapAxis const& a : m_map.axes)
            if (a.source < 0)
                return false;
        return true;
    }

    // `outer`, a mapping over this view, as a mapping over this view's data.
    Mapping compose(Mapping const& outer) const
    {
        Mapping m = outer;
        m.start = m_map.start;
        for (size_t d = 0; d < m_map.axes.size(); ++d)
            m.start[m_map.axes[d].source] += m_map.axes[d].step * outer.start[d];
        auto through = [&](MapAxis a) {
            if (a.source < 0)
                return a;
            MapAxis const& mine = m_map.axes[a.source];
            return MapAxis{mine.source, mine.step * a.step};
        };
        for (MapAxis& a : m.axes)
            a = through(a);
        if (m.hasInner)
            m.inner = through(m.inner);
        return m;
    }

    std::shared_ptr<ImageView> m_data; // where the samples are read and written
    Mapping m_map;
    bool m_passThrough = false;
};

} // namespace

namespace derived {

namespace {

// What a view of parts of each sample (a channel) can do over `source`: a
// write keeps the other parts of every sample, so it reads them first,
// unless the source's memory is written in place.
ImageCapabilitySet partsOf(ImageView& source)
{
    ImageCapabilitySet caps = readWriteOf(source);
    if (!source.support(ImageCapability::READ) && !source.support(ImageCapability::MEMORY_ACCESS))
        caps.remove(ImageCapability::WRITE);
    return caps;
}

// What a view that only reads (a flip, channels taken apart) can do over
// `source`: READ when the source reads.
ImageCapabilitySet readingOf(ImageView& source)
{
    return ImageCapabilitySet(source.capabilities().value() & uint64_t(ImageCapability::READ));
}

} // namespace

Mapping identityMapping(ImageView& source)
{
    Mapping m;
    size_t const n = source.dimensionCount();
    m.start.assign(n, 0);
    for (size_t d = 0; d < n; ++d)
        m.axes.push_back({int(d), 1});
    m.unit = source.dataType();
    return m;
}

std::shared_ptr<ImageView> mapped(char const* name, std::shared_ptr<ImageView> source, ImageCapabilitySet caps,
                                  VectorXu64 shape, DataType type, std::shared_ptr<const ImageProperties> properties,
                                  Mapping mapping)
{
    return std::make_shared<MappedView>(name, std::move(source), caps, std::move(shape), type, std::move(properties),
                                        std::move(mapping));
}

ImageType axesOf(ImageView& view)
{
    auto p = view.properties();
    ImageType const axes = p ? p->imageInfo().axesInterpretation() : ImageTypeId::UNKNOWN;
    return axes.dimensionCount() == view.dimensionCount() ? axes : ImageTypeId::UNKNOWN;
}

std::shared_ptr<ImageProperties> describe(ImageView& source, ImageType axes)
{
    auto p = detail::propertiesOf(source);
    p->imageInfo().setAxesInterpretation(axes);
    return p;
}

std::shared_ptr<ImageView> sliceOf(std::shared_ptr<ImageView> view, size_t axis, uint64_t position)
{
    Mapping m = identityMapping(*view);
    m.axes.erase(m.axes.begin() + axis);
    m.start[axis] = int64_t(position);
    VectorXu64 shape = withoutAxis(view->shape(), axis);
    ImageType axes = axesOf(*view);
    if (axes != ImageTypeId::UNKNOWN)
        axes.remove(axis);
    auto p = describe(*view, axes);
    DataType const type = view->dataType();
    return mapped("Slice", view, readWriteOf(*view), std::move(shape), type, std::move(p), std::move(m));
}

std::shared_ptr<ImageView> channelOf(std::shared_ptr<ImageView> view, size_t index)
{
    DataType const type = view->dataType();
    if (index >= type.elementCount())
        invalid("extractChannel: channel " + std::to_string(index) + " of a type of " +
                std::to_string(type.elementCount()) + " components");
    DataType const scalar = componentsOf(type, "ImageViewFactory: extractChannel");
    Mapping m = identityMapping(*view);
    m.unit = scalar;
    m.byteOffset = index * scalar.byteCount();
    auto p = detail::propertiesOf(*view);
    p->imageInfo().setInterpretation(ImageInterpretation::UNKNOWN);
    p->imageInfo().setAlpha(false);
    return mapped("ExtractChannel", view, partsOf(*view), view->shape(), scalar, std::move(p), std::move(m));
}

} // namespace derived

std::shared_ptr<ImageView> ImageViewFactory::flip(std::shared_ptr<ImageView> image, size_t dimensionIndex)
{
    needView(image, "flip");
    if (!image->support(ImageCapability::READ))
        failure("flip: the image view cannot be read");
    size_t const n = image->dimensionCount();
    if (dimensionIndex >= n)
        invalid("flip: dimension " + std::to_string(dimensionIndex) + " of a view of " + std::to_string(n) +
                " dimensions");
    Mapping m = identityMapping(*image);
    m.axes[dimensionIndex].step = -1;
    m.start[dimensionIndex] = int64_t(image->shape().data()[dimensionIndex]) - 1;
    auto p = detail::propertiesOf(*image);
    DataType const type = image->dataType();
    return mapped("Flip", image, ImageCapability::READ, image->shape(), type, std::move(p), std::move(m));
}

std::shared_ptr<ImageView> ImageViewFactory::flip(std::shared_ptr<ImageView> image, ImageDimension dimension)
{
    needView(image, "flip");
    ImageType const axes = axesOf(*image);
    if (axes == ImageTypeId::UNKNOWN)
        invalid("flip: the image type is unknown");
    if (dimension < ImageDimension::COLUMN || dimension > ImageDimension::SEQUENCE || !axes.has(dimension))
        invalid("flip: the image type has no dimension " + std::to_string(int(dimension)));
    return flip(image, axes.indexDimension(dimension));
}

std::shared_ptr<ImageView> ImageViewFactory::subSample(std::shared_ptr<ImageView> image, size_t step)
{
    needView(image, "subSample");
    if (step == 0)
        invalid("subSample: a step of 0");
    if (!image->support(ImageCapability::READ))
        failure("subSample: the image view cannot be read");
    ImageType const axes = axesOf(*image);
    size_t const channel =
        axes.has(ImageDimension::CHANNEL) ? axes.indexDimension(ImageDimension::CHANNEL) : ~size_t(0);
    VectorXu64 shape(image->shape());
    Mapping m = identityMapping(*image);
    for (size_t d = 0; d < shape.size(); ++d) {
        if (d == channel)
            continue;
        uint64_t const extent = shape.data()[d];
        if (step > extent)
            invalid("subSample: a step of " + std::to_string(step) + " over a dimension of " + std::to_string(extent));
        shape.data()[d] = (extent + step - 1) / step;
        m.axes[d].step = int64_t(step);
    }
    auto p = detail::propertiesOf(*image);
    DataType const type = image->dataType();
    return mapped("SubSample", image, ImageCapability::READ, std::move(shape), type, std::move(p), std::move(m));
}

std::shared_ptr<ImageView> ImageViewFactory::reinterpretAxes(std::shared_ptr<ImageView> image,
                                                             ImageDimension const* dimensions, size_t count)
{
    needView(image, "reinterpretAxes");
    size_t const n = image->dimensionCount();
    if (count != n)
        failure("reinterpretAxes: " + std::to_string(count) + " dimensions given for a view of " + std::to_string(n));
    if (count && !dimensions)
        invalid("reinterpretAxes: no dimension list");
    ImageType const axes(dimensions, count);
    if (axes.dimensionCount() != count)
        invalid("reinterpretAxes: a dimension is repeated");
    // The view's dimension d is the source's dimension holding the d-th
    // dimension of the type in canonical order.
    Mapping m = identityMapping(*image);
    VectorXu64 shape(n);
    for (size_t i = 0; i < count; ++i) {
        size_t const d = axes.indexDimension(dimensions[i]);
        m.axes[d] = {int(i), 1};
        shape.data()[d] = image->shape().data()[i];
    }
    auto p = describe(*image, axes);
    DataType const type = image->dataType();
    return mapped("ReinterpretAxes", image, readWriteOf(*image), std::move(shape), type, std::move(p), std::move(m));
}

std::shared_ptr<ImageView> ImageViewFactory::disassembleChannels(std::shared_ptr<ImageView> image)
{
    needView(image, "disassembleChannels");
    ImageType axes = axesOf(*image);
    if (axes.has(ImageDimension::CHANNEL))
        invalid("disassembleChannels: the view already has a CHANNEL dimension");
    DataType const type = image->dataType();
    DataType const scalar = componentsOf(type, "ImageViewFactory: disassembleChannels");
    size_t const n = image->dimensionCount();
    size_t position = n;
    if (axes != ImageTypeId::UNKNOWN) {
        axes.add(ImageDimension::CHANNEL);
        position = axes.indexDimension(ImageDimension::CHANNEL);
    }
    Mapping m = identityMapping(*image);
    m.unit = scalar;
    m.axes.insert(m.axes.begin() + position, MapAxis{-1, int64_t(scalar.byteCount())});
    VectorXu64 shape = withAxis(image->shape(), position, type.elementCount());
    auto p = describe(*image, axes);
    return mapped("DisassembleChannels", image, readingOf(*image), std::move(shape), scalar, std::move(p),
                  std::move(m));
}

std::shared_ptr<ImageView> ImageViewFactory::assembleChannels(std::shared_ptr<ImageView> image)
{
    needView(image, "assembleChannels");
    DataType const type = image->dataType();
    size_t const n = image->dimensionCount();
    if (!type.isScalar())
        invalid("assembleChannels: the samples are not scalar");
    if (n < 2)
        invalid("assembleChannels: a view of " + std::to_string(n) + " dimensions");
    ImageType axes = axesOf(*image);
    size_t const channel = axes.has(ImageDimension::CHANNEL) ? axes.indexDimension(ImageDimension::CHANNEL) : n - 1;
    uint64_t const count = image->shape().data()[channel];
    if (count == 0 || count > 255)
        invalid("assembleChannels: " + std::to_string(count) + " channels");
    Mapping m = identityMapping(*image);
    m.axes.erase(m.axes.begin() + channel);
    m.hasInner = true;
    m.inner = {int(channel), 1};
    m.innerCount = count;
    VectorXu64 shape = withoutAxis(image->shape(), channel);
    if (axes != ImageTypeId::UNKNOWN)
        axes.remove(channel);
    auto p = describe(*image, axes);
    DataType const vector(type.primitiveType(), type.bitDepth(), size_t(count));
    componentsOf(vector, "ImageViewFactory: assembleChannels");
    return mapped("AssembleChannels", image, readingOf(*image), std::move(shape), vector, std::move(p),
                  std::move(m));
}

std::shared_ptr<ImageView> ImageViewFactory::extractRegion(std::shared_ptr<ImageView> view, RegionXu64 const& region)
{
    needView(view, "extractRegion");
    if (region.isEmpty())
        invalid("extractRegion: the region is empty");
    view->checkRegion(region);
    Mapping m = identityMapping(*view);
    for (size_t d = 0; d < m.start.size(); ++d)
        m.start[d] = int64_t(region.origin().data()[d]);
    auto p = detail::propertiesOf(*view);
    DataType const type = view->dataType();
    return mapped("ExtractRegion", view, readWriteOf(*view), region.size(), type, std::move(p), std::move(m));
}

std::shared_ptr<ImageView> ImageViewFactory::extractAdjustedRegion(std::shared_ptr<ImageView> view,
                                                                   RegionXu64 const& region)
{
    needView(view, "extractAdjustedRegion");
    if (region.isEmpty())
        invalid("extractAdjustedRegion: the region is empty");
    view->checkRegion(region);
    size_t const n = region.dimensionCount();
    Mapping m;
    m.unit = view->dataType();
    std::vector<uint64_t> kept;
    ImageType axes = axesOf(*view);
    ImageType const original = axes;
    for (size_t d = 0; d < n; ++d) {
        m.start.push_back(int64_t(region.origin().data()[d]));
        if (region.size().data()[d] != 1) {
            m.axes.push_back({int(d), 1});
            kept.push_back(region.size().data()[d]);
        } else if (original != ImageTypeId::UNKNOWN) {
            axes.remove(original.dimension(d));
        }
    }
    if (kept.empty()) {
        // A single sample stays a view of one dimension.
        m.axes.push_back({0, 1});
        kept.push_back(1);
        axes = ImageTypeId::UNKNOWN;
    }
    VectorXu64 shape(kept.size());
    std::copy(kept.begin(), kept.end(), shape.data());
    auto p = describe(*view, axes);
    DataType const type = view->dataType();
    return mapped("ExtractAdjustedRegion", view, readWriteOf(*view), std::move(shape), type, std::move(p),
                  std::move(m));
}

std::shared_ptr<ImageView> ImageViewFactory::extractChannel(std::shared_ptr<ImageView> view, size_t idxChannel)
{
    needView(view, "extractChannel");
    return channelOf(view, idxChannel);
}

} // namespace quelbo
