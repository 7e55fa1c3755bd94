"""Multi-image views and their factory, level-of-detail views, and the
extension kinds' casts and queries."""
import numpy as np
import pytest

from derived_util import D, Error, exact, read, shape, view
from proxy import cls, q

import _quelbo_twin as twin  # noqa: E402  (found through the proxy's build folder)


def frames(n=3):
    return [view(np.full((2, 3), i, np.uint8), "ROW", "COLUMN") for i in range(n)]


def values(multi):
    return [int(read(q.MultiImageView_frame(multi, i), np.uint8)[0, 0])
            for i in range(q.MultiImageView_get_frame_count(multi))]


def test_frames_are_added_replaced_and_removed():
    multi = q.MultiImageViewFactory_create()
    assert q.MultiImageView_get_frame_count(multi) == 0
    f = frames(4)
    for v in f[:3]:
        q.MultiImageView_add_frame(multi, v)
    q.MultiImageView_set_frame(multi, 1, f[3])
    q.MultiImageView_remove_frame(multi, 0)
    assert values(multi) == [3, 2]
    # a frame is the caller's view itself
    assert q.ViewOriginExtension_uid(q.View_view_origin(q.MultiImageView_frame(multi, 0))) == \
        q.ViewOriginExtension_uid(q.View_view_origin(f[3]))
    for call in (lambda: q.MultiImageView_add_frame(multi, None), lambda: q.MultiImageView_set_frame(multi, 0, None),
                 lambda: q.MultiImageView_set_frame(multi, 2, f[0]), lambda: q.MultiImageView_remove_frame(multi, 2),
                 lambda: q.MultiImageView_frame(multi, 2)):
        with pytest.raises(Error):
            call()
    assert values(multi) == [3, 2]
    with pytest.raises(OverflowError, match=exact("in method 'MultiImageView_frame', argument 2 of type 'size_t'")):
        q.MultiImageView_frame(multi, -1)
    with pytest.raises(TypeError, match=exact("in method 'MultiImageView_add_frame', argument 2 of type "
                                              "'std::shared_ptr< quelbo::ImageView >'")):
        q.MultiImageView_add_frame(multi, multi)
    with pytest.raises(ValueError, match="invalid null reference"):
        q.MultiImageView_get_frame_count(None)
    assert "MultiImageView" in q.MultiImageView_to_string(multi)


def test_capabilities_and_metadata():
    multi = q.MultiImageViewFactory_create()
    assert q.MultiImageView_support(multi, 0) and q.MultiImageView_support(multi, 3)
    s = q.MultiImageView_get_capabilities(multi)
    assert q.MultiImageView_support(multi, s)
    with pytest.raises(RuntimeError, match=exact("in method 'MultiImageView_support', argument 2 of type "
                                                 "'quelbo::MultiImageCapabilitySet'")):
        q.MultiImageView_support(multi, None)
    with pytest.raises(TypeError, match="argument 2 of type 'quelbo::MultiImageCapabilitySet'"):
        q.MultiImageView_support(multi, 1.0)
    assert q.MultiImageView___get_metadata(multi) is None
    node = q.MetadataNodeFactory_create("root", None)
    q.MultiImageView_set_metadata(multi, cls("ReadonlyMetadataNode")(node))
    # the very node the wrapper holds is attached: a child added later shows
    q.MetadataNode_add_child(node, q.MetadataNodeFactory_create("child", None))
    assert q.MetadataNode_has_child(q.MultiImageView___get_metadata(multi), "child")
    q.MultiImageView_set_metadata(multi, None)
    assert q.MultiImageView___get_metadata(multi) is None
    with pytest.raises(TypeError, match=exact("in method 'MultiImageView_set_metadata', argument 2 of type "
                                              "'std::shared_ptr< quelbo::MetadataNode >'")):
        q.MultiImageView_set_metadata(multi, frames(1)[0])


def test_lists_of_frames():
    f = frames()
    assert values(q.MultiImageViewFactory_create_from_list(f)) == [0, 1, 2]
    assert values(q.MultiImageViewFactory_create_from_list(tuple(f))) == [0, 1, 2]
    assert q.MultiImageView_get_frame_count(q.MultiImageViewFactory_create_from_list()) == 0
    assert q.MultiImageView_get_frame_count(q.MultiImageViewFactory_create_from_list([])) == 0
    for bad in ({1}, (x for x in f), {}, "ab", f[0]):
        with pytest.raises(ValueError, match=exact("Input must be a list of a tuple")):
            q.MultiImageViewFactory_create_from_list(bad)
    with pytest.raises(TypeError, match=exact("in method 'MultiImageViewFactory_create_from_list', argument 1 of "
                                              "type 'std::shared_ptr< quelbo::ImageView >'")):
        q.MultiImageViewFactory_create_from_list([f[0], 5])
    with pytest.raises(Error):  # never an empty frame
        q.MultiImageViewFactory_create_from_list([f[0], None])
    with pytest.raises(TypeError, match=exact("MultiImageViewFactory_create_from_list expected at most 1 arguments, "
                                              "got 2")):
        q.MultiImageViewFactory_create_from_list(f, f)


