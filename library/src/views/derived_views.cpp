#include "quelbo/image_view_factory.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

#include "quelbo/data_type_traits.h"
#include "quelbo/multi_image_view.h"
#include "quelbo/region_copier.h"
#include "views/view_parts.h"

namespace quelbo {

namespace {

using detail::OwnedDescription;

[[noreturn]] void invalid(std::string const& message)
{
    throw InvalidArgument("ImageViewFactory: " + message);
}

[[noreturn]] void failure(std::string const& message)
{
    throw Error("ImageViewFactory: " + message);
}

std::shared_ptr<ImageView> needView(std::shared_ptr<ImageView> view, char const* operation)
{
    if (!view)
        invalid(std::string(operation) + ": the image view is empty");
    return view;
}

constexpr uint64_t kReadWrite = uint64_t(ImageCapability::READ) | uint64_t(ImageCapability::WRITE);

ImageCapabilitySet readWriteOf(ImageView& view)
{
    return ImageCapabilitySet(view.capabilities().value() & kReadWrite);
}

// ------------------------------------------------------------ derived view

// A view with a shape, type, capabilities, properties and metadata of its
// own, over one or more source views that it keeps alive.
class DerivedView : public ImageView
{
public:
    DerivedView(char const* name, std::vector<std::shared_ptr<ImageView>> sources, ImageCapabilitySet caps,
                VectorXu64 shape, DataType type, std::shared_ptr<const ImageProperties> properties,
                std::shared_ptr<const MetadataNode> metadata)
        : ImageView(originOf(sources), name, parentsOf(sources)), m_sources(std::move(sources)), m_caps(caps),
          m_shape(std::move(shape)), m_type(type), m_description(std::move(properties), std::move(metadata))
    {}

    ImageCapabilitySet capabilities() const override { return m_caps; }
    VectorXu64 const& shape() override { return m_shape; }
    DataType dataType() override { return m_type; }
    std::shared_ptr<const ImageProperties> properties() override { return m_description.properties(); }
    std::shared_ptr<const MetadataNode> metadata() const override { return m_description.metadata(m_caps); }
    void setProperties(std::shared_ptr<const ImageProperties> properties) override
    {
        m_description.setProperties(m_caps, std::move(properties), m_shape, m_type);
    }
    void setMetadata(std::shared_ptr<MetadataNode> metadata) override
    {
        m_description.setMetadata(m_caps, std::move(metadata));
    }
    void writeRegion(RegionXu64 const& region, const void* src) override
    {
        if (!m_caps.has(ImageCapability::WRITE))
            throw NotImplemented("ImageView: writeRegion needs the WRITE capability");
        checkRegion(region);
        store(region, static_cast<const uint8_t*>(src));
    }
    void readRegion(RegionXu64 const& region, void* dst) override
    {
        if (!m_caps.has(ImageCapability::READ))
            throw NotImplemented("ImageView: readRegion needs the READ capability");
        checkRegion(region);
        load(region, static_cast<uint8_t*>(dst));
    }

    // Concurrent reads are as safe as on every source; writes when the view
    // writes and every source allows them.
    ParallelAccessCapabilitySet parallelCapabilities() override
    {
        uint64_t common = ~uint64_t(0);
        for (auto const& s : m_sources)
            common &= s->parallelCapabilities().value();
        uint64_t allowed = uint64_t(ParallelAccessCapability::PARALLEL_READ);
        if (m_caps.has(ImageCapability::WRITE))
            allowed |= uint64_t(ParallelAccessCapability::PARALLEL_WRITE);
        return ParallelAccessCapabilitySet(common & allowed);
    }

protected:
    virtual void load(RegionXu64 const& region, uint8_t* dst) = 0;
    virtual void store(RegionXu64 const& region, const uint8_t* src) = 0;

    ImageView& source(size_t i = 0) { return *m_sources[i]; }
    std::vector<std::shared_ptr<ImageView>> const& sources() const { return m_sources; }

private:
    static ViewDataOrigin originOf(std::vector<std::shared_ptr<ImageView>> const& sources)
    {
        if (sources.size() != 1)
            return ViewDataOrigin::COMPOSITE;
        return detail::dataOriginOf(*sources.front());
    }
    static std::vector<std::shared_ptr<ViewOriginExtension>>
    parentsOf(std::vector<std::shared_ptr<ImageView>> const& sources)
    {
        std::vector<std::shared_ptr<ViewOriginExtension>> parents;
        for (auto const& s : sources)
            parents.push_back(s->viewOrigin());
        return parents;
    }

