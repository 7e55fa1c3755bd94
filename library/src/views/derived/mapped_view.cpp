// Rearranged views: flips, sub-sampling, boxes, slices, axis orders and components.
#include <algorithm>
#include <string>
#include <type_traits>
#include <unordered_set>

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
    // straight from its data, laid out as that rearrangement found it; a
    // part of the samples of a view joining frames, straight from the frame
    // holding it, as that view found it.
    struct Placed
    {
        std::shared_ptr<ImageView> data;
        Mapping map;
        std::vector<Footing> past; // the views passed on the way to data, as recorded
    };
    static Placed placed(std::shared_ptr<ImageView> const& source, Mapping const& mapping)
    {
        Placed at{source, mapping, {}};
        auto* inner = dynamic_cast<MappedView*>(source.get());
        if (inner && inner->composable())
            at = {inner->m_data, inner->compose(mapping), {inner->footingOf(*inner->m_data)}};
        auto* joined = dynamic_cast<DerivedView*>(at.data.get());
        bool const samplewise = !at.map.hasInner && std::all_of(at.map.axes.begin(), at.map.axes.end(),
                                                                [](MapAxis const& a) { return a.source >= 0; });
        if (auto part = joined && samplewise ? joined->partAt(at.map.byteOffset, at.map.unit) : nullptr) {
            at.past.push_back(joined->footingOf(*part));
            at.data = std::move(part);
            at.map.byteOffset = 0;
        }
        return at;
    }

    // A write of parts of samples through a view without memory writes the
    // other parts back as it read them: one whose parts may be the same
    // bytes would undo the write, so such a view does not write.
    static ImageCapabilitySet writable(ImageCapabilitySet caps, Placed const& at)
    {
        ImageView& data = *at.data;
        if (caps.has(ImageCapability::WRITE) && at.map.unit != data.dataType() &&
            !data.support(ImageCapability::MEMORY_ACCESS) && partsMayMeetIn(data))
            caps.remove(ImageCapability::WRITE);
        return caps;
    }

    // Whether some view that a transfer of `view` passes through may hold
    // two parts of a sample in the same bytes.
    static bool partsMayMeetIn(ImageView& view)
    {
        std::vector<ImageView*> todo{&view};
        std::unordered_set<ImageView*> seen;
        detail::Reach spans;
        while (!todo.empty()) {
            ImageView* v = todo.back();
            todo.pop_back();
            if (v->support(ImageCapability::MEMORY_ACCESS) || !seen.insert(v).second)
                continue;
            auto* derived = dynamic_cast<DerivedView*>(v);
            if (derived && derived->partsMayMeet())
                return true;
            if (auto* reaching = dynamic_cast<detail::Reaching*>(v))
                reaching->reachInto(spans, todo);
        }
        return false;
    }

    MappedView(char const* name, std::shared_ptr<ImageView> const& source, ImageCapabilitySet caps, VectorXu64 shape,
               DataType type, std::shared_ptr<const ImageProperties> properties, Placed at)
        : DerivedView(name, {source}, writable(caps, at), std::move(shape), type, std::move(properties),
                      detail::metadataOf(*source), at.data.get()),
          m_data(std::move(at.data)), m_map(std::move(at.map))
    {
        for (Footing& f : at.past)
            standOn(std::move(f));
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

std::shared_ptr<ImageView> sliceOf(std::shared_ptr<ImageView> view, size_t axis, uint64_t position)
{
    Mapping m = identityMapping(*view);
    m.axes.erase(m.axes.begin() + axis);
    m.start[axis] = int64_t(position);
    VectorXu64 shape = withoutAxis(view->shape(), axis);
    ImageType axes = axesOf(*view);
    if (axes != ImageTypeId::UNKNOWN)
        axes.remove(axis);
    DataType const type = view->dataType();
    auto p = describe(*view, axes, shape, type);
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
    auto p = describe(*view, view->shape(), scalar);
    p->imageInfo().setInterpretation(ImageInterpretation::UNKNOWN);
    p->imageInfo().setAlpha(false);
    return mapped("ExtractChannel", view, partsOf(*view), view->shape(), scalar, std::move(p), std::move(m));
}

} // namespace derived

} // namespace quelbo