def test_unstack_cuts_along_a_dimension():
    vol = np.arange(4 * 3 * 5, dtype=np.int16).reshape(4, 3, 5)
    v = view(vol, "SLICE", "ROW", "COLUMN")
    rows = q.MultiImageViewFactory_unstack_dimension(v, D["ROW"])
    assert q.MultiImageView_get_frame_count(rows) == 3
    for y in range(3):
        assert np.array_equal(read(q.MultiImageView_frame(rows, y), np.int16), vol[:, y, :])
    slices = q.MultiImageViewFactory_unstack_dimension_index(v, 2)
    assert np.array_equal(read(q.MultiImageView_frame(slices, 3), np.int16), vol[3])
    assert np.array_equal(read(q.ImageViewFactory_stack(slices, D["SLICE"]), np.int16), vol)
    for call in (lambda: q.MultiImageViewFactory_unstack_dimension(v, D["CHANNEL"]),
                 lambda: q.MultiImageViewFactory_unstack_dimension_index(v, 3),
                 lambda: q.MultiImageViewFactory_deinterlace(None)):
        with pytest.raises(Error):
            call()
    with pytest.raises(OverflowError, match=exact("in method 'MultiImageViewFactory_unstack_dimension', argument 2 "
                                                  "of type 'quelbo::ImageDimension'")):
        q.MultiImageViewFactory_unstack_dimension(v, 2**31)
    with pytest.raises(OverflowError, match=exact("in method 'MultiImageViewFactory_unstack_dimension_index', "
                                                  "argument 2 of type 'size_t'")):
        q.MultiImageViewFactory_unstack_dimension_index(v, -1)


def test_handed_over_multi_image_views():
    multi = q.MultiImageViewFactory_create_from_list(frames(2))
    adopted = q.MultiImageView_create_from_pointer(twin.hand_over_multi(multi))
    assert type(adopted).__name__ == "MultiImageView" and values(adopted) == [0, 1]
    assert q.MultiImageView_create_from_pointer(0) is None
    empty = q.MultiImageView_create_from_pointer(twin.hand_over_multi(None))
    with pytest.raises(ValueError, match="invalid null reference"):
        q.MultiImageView_get_frame_count(empty)
    address = twin.hand_over_multi(multi)
    q.MultiImageView_create_from_pointer(address)
    for wrong in (address, 12345):  # taken once; never an arbitrary integer
        with pytest.raises(ValueError, match=exact("in method 'MultiImageView_create_from_pointer', argument 1 of "
                                                   "type 'unsigned long long'")):
            q.MultiImageView_create_from_pointer(wrong)
    with pytest.raises(OverflowError):
        q.MultiImageView_create_from_pointer(-1)


def test_level_of_detail_views():
    lod = twin.lod_view(-1, 5)
    r = q.LodImageView_get_level_range(lod)
    assert (r.at(0), r.at(1)) == (-1, 3)
    for level in range(-1, 4):
        image = q.LodImageView_resolution(lod, level)
        assert type(image).__name__ == "ImageView"
        assert shape(image) == [max(1, 2 ** (4 - level)), max(1, 2 ** (3 - level))]
        assert read(image, np.uint8)[0, 0] == level + 100
    with pytest.raises(Error):
        q.LodImageView_resolution(lod, 4)
    with pytest.raises(OverflowError, match=exact("in method 'LodImageView_resolution', argument 2 of type 'int64_t'")):
        q.LodImageView_resolution(lod, 2**63)
    with pytest.raises(TypeError, match=exact("in method 'LodImageView_resolution', argument 2 of type 'int64_t'")):
        q.LodImageView_resolution(lod, 1.5)
    base = twin.lod_view(0, 1)
    r = q.LodImageView_get_level_range(base)
    assert (r.at(0), r.at(1)) == (0, 0)
    assert "0" in q.LodImageView_to_string(base)
    with pytest.raises(TypeError, match=exact("in method 'LodImageView_get_level_range', argument 1 of type "
                                              "'quelbo::LodImageView *'")):
        q.LodImageView_get_level_range(frames(1)[0])
    assert q.View__extension(lod, 3) is not None  # a view like any other
    # the registered class: results come back as its instances, released when they die
    assert type(lod) is cls("LodImageView") and type(base) is cls("LodImageView")
    assert q.delete_LodImageView(lod) is None and lod.this is not None
    with pytest.raises(ValueError, match="invalid null reference"):
        q.LodImageView_get_level_range(lod)


