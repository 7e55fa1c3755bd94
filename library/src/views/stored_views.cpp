// Image views over stores: raw images in a store or a temporary file, their tiling, and copies on disk.
#include "quelbo/image_view_factory.h"

#include <algorithm>
#include <type_traits>
#include <vector>

#include "quelbo/array.h"
#include "quelbo/box_runs.h"
#include "quelbo/dependency_graph.h"
#include "quelbo/random_access.h"
#include "quelbo/region_copier.h"
#include "storage/temporary_file.h"
#include "views/view_parts.h"
#include "views/view_reach.h"

namespace quelbo {

namespace {

[[noreturn]] void invalid(std::string const& message)
{
    throw InvalidArgument("ImageViewFactory: " + message);
}

// ------------------------------------------------------------ raw image

// The samples of an image laid out raw in a store, in the C or FORTRAN
// layout; every transfer goes to the store and checks what it moved.
class RawImage
{
public:
    RawImage(std::shared_ptr<RandomAccess> store, MemoryLayout layout, VectorXu64 shape, DataType type)
        : m_store(std::move(store)), m_layout(layout)
    {
        setShape(std::move(shape), type);
    }

    VectorXu64 const& shape() const { return m_shape; }
    DataType type() const { return m_type; }
    size_t byteCount() const { return m_bytes; }
    RandomAccess& store() { return *m_store; }
    std::shared_ptr<RandomAccess> const& sharedStore() const { return m_store; }

    void setShape(VectorXu64 shape, DataType type)
    {
        if (type.bitCount() == 0)
            invalid("the data type " + type.toString() + " has no bits");
        m_bytes = bytesOf(shape, type);
        m_shape = std::move(shape);
        m_type = type;
        size_t const n = m_shape.size();
        m_order = detail::identityOrder(n);
        if (m_layout == MemoryLayout::C)
            std::reverse(m_order.data(), m_order.data() + n);
        m_strides = detail::denseStrides(m_shape, m_type.byteCount(), m_order);
    }

    static size_t bytesOf(VectorXu64 const& shape, DataType type) { return regionBytes(shape, type.byteCount()); }

    void read(RegionXu64 const& region, uint8_t* dst) { move(region, dst); }
    void write(RegionXu64 const& region, const uint8_t* src) { move(region, src); }

private:
    static size_t regionBytes(VectorXu64 const& size, size_t unit)
    {
        size_t bytes = unit;
        for (size_t d = 0; d < size.size(); ++d)
            bytes = checkedMultiply(bytes, size.data()[d], "image byte count");
        return bytes;
    }

    // Runs handed to the store in one call at most.
    static constexpr size_t kRunBatch = 4096;

    // Moves the region between the store and a dense buffer in the default
    // layout (read into when it is mutable): straight for FORTRAN; for C
    // through a scratch in the store's order, a bounded chunk at a time. A
    // buffer in the store's own memory moves as if copied first.
    template <class Byte>
    void move(RegionXu64 const& region, Byte* dense)
    {
        if (region.isEmpty())
            return;
        // A caller's buffer in the store's own memory (lent by the caller).
        size_t const bytes = regionBytes(region.size(), m_type.byteCount());
        uint8_t* const memory = m_store->data();
        bool const shared = memory && detail::spanOf(memory, m_store->size()).meets(detail::spanOf(dense, bytes));
        detail::moveApart(dense, bytes, shared, [&](Byte* buffer) { moveDense(region, buffer); });
    }

    template <class Byte>
    void moveDense(RegionXu64 const& region, Byte* dense)
    {
        constexpr bool reading = !std::is_const_v<Byte>;
        size_t const n = m_shape.size();
        if (m_layout != MemoryLayout::C || n < 2)
            return moveRuns(region, dense);
        size_t const unit = m_type.byteCount();
        detail::Scratch ordered;
        Indexer const whole(region.size(), m_type);
        VectorXu64 const zero(n);
        VectorXu64 at(n);
        detail::forEachChunk(region, m_order, detail::chunkSamples(unit), [&](RegionXu64 const& chunk, uint64_t) {
            for (size_t d = 0; d < n; ++d)
                at.data()[d] = chunk.origin().data()[d] - region.origin().data()[d];
            ordered.resize(chunk.elementCount() * unit);
            Indexer const storeOrder(chunk.size(), m_type, m_order);
            if constexpr (!reading)
                RegionCopier(whole, storeOrder, at, zero, chunk.size(), m_type).copy(dense, ordered.data());
            moveRuns<Byte>(chunk, ordered.data());
            if constexpr (reading)
                RegionCopier(storeOrder, whole, zero, at, chunk.size(), m_type).copy(ordered.data(), dense);
        });
    }