    std::vector<std::shared_ptr<ImageView>> m_sources;
    ImageCapabilitySet m_caps;
    VectorXu64 m_shape;
    DataType m_type;
    OwnedDescription m_description;
};

// ------------------------------------------------------------ mapped view

// One axis of a mapping: a dimension of the source walked by `step` samples,
// or (source < 0) the components inside a sample, `step` bytes apart.
struct MapAxis
{
    int source;
    int64_t step;
};

// Where the samples of a mapped view lie in its source: view index i holds
// the unit at source index start + sum(step * i) (per source dimension),
// byteOffset bytes into that sample. With `inner`, each sample of the view
// is innerCount units of the source along one more axis.
struct Mapping
{
    std::vector<MapAxis> axes; // one per view dimension
    std::vector<int64_t> start;
    size_t byteOffset = 0;
    DataType unit; // the type of one unit moved
    bool hasInner = false;
    MapAxis inner{0, 0};
    uint64_t innerCount = 1;
};

// A view whose samples are a fixed rearrangement of its source's (flips,
// sub-sampling, boxes, axis orders, components): nothing is copied until a
// region is read, and then straight from the source's memory when it offers
// it.
class MappedView final : public DerivedView
{
public:
    MappedView(char const* name, std::shared_ptr<ImageView> source, ImageCapabilitySet caps, VectorXu64 shape,
               DataType type, std::shared_ptr<const ImageProperties> properties, Mapping mapping)
        : DerivedView(name, {source}, caps, std::move(shape), type, std::move(properties), detail::metadataOf(*source)),
          m_data(source), m_map(std::move(mapping))
    {
        // Over another rearrangement, read straight from its data.
        auto inner = std::dynamic_pointer_cast<MappedView>(source);
        if (inner && inner->composable()) {
            m_map = inner->compose(m_map);
            m_data = inner->m_data;
        }
        ImageView& src = *m_data;
        m_passThrough = !m_map.hasInner && m_map.byteOffset == 0 && m_map.unit == src.dataType();
        int last = -1;
        for (MapAxis const& a : m_map.axes) {
            m_passThrough = m_passThrough && a.source > last && a.step == 1;
            last = a.source;
        }
    }

protected:
    void load(RegionXu64 const& region, uint8_t* dst) override
    {
        if (m_passThrough)
            return m_data->readRegion(sourceBox(region), dst);
        transfer(region, dst, true);
    }
    void store(RegionXu64 const& region, const uint8_t* src) override
    {
        if (m_passThrough)
            return m_data->writeRegion(sourceBox(region), src);
        transfer(region, const_cast<uint8_t*>(src), false);
    }

private:
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