def test_extension_casts_and_kinds():
    assert (q.TilingInfoExtension_EXTENSION_ID, q.ParallelAccessExtension_EXTENSION_ID,
            q.ViewOriginExtension_EXTENSION_ID) == (1, 2, 3)
    assert q.TilingInfoExtension_INVALID_TILE_INDEX == 4294967295
    disk = q.ImageViewFactory_create_on_disk([4, 4], q.DataTypeId_UINT8)
    tiling = q.View__extension(disk, 1)
    parallel = q.View__extension(disk, 2)
    origin = q.View__extension(disk, 3)
    plain = cls("Extension")()
    assert type(tiling).__name__ == "Extension"
    casts = (q.TilingInfoExtension_cast, q.ParallelAccessExtension_cast, q.ViewOriginExtension_cast)
    for i, cast in enumerate(casts):
        assert cast(None) is None and cast(plain) is None
        for j, ext in enumerate((tiling, parallel, origin)):
            assert (cast(ext) is None) == (i != j)
        with pytest.raises(TypeError, match=exact("in method '%s', argument 1 of type 'std::shared_ptr< "
                                                  "quelbo::Extension > const &'" % cast.__name__)):
            cast(disk)
    kind = q.TilingInfoExtension_cast(tiling)
    assert type(kind).__name__ == "TilingInfoExtension"
    # a cast of a kind is the same object
    assert q.TilingInfoExtension_tile_count(q.TilingInfoExtension_cast(kind)) == 1
    # delete_Extension of a kind's handle leaves the kind's own pointer alone
    q.delete_Extension(kind)
    assert q.TilingInfoExtension_tile_count(kind) == 1

    par = q.ParallelAccessExtension_cast(parallel)
    assert q.ParallelAccessExtension_support(par, 0)
    both = q.ParallelAccessCapability_PARALLEL_READ | q.ParallelAccessCapability_PARALLEL_WRITE
    assert q.ParallelAccessExtension_support(par, both) is True
    assert q.ParallelAccessExtension_support(par, q.ParallelAccessExtension_get_capabilities(par)) is True
    assert q.ParallelAccessExtension_support(par, q.ParallelAccessCapability_THREAD_SAFE) is False
    assert "PARALLEL_READ" in q.ParallelAccessExtension_to_string(par)
    with pytest.raises(RuntimeError, match="argument 2 of type 'quelbo::ParallelAccessCapabilitySet'"):
        q.ParallelAccessExtension_support(par, None)
    for bad in (1.0, "x"):
        with pytest.raises(TypeError, match="argument 2 of type 'quelbo::ParallelAccessCapabilitySet'"):
            q.ParallelAccessExtension_support(par, bad)

    o = q.ViewOriginExtension_cast(origin)
    assert q.ViewOriginExtension_data_origin(o) == q.ViewDataOrigin_DRIVE
    assert q.ViewOriginExtension_display_name(o) == "DiskView"
    assert q.ViewOriginExtension_uid(o) > 0 and q.ViewOriginExtension_parent_count(o) == 0
    assert str(q.ViewOriginExtension_uid(o)) in q.ViewOriginExtension_to_string(o)
    for fn in (q.ViewOriginExtension_uid, q.TilingInfoExtension_tile_count, q.ParallelAccessExtension_to_string):
        with pytest.raises(ValueError, match="invalid null reference"):
            fn(None)


def test_every_image_view_tells_its_parallel_access():
    a = np.zeros((4, 4), np.uint8)
    memory = view(a, "ROW", "COLUMN")
    read_write = q.ParallelAccessCapability_PARALLEL_READ | q.ParallelAccessCapability_PARALLEL_WRITE
    kinds = {
        "memory": (memory, read_write),
        "flipped": (q.ImageViewFactory_flip_dimension_index(memory, 0), q.ParallelAccessCapability_PARALLEL_READ),
        "region": (q.ImageViewFactory_extract_region(memory, cls("RegionXu64")([0, 0], [2, 2])), read_write),
        "locked": (q.ImageViewFactory_make_thread_safe(memory), read_write | q.ParallelAccessCapability_THREAD_SAFE),
        "store": (q.ImageViewFactory_from_random_access(q.RandomAccessFactory_allocate(16), [4, 4], 65800), 0),
        "disk": (q.ImageViewFactory_create_on_disk([4, 4], 65800), 30),
    }
    for name, (v, expected) in kinds.items():
        got = q.ParallelAccessCapabilitySet_value(q.ParallelAccessExtension_get_capabilities(q.ImageView_parallel_access(v)))
        assert got == expected, name