    // Moves the region between the store and a buffer dense in the store's
    // order.
    template <class Byte>
    void moveRuns(RegionXu64 const& region, Byte* buffer)
    {
        size_t const n = m_shape.size();
        size_t const unit = m_type.byteCount();
        // The store's side and the buffer's, dense in the store's order:
        // runs merge over the leading dimensions the region covers whole.
        VectorXu64 const packed = detail::denseStrides(region.size(), unit, m_order);
        uint64_t start = 0;
        for (size_t d = 0; d < n; ++d)
            start += region.origin().data()[d] * m_strides.data()[d];
        BoxRuns const runs(region.size().data(), m_strides.data(), packed.data(), n, unit);
        BoxRuns::Axis const& run = runs.run();
        // A run not contiguous (the region one sample wide along the
        // store's fastest dimension) goes sample by sample.
        bool const whole = runs.dense();
        size_t const runBytes = whole ? runs.runBytes() : unit;
        size_t const room = size_t(std::min<uint64_t>(kRunBatch, runs.runCount() * (whole ? 1 : run.size)));
        std::unique_ptr<ByteRun<Byte>[]> const batch(new ByteRun<Byte>[room]);
        size_t used = 0, expected = 0;
        auto flush = [&] {
            size_t moved;
            if constexpr (std::is_const_v<Byte>)
                moved = m_store->writeRuns(batch.get(), used);
            else
                moved = m_store->readRuns(batch.get(), used);
            if (moved != expected)
                throw Error("ImageView: the store holds " + std::to_string(m_store->size()) +
                            " bytes, fewer than the image needs");
            used = 0;
            expected = 0;
        };
        auto add = [&](int64_t at, int64_t in) {
            // Field by field: the compiler would build a copy to move whole.
            ByteRun<Byte>& r = batch[used++];
            r.offset = size_t(start + uint64_t(at));
            r.size = runBytes;
            r.data = buffer + in;
            expected += runBytes;
            if (used == room)
                flush();
        };
        runs.forEach([&](int64_t at, int64_t in, size_t) {
            if (whole)
                return add(at, in);
            for (uint64_t i = 0; i < run.size; ++i)
                add(at + int64_t(i) * run.stride[0], in + int64_t(i) * run.stride[1]);
        });
        if (used)
            flush();
    }

    std::shared_ptr<RandomAccess> m_store;
    MemoryLayout m_layout;
    VectorXu64 m_shape;
    DataType m_type;
    VectorXu64 m_order; // the dimensions from the fastest in the store
    VectorXu64 m_strides;
    size_t m_bytes = 0;
};

// ------------------------------------------------------------ tiling

// Tiles of at most 128 x 128 x 32 x 1 ... samples, numbered in the default
// layout of the grid; they cover the image exactly once.
class RawTiling final : public TilingInfoExtension
{
public:
    explicit RawTiling(std::shared_ptr<RawImage> image) : m_image(std::move(image)) {}