    // Moves the units of a region between the view's dense buffer and the
    // source: its memory when it has some, else a copy of the box reached.
    void transfer(RegionXu64 const& region, uint8_t* dense, bool toView)
    {
        ImageView& src = *m_data;
        RegionXu64 const box = sourceBox(region);
        size_t const n = m_map.start.size();
        bool const memory = src.support(ImageCapability::MEMORY_ACCESS);
        detail::Scratch copy;
        uint8_t* base;
        VectorXu64 strides;
        VectorXu64 memoryOrigin(n);
        if (memory) {
            base = static_cast<uint8_t*>(src.buffer());
            strides = src.indexer().byteStride();
        } else {
            copy.resize(src.regionByteCount(box));
            src.readRegion(box, copy.data());
            base = copy.data();
            strides = detail::denseStrides(box.size(), src.sampleByteCount());
            memoryOrigin = box.origin();
        }
        auto stride = [&](MapAxis const& a) {
            return a.source < 0 ? a.step : a.step * int64_t(strides.data()[a.source]);
        };
        int64_t offset = int64_t(m_map.byteOffset);
        for (size_t k = 0; k < n; ++k)
            offset += (m_map.start[k] - int64_t(memoryOrigin.data()[k])) * int64_t(strides.data()[k]);
        for (size_t d = 0; d < m_map.axes.size(); ++d)
            offset += stride(m_map.axes[d]) * int64_t(region.origin().data()[d]);

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
        if (toView) {
            RegionCopier(sourceSide, viewSide, zero, zero, size, m_map.unit).copy(base + offset, dense);
        } else {
            RegionCopier(viewSide, sourceSide, zero, zero, size, m_map.unit).copy(dense, base + offset);
            if (!memory)
                src.writeRegion(box, copy.data());
        }
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

// The identity mapping of a view's dimensions onto its source's.
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

// Properties of a derived view: the source's with other axes (and type).
std::shared_ptr<ImageProperties> describe(ImageView& source, ImageType axes)
{
    auto p = detail::propertiesOf(source);
    p->imageInfo().setAxesInterpretation(axes);
    return p;
}

// ----------------------------------------------------------- forward view

// The source itself behind another description (properties, metadata) or a
// lock: every operation goes to the source.
class ForwardView final : public ImageView
{
public:
    ForwardView(char const* name, std::shared_ptr<ImageView> source, uint64_t capabilityMask, bool locked,
                std::shared_ptr<const ImageProperties> properties, bool ownMetadata,
                std::shared_ptr<const MetadataNode> metadata)
        : ImageView(detail::dataOriginOf(*source), name, {source->viewOrigin()}), m_source(std::move(source)),
          m_mask(capabilityMask), m_lock(locked ? new std::recursive_mutex : nullptr),
          m_ownProperties(properties != nullptr), m_ownMetadata(ownMetadata),
          m_description(std::move(properties), std::move(metadata))
    {}

    ImageCapabilitySet capabilities() const override
    {
        auto l = lock();
        return ImageCapabilitySet(m_source->capabilities().value() & m_mask);
    }
    VectorXu64 const& shape() override
    {
        auto l = lock();
        return m_source->shape();
    }
    DataType dataType() override
    {
        auto l = lock();
        return m_source->dataType();
    }
    std::shared_ptr<const ImageProperties> properties() override
    {
        auto l = lock();
        return m_ownProperties ? m_description.properties() : m_source->properties();
    }
    std::shared_ptr<const MetadataNode> metadata() const override
    {
        auto l = lock();
        return m_ownMetadata ? m_description.metadata(capabilities()) : m_source->metadata();
    }
    void read(VectorXu64 const& index, void* dst) override
    {
        auto l = lock();
        need(ImageCapability::READ, "read");
        m_source->read(index, dst);
    }
    void readRegion(RegionXu64 const& region, void* dst) override
    {
        auto l = lock();
        need(ImageCapability::READ, "readRegion");
        m_source->readRegion(region, dst);
    }
    void setProperties(std::shared_ptr<const ImageProperties> properties) override
    {
        auto l = lock();
        if (!m_ownProperties)
            return m_source->setProperties(std::move(properties));
        m_description.setProperties(capabilities(), std::move(properties), m_source->shape(), m_source->dataType());
    }
    void setMetadata(std::shared_ptr<MetadataNode> metadata) override
    {
        auto l = lock();
        if (!m_ownMetadata)
            return m_source->setMetadata(std::move(metadata));
        m_description.setMetadata(capabilities(), std::move(metadata));
    }
    void write(VectorXu64 const& index, const void* src) override
    {
        auto l = lock();
        need(ImageCapability::WRITE, "write");
        m_source->write(index, src);
    }
    void writeRegion(RegionXu64 const& region, const void* src) override
    {
        auto l = lock();
        need(ImageCapability::WRITE, "writeRegion");
        m_source->writeRegion(region, src);
    }
    void reshape(VectorXu64 const& shape, DataType dataType) override
    {
        auto l = lock();
        need(ImageCapability::RESHAPE, "reshape");
        m_source->reshape(shape, dataType);
    }
    Indexer const& indexer() override
    {
        auto l = lock();
        need(ImageCapability::MEMORY_ACCESS, "indexer");
        return m_source->indexer();
    }
    void* buffer() override
    {
        auto l = lock();
        need(ImageCapability::MEMORY_ACCESS, "buffer");
        return m_source->buffer();
    }
    const void* bufferReadOnly() const override
    {
        auto l = lock();
        need(ImageCapability::MEMORY_ACCESS, "bufferReadOnly");
        return m_source->bufferReadOnly();
    }
    size_t bufferSize() override
    {
        auto l = lock();
        need(ImageCapability::MEMORY_ACCESS, "bufferSize");
        return m_source->bufferSize();
    }
    std::shared_ptr<MemoryBlock> memoryBlock() override
    {
        auto l = lock();
        return capabilities().has(ImageCapability::MEMORY_ACCESS) ? m_source->memoryBlock() : nullptr;
    }
    ParallelAccessCapabilitySet parallelCapabilities() override
    {
        auto l = lock();
        uint64_t caps = m_source->parallelCapabilities().value();
        if (m_lock)
            caps |= uint64_t(ParallelAccessCapability::THREAD_SAFE);
        return ParallelAccessCapabilitySet(caps);
    }
    std::shared_ptr<Extension> extension(size_t id) override
    {
        auto l = lock();
        if (id == TilingInfoExtension::EXTENSION_ID && !m_lock)
            return m_source->extension(id);
        return ImageView::extension(id);
    }

private:
    std::unique_lock<std::recursive_mutex> lock() const
    {
        return m_lock ? std::unique_lock<std::recursive_mutex>(*m_lock) : std::unique_lock<std::recursive_mutex>();
    }
    void need(ImageCapability flag, char const* operation) const
    {
        if (!capabilities().has(flag))
            throw NotImplemented(std::string("ImageView: ") + operation + " is not supported by this view");
    }

    std::shared_ptr<ImageView> m_source;
    uint64_t m_mask;
    std::unique_ptr<std::recursive_mutex> m_lock;
    bool m_ownProperties;
    bool m_ownMetadata;
    OwnedDescription m_description;
};

// ------------------------------------------------------------ adapt view

// Loads and stores one numeric component as a double; integer stores round
// and saturate, NaN giving 0.
using LoadFn = double (*)(const uint8_t*);
using StoreFn = void (*)(double, uint8_t*);

template <class T>
double loadAs(const uint8_t* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return double(v);
}

template <class T>
void storeAs(double v, uint8_t* p)
{
    T out;
    if constexpr (std::is_floating_point<T>::value) {
        double const top = double(std::numeric_limits<T>::max());
        out = v > top ? std::numeric_limits<T>::infinity() : v < -top ? -std::numeric_limits<T>::infinity() : T(v);
    } else {
        if (std::isnan(v))
            out = 0;
        else {
            v = std::nearbyint(v);
            if (v <= double(std::numeric_limits<T>::min()))
                out = std::numeric_limits<T>::min();
            else if (v >= double(std::numeric_limits<T>::max()))
                out = std::numeric_limits<T>::max();
            else
                out = T(v);
        }
    }
    std::memcpy(p, &out, sizeof out);
}

struct Numeric
{
    LoadFn load;
    StoreFn store;
    size_t bytes;
};

// The numeric functions of a scalar type among the element types.
template <class... T>
Numeric numericAmong(DataType scalar)
{
    Numeric found{nullptr, nullptr, 0};
    ((DataTypeTraits<T>::toDataType() == scalar && (found = {&loadAs<T>, &storeAs<T>, sizeof(T)}, true)) || ...);
    if (!found.load)
        invalid("the data type " + scalar.toString() + " is not a numeric type of 8, 16, 32 or 64 bits");
    return found;
}

Numeric numericOf(DataType scalar)
{
    return numericAmong<uint8_t, int8_t, uint16_t, int16_t, uint32_t, int32_t, uint64_t, int64_t, float, double>(
        scalar);
}

// Values mapped linearly from one range onto another, in another type.
class AdaptView final : public DerivedView
{
public:
    AdaptView(char const* name, std::shared_ptr<ImageView> source, DataType type, Vector2d const& in,
              Vector2d const& out, std::shared_ptr<const ImageProperties> properties)
        : DerivedView(name, {source}, readWriteOf(*source), source->shape(), type, std::move(properties),
                      detail::metadataOf(*source)),
          m_from(numericOf(DataType::extractScalarType(source->dataType()))),
          m_to(numericOf(DataType::extractScalarType(type))), m_in(in), m_out(out)
    {
        double const span = in[1] - in[0];
        m_scale = span != 0 ? (out[1] - out[0]) / span : 0.0;
        double const back = out[1] - out[0];
        m_inverse = back != 0 ? span / back : 0.0;
    }

protected:
    void load(RegionXu64 const& region, uint8_t* dst) override
    {
        size_t const bytes = source().regionByteCount(region);
        detail::Scratch raw(bytes);
        source().readRegion(region, raw.data());
        size_t const count = bytes / m_from.bytes;
        for (size_t i = 0; i < count; ++i)
            m_to.store((m_from.load(raw.data() + i * m_from.bytes) - m_in[0]) * m_scale + m_out[0],
                       dst + i * m_to.bytes);
    }
    void store(RegionXu64 const& region, const uint8_t* src) override
    {
        size_t const bytes = source().regionByteCount(region);
        detail::Scratch raw(bytes);
        size_t const count = bytes / m_from.bytes;
        for (size_t i = 0; i < count; ++i)
            m_from.store((m_to.load(src + i * m_to.bytes) - m_out[0]) * m_inverse + m_in[0],
                         raw.data() + i * m_from.bytes);
        source().writeRegion(region, raw.data());
    }

private:
    Numeric m_from, m_to;
    Vector2d m_in, m_out;
    double m_scale = 0, m_inverse = 0;
};

std::shared_ptr<ImageView> adapt(char const* name, std::shared_ptr<ImageView> view, DataType type, Vector2d const& in,
                                 Vector2d const& out)
{
    DataType const from = view->dataType();
    if (type.elementCount() != from.elementCount())
        invalid(std::string(name) + ": " + type.toString() + " and " + from.toString() + " differ in component count");
    if (!type.isNumeric() || !from.isNumeric())
        invalid(std::string(name) + ": " + type.toString() + " and " + from.toString() + " must be numeric");
    auto p = detail::propertiesOf(*view);
    p->imageInfo().setBitDepth(type.bitDepth());
    p->imageInfo().setValueRange(out);
    return std::make_shared<AdaptView>(name, view, type, in, out, std::move(p));
}

// ------------------------------------------------------ frames of a multi view

std::vector<std::shared_ptr<ImageView>> framesOf(std::shared_ptr<MultiImageView> const& multi, char const* operation)
{
    if (!multi)
        invalid(std::string(operation) + ": the multi-image view is empty");
    std::vector<std::shared_ptr<ImageView>> frames;
    for (size_t i = 0, n = multi->frameCount(); i < n; ++i)
        frames.push_back(multi->frame(i));
    if (frames.empty())
        invalid(std::string(operation) + ": the multi-image view has no frame");
    VectorXu64 const& shape = frames.front()->shape();
    DataType const type = frames.front()->dataType();
    for (auto const& f : frames) {
        if (!f)
            invalid(std::string(operation) + ": a frame is empty");
        if (f->shape() != shape || f->dataType() != type)
            invalid(std::string(operation) + ": the frames differ in shape or data type");
    }
    return frames;
}

ImageCapabilitySet commonReadWrite(std::vector<std::shared_ptr<ImageView>> const& frames)
{
    uint64_t caps = kReadWrite;
    for (auto const& f : frames)
        caps &= f->capabilities().value();
    return ImageCapabilitySet(caps);
}

// Runs work(i) for i in [0, count) on up to `threads` threads; the first
// failure is rethrown once all are done.
template <class F>
void parallelFor(size_t count, size_t threads, F&& work)
{
    if (threads <= 1 || count <= 1) {
        for (size_t i = 0; i < count; ++i)
            work(i);
        return;
    }
    threads = std::min(threads, count);
    std::mutex guard;
    std::exception_ptr failed;
    size_t next = 0;
    auto worker = [&] {
        for (;;) {
            size_t i;
            {
                std::lock_guard<std::mutex> g(guard);
                if (failed || next == count)
                    return;
                i = next++;
            }
            try {
                work(i);
            } catch (...) {
                std::lock_guard<std::mutex> g(guard);
                if (!failed)
                    failed = std::current_exception();
            }
        }
    };
    std::vector<std::thread> pool;
    try {
        for (size_t t = 1; t < threads; ++t)
            pool.emplace_back(worker);
    } catch (...) {
        // Fewer threads than asked: the calling thread still does the rest.
    }
    worker();
    for (auto& t : pool)
        t.join();
    if (failed)
        std::rethrow_exception(failed);
}

size_t machineThreads()
{
    unsigned const n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

// The frames along a new dimension at `axis`; each frame's samples go to
// their slab of the destination.
class StackView final : public DerivedView
{
public:
    StackView(std::vector<std::shared_ptr<ImageView>> frames, size_t axis, VectorXu64 shape,
              std::shared_ptr<const ImageProperties> properties, size_t threads)
        : DerivedView("Stack", frames, commonReadWrite(frames), std::move(shape), frames.front()->dataType(),
                      std::move(properties), detail::metadataOf(*frames.front())),
          m_axis(axis), m_threads(threads)
    {}

protected:
    void load(RegionXu64 const& region, uint8_t* dst) override { move(region, dst, true); }
    void store(RegionXu64 const& region, const uint8_t* src) override
    {
        move(region, const_cast<uint8_t*>(src), false);
    }

private:
    void move(RegionXu64 const& region, uint8_t* dense, bool toView)
    {
        size_t const n = region.dimensionCount();
        size_t const bytes = dataType().byteCount();
        uint64_t const first = region.origin().data()[m_axis];
        uint64_t const count = region.size().data()[m_axis];
        // The frame's region: the view's without the stacking axis.
        VectorXu64 origin(n - 1), size(n - 1);
        for (size_t d = 0, k = 0; d < n; ++d) {
            if (d == m_axis)
                continue;
            origin.data()[k] = region.origin().data()[d];
            size.data()[k++] = region.size().data()[d];
        }
        RegionXu64 const frameRegion(origin, size);
        VectorXu64 const viewStrides = detail::denseStrides(region.size(), bytes);
        uint64_t const slab = viewStrides.data()[m_axis];
        bool const contiguous = m_axis == n - 1;
        // The slab of one frame inside the dense region, as an indexer.
        VectorXu64 slabShape(region.size());
        slabShape.data()[m_axis] = 1;
        Indexer const slabSide(slabShape, dataType(), viewStrides, detail::identityOrder(n));
        Indexer const frameSide(slabShape, dataType());
        VectorXu64 const zero(n);
        size_t const threads =
            concurrent(toView) ? std::min(m_threads == 0 ? machineThreads() : m_threads, machineThreads()) : 1;
        parallelFor(size_t(count), threads, [&](size_t i) {
            ImageView& frame = *sources()[first + i];
            uint8_t* at = dense + i * slab;
            if (contiguous) {
                if (toView)
                    frame.readRegion(frameRegion, at);
                else
                    frame.writeRegion(frameRegion, at);
                return;
            }
            detail::Scratch own(frame.regionByteCount(frameRegion));
            if (toView) {
                frame.readRegion(frameRegion, own.data());
                RegionCopier(frameSide, slabSide, zero, zero, slabShape, dataType()).copy(own.data(), at);
            } else {
                RegionCopier(slabSide, frameSide, zero, zero, slabShape, dataType()).copy(at, own.data());
                frame.writeRegion(frameRegion, own.data());
            }
        });
    }

    // Frames are read (written) side by side only when each allows it.
    // THREAD_SAFE is not enough: two locked frames may share one source.
    bool concurrent(bool reading)
    {
        uint64_t const side =
            uint64_t(reading ? ParallelAccessCapability::PARALLEL_READ : ParallelAccessCapability::PARALLEL_WRITE);
        std::vector<ImageView*> frames;
        for (auto const& frame : sources()) {
            if (!(frame->parallelCapabilities().value() & side))
                return false;
            frames.push_back(frame.get());
        }
        // One view given twice would be written from two threads at once.
        std::sort(frames.begin(), frames.end());
        return reading || std::adjacent_find(frames.begin(), frames.end()) == frames.end();
    }

    size_t m_axis;
    size_t m_threads;
};

std::shared_ptr<ImageView> stackFrames(std::shared_ptr<MultiImageView> multi, ImageDimension* dimension, size_t threads)
{
    auto frames = framesOf(multi, "stack");
    ImageView& first = *frames.front();
    size_t const n = first.dimensionCount();
    ImageType const axes = axesOf(first);
    size_t axis = n;
    ImageType newAxes = ImageTypeId::UNKNOWN;
    if (dimension && axes != ImageTypeId::UNKNOWN) {
        if (*dimension < ImageDimension::COLUMN || *dimension > ImageDimension::SEQUENCE)
            invalid("stack: unknown dimension " + std::to_string(int(*dimension)));
        if (axes.has(*dimension))
            invalid("stack: the frames already have the dimension " + std::to_string(int(*dimension)));
        newAxes = axes | *dimension;
        axis = newAxes.indexDimension(*dimension);
    }
    VectorXu64 shape(n + 1);
    for (size_t d = 0, k = 0; d <= n; ++d)
        shape.data()[d] = d == axis ? frames.size() : first.shape().data()[k++];
    auto p = describe(first, newAxes);
    if (dimension && *dimension == ImageDimension::CHANNEL && frames.size() > 1)
        p->imageInfo().setInterpretation(ImageInterpretation::UNKNOWN);
    return std::make_shared<StackView>(std::move(frames), axis, std::move(shape), std::move(p), threads);
}

// The frames as the components of one vector sample.
class InterlaceView final : public DerivedView
{
public:
    InterlaceView(std::vector<std::shared_ptr<ImageView>> frames, DataType type,
                  std::shared_ptr<const ImageProperties> properties)
        : DerivedView("Interlace", frames, commonReadWrite(frames), frames.front()->shape(), type,
                      std::move(properties), detail::metadataOf(*frames.front()))
    {}

protected:
    void load(RegionXu64 const& region, uint8_t* dst) override { move(region, dst, true); }
    void store(RegionXu64 const& region, const uint8_t* src) override
    {
        move(region, const_cast<uint8_t*>(src), false);
    }

private:
    void move(RegionXu64 const& region, uint8_t* dense, bool toView)
    {
        size_t const n = region.dimensionCount();
        DataType const unit = sources().front()->dataType();
        size_t const unitBytes = unit.byteCount();
        Indexer const sampleSide(region.size(), unit, detail::denseStrides(region.size(), dataType().byteCount()),
                                 detail::identityOrder(n));
        Indexer const frameSide(region.size(), unit);
        VectorXu64 const zero(n);
        detail::Scratch own;
        for (size_t i = 0; i < sources().size(); ++i) {
            ImageView& frame = *sources()[i];
            own.resize(frame.regionByteCount(region));
            if (toView) {
                frame.readRegion(region, own.data());
                RegionCopier(frameSide, sampleSide, zero, zero, region.size(), unit)
                    .copy(own.data(), dense + i * unitBytes);
            } else {
                RegionCopier(sampleSide, frameSide, zero, zero, region.size(), unit)
                    .copy(dense + i * unitBytes, own.data());
                frame.writeRegion(region, own.data());
            }
        }
    }
};

std::shared_ptr<ImageView> interlaceFrames(std::shared_ptr<MultiImageView> multi, ImageInterpretation interpretation,
                                           bool alpha)
{
    auto frames = framesOf(multi, "interlace");
    ImageView& first = *frames.front();
    DataType const type = first.dataType();
    if (!type.isScalar())
        invalid("interlace: the frames are not scalar");
    if (axesOf(first).has(ImageDimension::CHANNEL))
        invalid("interlace: the frames have a CHANNEL dimension");
    if (frames.size() > 255)
        invalid("interlace: more than 255 frames");
    DataType const vector(type.primitiveType(), type.bitDepth(), frames.size());
    auto p = detail::propertiesOf(first);
    p->imageInfo().setInterpretation(interpretation);
    p->imageInfo().setAlpha(alpha);
    return std::make_shared<InterlaceView>(std::move(frames), vector, std::move(p));
}

// A slice of a view at one position along one dimension, without it.
std::shared_ptr<ImageView> sliceOf(std::shared_ptr<ImageView> view, size_t axis, uint64_t position)
{
    Mapping m = identityMapping(*view);
    m.axes.erase(m.axes.begin() + axis);
    m.start[axis] = int64_t(position);
    VectorXu64 const& full = view->shape();
    VectorXu64 shape(full.size() - 1);
    for (size_t d = 0, k = 0; d < full.size(); ++d)
        if (d != axis)
            shape.data()[k++] = full.data()[d];
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
    DataType const scalar = DataType::extractScalarType(type);
    Mapping m = identityMapping(*view);
    m.unit = scalar;
    m.byteOffset = index * scalar.byteCount();
    auto p = detail::propertiesOf(*view);
    p->imageInfo().setInterpretation(ImageInterpretation::UNKNOWN);
    p->imageInfo().setAlpha(false);
    return mapped("ExtractChannel", view, readWriteOf(*view), view->shape(), scalar, std::move(p), std::move(m));
}

} // namespace

// ================================================================ factory

std::shared_ptr<ImageView> ImageViewFactory::makeThreadSafe(std::shared_ptr<ImageView> image)
{
    needView(image, "makeThreadSafe");
    return std::make_shared<ForwardView>("ThreadSafe", image, ~uint64_t(0), true, nullptr, false, nullptr);
}

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

std::shared_ptr<ImageView> ImageViewFactory::reinterpret(std::shared_ptr<ImageView> image, ImageType newImageType)
{
    needView(image, "reinterpret");
    size_t const n = image->dimensionCount();
    if (newImageType != ImageTypeId::UNKNOWN && newImageType.dimensionCount() != n)
        failure("reinterpret: an image type of " + std::to_string(newImageType.dimensionCount()) +
                " dimensions for a view of " + std::to_string(n));
    auto p = describe(*image, newImageType);
    return std::make_shared<ForwardView>("Reinterpret", image, kReadWrite, false, std::move(p), true,
                                         detail::metadataOf(*image));
}

std::shared_ptr<ImageView> ImageViewFactory::disassembleChannels(std::shared_ptr<ImageView> image)
{
    needView(image, "disassembleChannels");
    ImageType axes = axesOf(*image);
    if (axes.has(ImageDimension::CHANNEL))
        invalid("disassembleChannels: the view already has a CHANNEL dimension");
    DataType const type = image->dataType();
    DataType const scalar = DataType::extractScalarType(type);
    size_t const n = image->dimensionCount();
    size_t position = n;
    if (axes != ImageTypeId::UNKNOWN) {
        axes.add(ImageDimension::CHANNEL);
        position = axes.indexDimension(ImageDimension::CHANNEL);
    }
    Mapping m = identityMapping(*image);
    m.unit = scalar;
    m.axes.insert(m.axes.begin() + position, MapAxis{-1, int64_t(scalar.byteCount())});
    VectorXu64 shape(n + 1);
    for (size_t d = 0, k = 0; d <= n; ++d)
        shape.data()[d] = d == position ? type.elementCount() : image->shape().data()[k++];
    auto p = describe(*image, axes);
    return mapped("DisassembleChannels", image, ImageCapability::READ, std::move(shape), scalar, std::move(p),
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
    VectorXu64 shape(n - 1);
    for (size_t d = 0, k = 0; d < n; ++d)
        if (d != channel)
            shape.data()[k++] = image->shape().data()[d];
    if (axes != ImageTypeId::UNKNOWN)
        axes.remove(channel);
    auto p = describe(*image, axes);
    DataType const vector(type.primitiveType(), type.bitDepth(), size_t(count));
    return mapped("AssembleChannels", image, ImageCapability::READ, std::move(shape), vector, std::move(p),
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

std::shared_ptr<ImageView> ImageViewFactory::fromImageView(std::shared_ptr<ImageView> view,
                                                           std::shared_ptr<const ImageProperties> properties,
                                                           std::shared_ptr<const MetadataNode> metadata)
{
    needView(view, "fromImageView");
    if (!properties)
        properties = detail::propertiesOf(*view);
    else if (!properties->isCompatibleWith(view->shape(), view->dataType()))
        failure("fromImageView: the properties do not fit the shape " + view->shape().toString() + " and type " +
                view->dataType().toString());
    return std::make_shared<ForwardView>("FromImageView", view, ~uint64_t(0), false, std::move(properties), true,
                                         std::move(metadata));
}

std::shared_ptr<ImageView> ImageViewFactory::interlace(std::shared_ptr<MultiImageView> multiView)
{
    return interlaceFrames(std::move(multiView), ImageInterpretation::UNKNOWN, false);
}

std::shared_ptr<ImageView> ImageViewFactory::interlace(std::shared_ptr<MultiImageView> multiView,
                                                       ImageInterpretation newInterpretation, bool hasAlpha)
{
    return interlaceFrames(std::move(multiView), newInterpretation, hasAlpha);
}

std::shared_ptr<ImageView> ImageViewFactory::stack(std::shared_ptr<MultiImageView> multiView)
{
    return stackFrames(std::move(multiView), nullptr, 0);
}

std::shared_ptr<ImageView> ImageViewFactory::stack(std::shared_ptr<MultiImageView> multiView,
                                                   ImageDimension newDimension)
{
    return stackFrames(std::move(multiView), &newDimension, 0);
}

std::shared_ptr<ImageView> ImageViewFactory::stack(std::shared_ptr<MultiImageView> multiView,
                                                   ImageDimension newDimension, size_t threadCount)
{
    return stackFrames(std::move(multiView), &newDimension, threadCount);
}

// ============================================================ multi-image

MultiImageView::MultiImageView(std::vector<std::shared_ptr<ImageView>> frames, MultiImageCapabilitySet capabilities)
    : View(ViewDataOrigin::COMPOSITE, "MultiImageView"), m_frames(std::move(frames)), m_capabilities(capabilities)
{
    for (auto const& f : m_frames)
        if (!f)
            throw InvalidArgument("MultiImageView: a frame is empty");
}

MultiImageView::~MultiImageView() = default;

MultiImageCapabilitySet MultiImageView::capabilities() const
{
    return m_capabilities;
}

size_t MultiImageView::frameCount() const
{
    return m_frames.size();
}

void MultiImageView::checkIndex(size_t index) const
{
    if (index >= m_frames.size())
        throw InvalidArgument("MultiImageView: frame " + std::to_string(index) + " of " +
                              std::to_string(m_frames.size()));
}

void MultiImageView::checkWrite(char const* operation) const
{
    if (!support(MultiImageCapability::WRITE))
        throw NotImplemented(std::string("MultiImageView: ") + operation + " needs the WRITE capability");
}

std::shared_ptr<ImageView> MultiImageView::frame(size_t index)
{
    checkIndex(index);
    return m_frames[index];
}

std::shared_ptr<MetadataNode> MultiImageView::metadata() const
{
    return m_metadata;
}

void MultiImageView::addFrame(std::shared_ptr<ImageView> frame)
{
    checkWrite("addFrame");
    if (!frame)
        throw InvalidArgument("MultiImageView: the frame is empty");
    m_frames.push_back(std::move(frame));
}

void MultiImageView::setFrame(size_t index, std::shared_ptr<ImageView> frame)
{
    checkWrite("setFrame");
    checkIndex(index);
    if (!frame)
        throw InvalidArgument("MultiImageView: the frame is empty");
    m_frames[index] = std::move(frame);
}

void MultiImageView::removeFrame(size_t index)
{
    checkWrite("removeFrame");
    checkIndex(index);
    m_frames.erase(m_frames.begin() + index);
}

void MultiImageView::setMetadata(std::shared_ptr<MetadataNode> metadata)
{
    m_metadata = std::move(metadata);
}

std::string MultiImageView::toString() const
{
    std::string text = "MultiImageView(frames: " + std::to_string(m_frames.size()) + " [";
    for (size_t i = 0; i < m_frames.size(); ++i)
        text += (i ? ", " : "") + m_frames[i]->shape().toString() + " " + m_frames[i]->dataType().toString();
    return text + "])";
}

std::shared_ptr<MultiImageView> MultiImageViewFactory::create()
{
    return std::make_shared<MultiImageView>();
}

std::shared_ptr<MultiImageView> MultiImageViewFactory::createFromList(std::shared_ptr<ImageView>* list, size_t count)
{
    if (count && !list)
        throw InvalidArgument("MultiImageViewFactory: no frame list");
    return std::make_shared<MultiImageView>(std::vector<std::shared_ptr<ImageView>>(list, list + count));
}

std::shared_ptr<MultiImageView> MultiImageViewFactory::unstack(std::shared_ptr<ImageView> view,
                                                               ImageDimension dimension)
{
    needView(view, "unstack");
    ImageType const axes = axesOf(*view);
    if (dimension < ImageDimension::COLUMN || dimension > ImageDimension::SEQUENCE || !axes.has(dimension))
        throw Error("MultiImageViewFactory: the view has no dimension " + std::to_string(int(dimension)));
    return unstack(view, axes.indexDimension(dimension));
}

std::shared_ptr<MultiImageView> MultiImageViewFactory::unstack(std::shared_ptr<ImageView> view,
                                                               size_t idxDimensionUnstack)
{
    needView(view, "unstack");
    size_t const n = view->dimensionCount();
    if (n < 2)
        throw Error("MultiImageViewFactory: a view of " + std::to_string(n) + " dimensions cannot be unstacked");
    if (idxDimensionUnstack >= n)
        throw Error("MultiImageViewFactory: dimension " + std::to_string(idxDimensionUnstack) + " of a view of " +
                    std::to_string(n));
    std::vector<std::shared_ptr<ImageView>> frames;
    for (uint64_t i = 0, count = view->shape().data()[idxDimensionUnstack]; i < count; ++i)
        frames.push_back(sliceOf(view, idxDimensionUnstack, i));
    return std::make_shared<MultiImageView>(std::move(frames));
}

std::shared_ptr<MultiImageView> MultiImageViewFactory::deinterlace(std::shared_ptr<ImageView> view)
{
    needView(view, "deinterlace");
    size_t const components = view->dataType().elementCount();
    std::vector<std::shared_ptr<ImageView>> frames;
    if (components > 1) {
        for (size_t i = 0; i < components; ++i)
            frames.push_back(channelOf(view, i));
        return std::make_shared<MultiImageView>(std::move(frames));
    }
    if (axesOf(*view).has(ImageDimension::CHANNEL))
        return unstack(view, ImageDimension::CHANNEL);
    frames.push_back(view);
    return std::make_shared<MultiImageView>(std::move(frames));
}

} // namespace quelbo
