// View extensions: tiling, parallel access and view origin records.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quelbo/export.h"
#include "quelbo/flags.h"
#include "quelbo/region.h"
#include "quelbo/vector.h"

namespace quelbo {

template <class T>
class ArrayX;

// Optional facets of a view, handed out by identifier through
// View::extension. The base has no operation of its own; an Extension made
// on its own is an extension of no kind.
class QUELBO_API Extension
{
public:
    virtual ~Extension();
};

// A view stored as tiles. Implemented by the views that are tiled.
class QUELBO_API TilingInfoExtension : public Extension
{
public:
    static constexpr size_t EXTENSION_ID = 1;
    // A grid cell that holds no tile (32 bits all ones).
    static constexpr uint64_t INVALID_TILE_INDEX = 0xffffffffu;

    // The largest tile size used for the image.
    virtual VectorXu64 const& maxTileSize() const = 0;
    virtual size_t tileCount() const = 0;
    // The region of the image a tile covers; Error past tileCount().
    virtual RegionXu64 tileRegion(size_t tileIndex) const = 0;
    // One element per grid cell: the index of the tile there, or INVALID_TILE_INDEX.
    virtual ArrayX<uint64_t> const& tilingGrid() const = 0;
    // Copy a tile (the elements of tileRegion, densely) into dst / from src.
    virtual void readTile(size_t tileIndex, void* dst) = 0;
    virtual void writeTile(size_t tileIndex, const void* src) = 0;
    // Bytes of a tile's data: its region's element count times the byte
    // count of the view's data type; InvalidArgument past tileCount().
    virtual size_t tileByteCount(size_t tileIndex) const = 0;

    // Transfers for callers that hold a length: InvalidArgument, before a
    // byte moves, when the buffer is smaller than the tile's data.
    void readTile(size_t tileIndex, void* dst, size_t dstSize);
    void writeTile(size_t tileIndex, const void* src, size_t srcSize);

    // The extension as this kind, or empty when it is of another kind.
    static std::shared_ptr<TilingInfoExtension> cast(std::shared_ptr<Extension> const& extension);
};

// What concurrent access a view allows.
class QUELBO_API ParallelAccessExtension : public Extension
{
public:
    static constexpr size_t EXTENSION_ID = 2;

    virtual ParallelAccessCapabilitySet capabilities() const = 0;

    bool support(ParallelAccessCapabilitySet flags) const { return capabilities().has(flags); }
    std::string toString() const;

    static std::shared_ptr<ParallelAccessExtension> cast(std::shared_ptr<Extension> const& extension);
};

// Where the data of a view come from.
enum class ViewDataOrigin : int32_t
{
    UNKNOWN = 0,
    CPU_MEMORY = 1,
    DRIVE = 2,
    GPU_MEMORY = 3,
    NETWORK = 4,
    GENERATED = 5,
    COMPOSITE = 6,
};

// Where a view comes from: its unique identifier, the views it was made
// from (each again a ViewOriginExtension, so the ancestry can be walked),
// the kind of source of its data and a name to display.
class QUELBO_API ViewOriginExtension : public Extension
{
public:
    static constexpr size_t EXTENSION_ID = 3;

    virtual uint64_t uid() const = 0;
    virtual size_t parentCount() const = 0;
    // InvalidArgument when idx is not below parentCount(); never empty otherwise.
    virtual std::shared_ptr<ViewOriginExtension> parent(size_t idx) const = 0;
    virtual ViewDataOrigin dataOrigin() const = 0;
    virtual std::string displayName() const = 0;

    // "ViewOrigin(uid: <uid>, origin: <origin>, name: <name>, parents: [<uid>, ...])"
    std::string toString() const;

    static std::shared_ptr<ViewOriginExtension> cast(std::shared_ptr<Extension> const& extension);
};

// The view origin record every view carries from its construction (see
// View). It is immutable: the uid is drawn once from UidGenerator (never
// UNDEFINED_UID, unique in the process), the parents are the records of the
// views this one was made from (the record keeps them alive, not the parent
// views themselves), and the data origin and display name are those given
// by the view's maker. Derived views pass their sources' records as parents
// (View::viewOrigin() of each source); views that read memory, files, the
// network or a GPU name the matching ViewDataOrigin.
class QUELBO_API ViewOriginRecord final : public ViewOriginExtension
{
public:
    ViewOriginRecord(ViewDataOrigin origin, std::string displayName,
                     std::vector<std::shared_ptr<ViewOriginExtension>> parents = {});
    ~ViewOriginRecord() override;

    uint64_t uid() const override { return m_uid; }
    size_t parentCount() const override { return m_parents.size(); }
    std::shared_ptr<ViewOriginExtension> parent(size_t idx) const override;
    ViewDataOrigin dataOrigin() const override { return m_origin; }
    std::string displayName() const override { return m_displayName; }

private:
    friend class DependencyGraph;

    uint64_t m_uid;
    ViewDataOrigin m_origin;
    std::string m_displayName;
    std::vector<std::shared_ptr<ViewOriginExtension>> m_parents;
    // The dependency graph's note that the view reads memory the library
    // does not own, and the record that stands for that memory, made when
    // the graph is first asked for it.
    mutable std::atomic<bool> m_foreign{false};
    mutable std::shared_ptr<ViewOriginExtension> m_foreignSource;
};

} // namespace quelbo