    VectorXu64 const& maxTileSize() const override
    {
        refresh();
        return m_tile;
    }
    size_t tileCount() const override
    {
        refresh();
        return m_count;
    }
    RegionXu64 tileRegion(size_t tileIndex) const override
    {
        refresh();
        if (tileIndex >= m_count)
            throw InvalidArgument("TilingInfoExtension: tile " + std::to_string(tileIndex) + " of " +
                                  std::to_string(m_count));
        VectorXu64 const& shape = m_image->shape();
        VectorXu64 origin(shape.size()), size(shape.size());
        size_t rest = tileIndex;
        for (size_t d = 0; d < shape.size(); ++d) {
            uint64_t const cells = m_cells.data()[d];
            uint64_t const cell = rest % cells;
            rest /= cells;
            origin.data()[d] = cell * m_tile.data()[d];
            size.data()[d] = std::min(m_tile.data()[d], shape.data()[d] - origin.data()[d]);
        }
        return RegionXu64(origin, size);
    }
    ArrayXu64 const& tilingGrid() const override
    {
        refresh();
        return *m_grid;
    }
    void readTile(size_t tileIndex, void* dst) override
    {
        m_image->read(tileRegion(tileIndex), static_cast<uint8_t*>(dst));
    }
    void writeTile(size_t tileIndex, const void* src) override
    {
        m_image->write(tileRegion(tileIndex), static_cast<const uint8_t*>(src));
    }
    size_t tileByteCount(size_t tileIndex) const override
    {
        return checkedMultiply(tileRegion(tileIndex).elementCount(), m_image->type().byteCount(), "tile byte count");
    }

private:
    // The grid follows the image's current shape (a disk view may reshape).
    void refresh() const
    {
        VectorXu64 const& shape = m_image->shape();
        if (m_grid && shape == m_shape)
            return;
        static const uint64_t limits[] = {128, 128, 32};
        size_t const n = shape.size();
        VectorXu64 tile(n), cells(n);
        size_t count = n == 0 ? 0 : 1;
        for (size_t d = 0; d < n; ++d) {
            uint64_t const extent = shape.data()[d];
            tile.data()[d] = std::min<uint64_t>(extent, d < 3 ? limits[d] : 1);
            cells.data()[d] = tile.data()[d] == 0 ? 0 : (extent + tile.data()[d] - 1) / tile.data()[d];
            count = checkedMultiply(count, cells.data()[d], "tile count");
        }
        auto grid = std::make_unique<ArrayXu64>(cells);
        uint64_t* cell = grid->buffer();
        for (size_t i = 0; i < count; ++i)
            cell[i] = i;
        m_shape = shape;
        m_tile = std::move(tile);
        m_cells = std::move(cells);
        m_count = count;
        m_grid = std::move(grid);
    }

    std::shared_ptr<RawImage> m_image;
    mutable VectorXu64 m_shape, m_tile, m_cells;
    mutable size_t m_count = 0;
    mutable std::unique_ptr<ArrayXu64> m_grid;
};

// ------------------------------------------------------------ stored view

class StoredView final : public ImageView, public detail::Reaching
{
public:
    StoredView(ViewDataOrigin origin, char const* name, std::shared_ptr<RawImage> image, ImageCapabilitySet caps,
               std::shared_ptr<const ImageProperties> properties, std::shared_ptr<const MetadataNode> metadata,
               ParallelAccessCapabilitySet parallel)
        : ImageView(origin, name), m_image(std::move(image)), m_caps(caps), m_parallel(parallel),
          m_description(std::move(properties), std::move(metadata)), m_tiling(std::make_shared<RawTiling>(m_image))
    {
        DependencyGraph::recordStore(viewOrigin(), m_image->sharedStore(), origin);
    }

    ImageCapabilitySet capabilities() const override { return m_caps; }
    VectorXu64 const& shape() override { return m_image->shape(); }
    DataType dataType() override { return m_image->type(); }
    std::shared_ptr<const ImageProperties> properties() override { return m_description.properties(); }
    std::shared_ptr<const MetadataNode> metadata() const override { return m_description.metadata(m_caps); }
    void setProperties(std::shared_ptr<const ImageProperties> properties) override
    {
        m_description.setProperties(m_caps, std::move(properties));
    }
    void setMetadata(std::shared_ptr<MetadataNode> metadata) override
    {
        m_description.setMetadata(m_caps, std::move(metadata));
    }
    void reshape(VectorXu64 const& shape, DataType dataType) override
    {
        if (!m_caps.has(ImageCapability::RESHAPE))
            return ImageView::reshape(shape, dataType);
        if (dataType.bitCount() == 0)
            invalid("reshape: the data type " + dataType.toString() + " has no bits");
        m_image->store().resize(RawImage::bytesOf(shape, dataType));
        m_image->setShape(shape, dataType);
        auto p = ImageProperties::fromDataType(dataType);
        m_description = OwnedDescription(std::move(p), m_description.metadata(m_caps));
    }
    std::shared_ptr<Extension> extension(size_t id) override
    {
        if (id == TilingInfoExtension::EXTENSION_ID)
            return m_tiling;
        return ImageView::extension(id);
    }
    ParallelAccessCapabilitySet parallelCapabilities() override { return m_parallel; }
    // The store's memory, when it has some; what else shares its bytes (a
    // mapping of the same file) no address shows.
    void reachInto(detail::Reach& reach, std::vector<ImageView*>&) override
    {
        RandomAccess& store = m_image->store();
        if (uint8_t* bytes = store.data())
            reach.spans.push_back(detail::spanOf(bytes, store.size()));
        reach.complete = false;
    }

protected:
    void load(RegionXu64 const& region, uint8_t* dst) override { m_image->read(region, dst); }
    void store(RegionXu64 const& region, const uint8_t* src) override { m_image->write(region, src); }

private:
    using OwnedDescription = detail::OwnedDescription;

