// The extension base, tiling information, parallel access and view origin.
#include "extensions.h"
#include "extension_types.h"
#include "core_args.h"
#include "quelbo/array.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::Extension;
using quelbo::ParallelAccessExtension;
using quelbo::TilingInfoExtension;
using quelbo::ViewOriginExtension;

QW_EXTENSION_TYPES;

using ExtensionTr = Traits<Extension>;
using TilingTr = Traits<TilingInfoExtension>;
using ParallelTr = Traits<ParallelAccessExtension>;
using OriginTr = Traits<ViewOriginExtension>;

template <class Tr>
void add_kind_head(Methods& m)
{
    m.add<ExtensionCast<Tr>>("Cast a generic extension into this kind; None when it is not one.");
}

template <class Tr>
void add_kind_tail(Methods& m)
{
    m.add<SharedDelete<Tr>>();
    add_hooks<std::shared_ptr<typename Tr::T>>(m, Tr::name, false);
}

using Index = Arg<size_t, text::size>;

// ------------------------------------------------------------------ Extension

struct new_extension : Declare<new_extension, Params<>>
{
    static constexpr const char* name = "new_Extension";
    static constexpr auto call = [] {
        return constructed(new std::shared_ptr<Extension>(std::make_shared<Extension>()));
    };
};

// ------------------------------------------------------------------- tiling

// Tile transfers: the buffer is checked against the tile's byte count before
// a byte moves.
using ReadTile = void (TilingInfoExtension::*)(size_t, void*, size_t);
using WriteTile = void (TilingInfoExtension::*)(size_t, const void*, size_t);
template <const char* Name, auto Op, bool Read>
using TileTransfer = BlockTransfer<Name, Op, SharedSelf<TilingInfoExtension, &TilingTr::mut_type>, Block<Read>, Index>;

// ---------------------------------------------------------- parallel access

constexpr auto kCapabilities = named<CapabilitySet<quelbo::ParallelAccessCapability>>;

// -------------------------------------------------------------- view origin

void add_extensions(Methods& m)
{
    m.add<new_extension>();
    m.add<SharedDelete<ExtensionTr>>();
    add_hooks<std::shared_ptr<Extension>>(m, "Extension", true);

    add_kind_head<TilingTr>(m);
    add_shared_getter<TilingTr, QW_NAME("max_tile_size"), &TilingInfoExtension::maxTileSize>(
        m, "Return the maximum tile size used for the image.");
    add_shared_getter<TilingTr, QW_NAME("tile_count"), &TilingInfoExtension::tileCount>(m,
                                                                                        "Return the number of tiles.");
    m.add<Fn<QW_NAME("TilingInfoExtension_tile_region"), &TilingInfoExtension::tileRegion,
             SharedSelf<TilingInfoExtension, &TilingTr::self_type>, Index>>(
        "Return the region of the image covered by a tile.\n:raises: Error if tileIndex is out of range.");
    add_shared_getter<TilingTr, QW_NAME("tiling_grid"), &TilingInfoExtension::tilingGrid>(
        m, "Return the grid of tile indices; invalid tiles (holes) hold INVALID_TILE_INDEX.");
    m.add<TileTransfer<QW_NAME("TilingInfoExtension_read_tile"), static_cast<ReadTile>(&TilingInfoExtension::readTile),
                       true>>(
        "Read a tile into a buffer of the element count of tile_region times the byte count of the image's data "
        "type.\n:raises: Error if tileIndex is out of range.");
    m.add<TileTransfer<QW_NAME("TilingInfoExtension_write_tile"),
                       static_cast<WriteTile>(&TilingInfoExtension::writeTile), false>>(
        "Write a tile from a buffer of the element count of tile_region times the byte count of the image's data "
        "type.\n:raises: Error if tileIndex is out of range.");
    add_kind_tail<TilingTr>(m);
}

void add_parallel(Methods& m)
{
    add_kind_head<ParallelTr>(m);
    add_shared_getter<ParallelTr, QW_NAME("get_capabilities"), &ParallelAccessExtension::capabilities>(
        m, "Return the kinds of concurrent access the view allows.");
    m.add<Fn<QW_NAME("ParallelAccessExtension_support"), &ParallelAccessExtension::support,
             SharedSelf<ParallelAccessExtension, &ParallelTr::mut_type>,
             FlagsArg<quelbo::ParallelAccessCapability, kCapabilities>>>(
        "Checks if the view allows all the given kinds of concurrent access.");
    add_shared_getter<ParallelTr, QW_NAME("to_string"), &ParallelAccessExtension::toString>(
        m, "Return a string representation");
    add_kind_tail<ParallelTr>(m);
}

void add_origin(Methods& m)
{
    add_kind_head<OriginTr>(m);
    add_shared_getter<OriginTr, QW_NAME("uid"), &ViewOriginExtension::uid>(m,
                                                                           "Return the unique identifier of the view.");
    add_shared_getter<OriginTr, QW_NAME("parent_count"), &ViewOriginExtension::parentCount>(
        m, "Return the number of parent views used to create this view.");
    m.add<Fn<QW_NAME("ViewOriginExtension_parent"), &ViewOriginExtension::parent,
             SharedSelf<ViewOriginExtension, &OriginTr::self_type>, Index>>(
        "Return the view origin of a parent view; never null.\n:raises: Error if the index is out of range.");
    add_shared_getter<OriginTr, QW_NAME("data_origin"), &ViewOriginExtension::dataOrigin>(
        m, "Return where the view's data come from.\n:raises: Error if the data origin is not available.");
    add_shared_getter<OriginTr, QW_NAME("display_name"), &ViewOriginExtension::displayName>(
        m, "Return the name to display for the view.\n:raises: Error if the display name is not available.");
    add_shared_getter<OriginTr, QW_NAME("to_string"), &ViewOriginExtension::toString>(m,
                                                                                      "Return a string representation");
    add_kind_tail<OriginTr>(m);
}

QW_FAMILY(add_extensions);
QW_FAMILY(add_parallel);
QW_FAMILY(add_origin);

} // namespace