    std::shared_ptr<RawImage> m_image;
    ImageCapabilitySet m_caps;
    ParallelAccessCapabilitySet m_parallel;
    OwnedDescription m_description;
    std::shared_ptr<RawTiling> m_tiling;
};

using detail::defaultProperties;

std::shared_ptr<const ImageProperties> checkedProperties(std::shared_ptr<ImageProperties> properties,
                                                         VectorXu64 const& shape, DataType type)
{
    if (!properties)
        return defaultProperties(shape, type);
    properties->checkFit(shape, type, "ImageViewFactory");
    return properties;
}

std::shared_ptr<ImageView> overStore(std::shared_ptr<RandomAccess> accessor, MemoryLayout layout, bool layoutGiven,
                                     VectorXu64 const& shape, DataType type,
                                     std::shared_ptr<ImageProperties> properties,
                                     std::shared_ptr<const MetadataNode> metadata)
{
    if (!accessor)
        invalid("fromRandomAccess: the store is empty");
    int32_t const l = int32_t(layout);
    if (l < 0 || l > 2)
        invalid("fromRandomAccess: unknown memory layout " + std::to_string(l));
    if (layout == MemoryLayout::UNKNOWN)
        layout = MemoryLayout::FORTRAN;
    DataType::checkHeld(type);
    auto image = std::make_shared<RawImage>(accessor, layout, shape, type);
    if (accessor->size() < image->byteCount()) {
        std::string const message = "fromRandomAccess: a store of " + std::to_string(accessor->size()) +
                                    " bytes cannot hold an image of " + std::to_string(image->byteCount());
        if (layoutGiven)
            invalid(message);
        throw Error("ImageViewFactory: " + message);
    }
    auto p = checkedProperties(std::move(properties), shape, type);
    return std::make_shared<StoredView>(ViewDataOrigin::UNKNOWN, "StoredView", std::move(image),
                                        ImageCapabilitySet(uint64_t(ImageCapability::READ_WRITE)), std::move(p),
                                        std::move(metadata), ParallelAccessCapabilitySet());
}

std::shared_ptr<ImageView> onDisk(std::string const& dirPath, VectorXu64 const& shape, DataType type,
                                  std::shared_ptr<ImageProperties> properties,
                                  std::shared_ptr<const MetadataNode> metadata)
{
    DataType::checkHeld(type);
    auto p = checkedProperties(std::move(properties), shape, type);
    auto file = detail::createTemporaryFile(dirPath);
    auto image = std::make_shared<RawImage>(file, MemoryLayout::FORTRAN, shape, type);
    file->resize(image->byteCount());
    uint64_t const caps = uint64_t(ImageCapability::READ_WRITE) | uint64_t(ImageCapability::RESHAPE);
    // Transfers are positioned reads and writes of the file: safe side by side.
    uint64_t const parallel = uint64_t(ParallelAccessCapability::PARALLEL_READ) |
                              uint64_t(ParallelAccessCapability::PARALLEL_WRITE) |
                              uint64_t(ParallelAccessCapability::PARALLEL_TILE_READ) |
                              uint64_t(ParallelAccessCapability::PARALLEL_TILE_WRITE);
    return std::make_shared<StoredView>(ViewDataOrigin::DRIVE, "DiskView", std::move(image), ImageCapabilitySet(caps),
                                        std::move(p), std::move(metadata), ParallelAccessCapabilitySet(parallel));
}

// Copies an image into a disk view by bounded chunks, each a contiguous run
// of the file.
void copyByChunks(ImageView& from, ImageView& to)
{
    VectorXu64 const shape = from.shape();
    size_t const n = shape.size();
    size_t const unit = from.dataType().byteCount();
    // A source holding its bytes dense in the default layout is written
    // straight from its memory; any other is read chunk by chunk.
    const uint8_t* bytes = nullptr;
    if (from.capabilities().has(ImageCapabilitySet(uint64_t(ImageCapability::READ) |
                                                   uint64_t(ImageCapability::MEMORY_ACCESS)))) {
        Indexer const& indexer = from.indexer();
        uint64_t step = unit;
        bytes = static_cast<const uint8_t*>(from.bufferReadOnly());
        for (size_t d = 0; d < n && bytes; ++d) {
            if (shape.data()[d] != 1 && indexer.byteStride().data()[d] != step)
                bytes = nullptr;
            step *= shape.data()[d];
        }
    }
    detail::Scratch chunk;
    detail::forEachChunk(RegionXu64(VectorXu64(n), shape), detail::chunkSamples(unit),
                         [&](RegionXu64 const& part, uint64_t at) {
                             if (bytes)
                                 return to.writeRegion(part, bytes + at * unit);
                             chunk.resize(size_t(part.elementCount()) * unit);
                             from.readRegion(part, chunk.data());
                             to.writeRegion(part, chunk.data());
                         });
}

std::shared_ptr<ImageView> copyToDisk(std::shared_ptr<ImageView> image, std::string const& dirPath)
{
    if (!image)
        invalid("copyOnDisk: the image view is empty");
    VectorXu64 const shape = image->shape();
    DataType const type = image->dataType();
    auto source = image->properties();
    if (source && !source->isCompatibleWith(shape, type))
        invalid("copyOnDisk: the properties of the image view do not fit it");
    auto copy = onDisk(dirPath, shape, type, source ? source->clone() : nullptr, detail::metadataOf(*image));
    copyByChunks(*image, *copy);
    return copy;
}

} // namespace

std::shared_ptr<ImageView> ImageViewFactory::fromRandomAccess(std::shared_ptr<RandomAccess> accessor,
                                                              VectorXu64 const& shape, DataType dataType)
{
    return overStore(std::move(accessor), MemoryLayout::FORTRAN, false, shape, dataType, nullptr, nullptr);
}

std::shared_ptr<ImageView> ImageViewFactory::fromRandomAccess(std::shared_ptr<RandomAccess> accessor,
                                                              VectorXu64 const& shape, DataType dataType,
                                                              std::shared_ptr<ImageProperties> properties,
                                                              std::shared_ptr<const MetadataNode> metadata)
{
    return overStore(std::move(accessor), MemoryLayout::FORTRAN, false, shape, dataType, std::move(properties),
                     std::move(metadata));
}

std::shared_ptr<ImageView> ImageViewFactory::fromRandomAccess(std::shared_ptr<RandomAccess> accessor,
                                                              MemoryLayout layout, VectorXu64 const& shape,
                                                              DataType dataType)
{
    return overStore(std::move(accessor), layout, true, shape, dataType, nullptr, nullptr);
}

std::shared_ptr<ImageView> ImageViewFactory::fromRandomAccess(std::shared_ptr<RandomAccess> accessor,
                                                              MemoryLayout layout, VectorXu64 const& shape,
                                                              DataType dataType,
                                                              std::shared_ptr<ImageProperties> properties,
                                                              std::shared_ptr<const MetadataNode> metadata)
{
    return overStore(std::move(accessor), layout, true, shape, dataType, std::move(properties), std::move(metadata));
}

std::shared_ptr<ImageView> ImageViewFactory::createOnDisk(VectorXu64 const& shape, DataType dataType)
{
    return onDisk("", shape, dataType, nullptr, nullptr);
}

std::shared_ptr<ImageView> ImageViewFactory::createOnDisk(std::string const& dirPath, VectorXu64 const& shape,
                                                          DataType dataType)
{
    return onDisk(dirPath, shape, dataType, nullptr, nullptr);
}

std::shared_ptr<ImageView> ImageViewFactory::createOnDisk(VectorXu64 const& shape, DataType dataType,
                                                          std::shared_ptr<ImageProperties> properties,
                                                          std::shared_ptr<MetadataNode> metadata)
{
    return onDisk("", shape, dataType, std::move(properties), std::move(metadata));
}

std::shared_ptr<ImageView> ImageViewFactory::createOnDisk(std::string const& dirPath, VectorXu64 const& shape,
                                                          DataType dataType,
                                                          std::shared_ptr<ImageProperties> properties,
                                                          std::shared_ptr<MetadataNode> metadata)
{
    return onDisk(dirPath, shape, dataType, std::move(properties), std::move(metadata));
}

std::shared_ptr<ImageView> ImageViewFactory::copyOnDisk(std::shared_ptr<ImageView> image)
{
    return copyToDisk(std::move(image), "");
}

std::shared_ptr<ImageView> ImageViewFactory::copyOnDisk(std::shared_ptr<ImageView> image, std::string const& dirPath)
{
    return copyToDisk(std::move(image), dirPath);
}

} // namespace quelbo
