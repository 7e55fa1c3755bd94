"""DependencyGraph: ancestry through view origin records, stores and memory
the library does not own, over views of every kind in either order."""
import numpy as np
import pytest

from proxy import QuelboError, cls, q
from derived_util import shape
from views_util import image_type
import _quelbo_twin as twin  # noqa: E402 (found through proxy's path)

NO, SHARE, UNKNOWN = (q.CommonAncestorStatus_SHARE_NO_ANCESTOR, q.CommonAncestorStatus_SHARE_ANCESTOR,
                      q.CommonAncestorStatus_UNDETERMINED)
ancestry = q.DependencyGraph__has_common_ancestor


def both_ways(a, b, expected):
    assert ancestry(a, b) == expected
    assert ancestry(b, a) == expected


def allocated():
    return q.ImageViewFactory_allocate([4, 3], q.DataTypeId_UINT8)


def crop(v):
    return q.ImageViewFactory_extract_region(v, cls("RegionXu64")([1, 1], [2, 2]))


def test_derived_views_and_their_sources():
    a, b = allocated(), allocated()
    assert (NO, SHARE, UNKNOWN) == (0, 1, 2)
    assert ancestry(a, a) == SHARE  # a view is among its own ancestors
    both_ways(a, b, NO)
    both_ways(a, crop(a), SHARE)
    both_ways(crop(a), crop(a), SHARE)
    whole = q.ImageViewFactory_extract_region(a, cls("RegionXu64")([0, 0], [4, 3]))
    both_ways(crop(whole), q.ImageViewFactory_flip_dimension_index(a, 1), SHARE)
    both_ways(crop(a), crop(b), NO)
    both_ways(q.ImageViewFactory_copy_in_memory(q.ImageViewFactory_flip_dimension_index(a, 0)), a, SHARE)
    multi = q.MultiImageViewFactory_create_from_list([a, b])
    stacked = q.ImageViewFactory_stack(multi)
    both_ways(stacked, b, SHARE)  # a stack names its frames
    # a multi-image view names no frame (its frames change): the graph cannot tell
    both_ways(stacked, multi, UNKNOWN)
    both_ways(multi, allocated(), UNKNOWN)


def test_views_over_one_store(tmp_path):
    store = q.RandomAccessFactory_allocate(64)
    one = q.ImageViewFactory_from_random_access(store, [4, 4], q.DataTypeId_UINT8)
    two = q.ImageViewFactory_from_random_access(store, [8], q.DataTypeId_UINT16)
    other = q.ImageViewFactory_from_random_access(q.RandomAccessFactory_allocate(64), [4, 4], q.DataTypeId_UINT8)
    both_ways(one, two, SHARE)
    both_ways(crop(one), two, SHARE)
    both_ways(one, other, NO)
    # the same resource of a folder, reached through different objects
    (tmp_path / "img.raw").write_bytes(bytes(16))
    storages = [q.DataAccess_get_storage(q.StreamAccessFactory_open_file_read(str(tmp_path / "img.raw")))
                for _ in range(2)]
    views = [q.ImageViewFactory_from_random_access(
        q.DataStorage_open_random_access(s, "img.raw", q.AccessCapabilities_READ_ONLY), [4, 4], q.DataTypeId_UINT8)
        for s in storages]
    both_ways(views[0], views[1], SHARE)
    both_ways(views[0], one, NO)
    disk = q.ImageViewFactory_create_on_disk([2, 2], q.DataTypeId_UINT8)
    both_ways(disk, q.ImageViewFactory_create_on_disk([2, 2], q.DataTypeId_UINT8), NO)


def test_memory_the_library_does_not_own():
    array = np.zeros((3, 4), np.uint8)
    over_numpy = q.NumpyInterop__from_numpy_array(array, image_type("ROW", "COLUMN"), 0, False)
    again = q.NumpyInterop__from_numpy_array(array, image_type("ROW", "COLUMN"), 0, False)
    buf = bytearray(12)
    over_buffer = q.ImageViewFactory___from_buffer([4, 3], q.DataTypeId_UINT8, buf, None, None)
    a = allocated()
    both_ways(over_numpy, a, UNKNOWN)
    both_ways(over_numpy, again, UNKNOWN)
    both_ways(over_buffer, over_numpy, UNKNOWN)
    both_ways(crop(over_buffer), a, UNKNOWN)
    # ... unless a common ancestor is found
    both_ways(over_numpy, crop(over_numpy), SHARE)
    both_ways(crop(over_buffer), q.ImageViewFactory_flip_dimension_index(over_buffer, 0), SHARE)


def test_origin_records_made_when_first_asked_for():
    # A view without parents makes its record when asked; what it was told
    # before (memory the library does not own) is in the record it makes.
    array = np.zeros((3, 4), np.uint8)
    views = {"Numpy array": q.NumpyInterop__from_numpy_array(array, image_type("ROW", "COLUMN"), 0, False),
             "Buffer image": q.ImageViewFactory___from_buffer([4, 3], q.DataTypeId_UINT8, bytearray(12), None, None),
             "Memory image": allocated()}
    for name, v in views.items():
        origin = q.View_view_origin(v)
        assert q.ViewOriginExtension_uid(origin) == q.ViewOriginExtension_uid(q.ViewOriginExtension_cast(q.View__extension(v, 3)))
        assert (q.ViewOriginExtension_display_name(origin), q.ViewOriginExtension_data_origin(origin),
                q.ViewOriginExtension_parent_count(origin)) == (name, q.ViewDataOrigin_CPU_MEMORY, 0)
    both_ways(views["Numpy array"], views["Memory image"], UNKNOWN)
    both_ways(views["Buffer image"], views["Memory image"], UNKNOWN)
    both_ways(views["Memory image"], allocated(), NO)


def test_views_of_every_kind_in_either_order():
    a = allocated()
    lod = twin.lod_view(0, 2)
    multi = q.MultiImageViewFactory_create()
    bare = cls("View")()
    for other in (lod, multi, bare):
        assert ancestry(other, other) == SHARE
        both_ways(a, other, UNKNOWN if other is not lod else NO)
    both_ways(lod, bare, UNKNOWN)
    q.delete_LodImageView(lod)  # a bare handle: no class is registered for it
    with pytest.raises(QuelboError, match="no view given"):
        ancestry(None, a)
    with pytest.raises(QuelboError, match="no view given"):
        ancestry(a, None)


def test_argument_rules_and_texts():
    a = allocated()
    tiling = q.ImageView_tiling_info(q.ImageViewFactory_create_on_disk([2, 2], q.DataTypeId_UINT8))
    for bad in (q.StreamAccessFactory_allocate(0), tiling, 5):
        for pos, args in ((1, (bad, a)), (2, (a, bad))):
            with pytest.raises(TypeError, match=r"^in method 'DependencyGraph__has_common_ancestor', argument %d of "
                                                r"type 'std::shared_ptr< quelbo::View >'$" % pos):
                ancestry(*args)
    with pytest.raises(TypeError, match=r"^DependencyGraph__has_common_ancestor expected 2 arguments, got 1$"):
        ancestry(a)
    doc = ancestry.__doc__.split("\n")
    assert doc[:3] == ["", "Indicates if two views share a common ancestor.", ""]
    assert doc[-2] == ":return: UNDETERMINED if the information could not be determined (dependency graph is not " \
                      "complete)." and doc[-1] == ""
    g = cls("DependencyGraph")()
    assert q.delete_DependencyGraph(g) is None
    assert q.delete_DependencyGraph(None) is None
    with pytest.raises(TypeError, match=r"^in method 'delete_DependencyGraph', argument 1 of type "
                                        r"'quelbo::DependencyGraph \*'$"):
        q.delete_DependencyGraph(a)
    names = [n for n in q.__dict__ if "DependencyGraph" in n]
    assert names == ["DependencyGraph__has_common_ancestor", "new_DependencyGraph", "delete_DependencyGraph",
                     "DependencyGraph_swigregister", "DependencyGraph_swiginit"]


# ------------------------------------------------ views through store adapters

def over(store, size=None):
    size = size or q.RandomAccess_get_size(store)
    return q.ImageViewFactory_from_random_access(store, [size], q.DataTypeId_UINT8)


def view_over(rng, store):
    """A writable view over a random chain of adapters of `store`, maybe derived further."""
    for _ in range(int(rng.integers(0, 4))):
        size = q.RandomAccess_get_size(store)
        at = int(rng.integers(0, size))
        store = [lambda: q.RandomAccessFactory_extract_region(store, at, int(rng.integers(1, size - at + 1))),
                 lambda: q.RandomAccessFactory_extract_region(store, at),
                 lambda: q.RandomAccessFactory_from_stream(q.StreamAccessFactory_from_random_access(store))][
            int(rng.integers(3))]()
    v = over(store)
    for _ in range(int(rng.integers(0, 3))):
        n = shape(v)[0]
        at = int(rng.integers(0, n))
        v = [lambda: q.ImageViewFactory_extract_region(v, cls("RegionXu64")([at], [n - at])),
             lambda: q.ImageViewFactory_make_thread_safe(v),
             lambda: q.ImageViewFactory_reinterpret(v, cls("ImageType")())][int(rng.integers(3))]()
    return v


def samples(v):
    out = bytearray(shape(v)[0])
    q.ImageView___read_region(v, cls("RegionXu64")([0], shape(v)), out)
    return bytes(out)


def meet(a, b):
    """Whether a write through a (every byte another value) changes what b shows."""
    before = samples(b)
    q.ImageView___write_region(a, cls("RegionXu64")([0], shape(a)), bytes((x + 1) % 256 for x in samples(a)))
    return samples(b) != before


def test_views_meeting_through_store_adapters_share_an_ancestor():
    rng = np.random.default_rng(53)
    for _ in range(40):
        store, other = q.RandomAccessFactory_allocate(64), q.RandomAccessFactory_allocate(64)
        views, apart = [view_over(rng, store) for _ in range(5)], [view_over(rng, other) for _ in range(2)]
        for i, a in enumerate(views):
            for b in views[i + 1:]:
                if meet(a, b) or meet(b, a):
                    both_ways(a, b, SHARE)
            for b in apart:
                assert not meet(a, b)
                both_ways(a, b, NO)
    store = q.RandomAccessFactory_allocate(64)
    window = over(q.RandomAccessFactory_extract_region(store, 16, 16))
    streamed = over(q.RandomAccessFactory_from_stream(q.StreamAccessFactory_from_random_access(store)))
    for a, b in ((over(store), window), (over(store), streamed), (window, streamed)):
        assert meet(a, b)
        both_ways(a, b, SHARE)
    # stores over memory lent by the caller: the graph cannot tell what else reaches it
    lent = bytearray(32)
    one = over(q.RandomAccessFactory___from_buffer(lent))
    two = over(q.RandomAccessFactory_extract_region(q.RandomAccessFactory___from_buffer(memoryview(lent)[8:]), 4, 8))
    assert meet(two, one)
    both_ways(one, two, UNKNOWN)
    both_ways(one, over(store), UNKNOWN)


def test_one_file_reached_by_several_paths_shares_an_ancestor(tmp_path):
    folder = tmp_path / "images"
    folder.mkdir()
    (folder / "img.raw").write_bytes(bytes(16))
    (tmp_path / "other.raw").write_bytes(bytes(16))
    (tmp_path / "linked").symlink_to(folder)
    (folder / "hard.raw").hardlink_to(folder / "img.raw")
    paths = [folder / "img.raw", tmp_path / "linked" / "img.raw", folder / "hard.raw", str(folder) + "/./img.raw",
             str(tmp_path) + "/images/../images/img.raw"]
    views = [over(q.RandomAccessFactory_map_file(str(p))) for p in paths]
    views.append(over(q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file(str(paths[2])))))
    # stores keep the file they opened, renamed since and another put at its path
    held = [q.RandomAccessFactory_map_file(str(paths[0])), q.StreamAccessFactory_open_file(str(paths[0]))]
    (folder / "img.raw").rename(folder / "moved.raw")
    (folder / "img.raw").write_bytes(bytes(16))
    views += [over(held[0]), over(q.RandomAccessFactory_extract_region(held[0], 0)),
              over(q.RandomAccessFactory_from_stream(held[1])),
              over(q.RandomAccessFactory_map_file(str(folder / "moved.raw")))]
    other = over(q.RandomAccessFactory_map_file(str(tmp_path / "other.raw")))
    newcomer = over(q.RandomAccessFactory_map_file(str(folder / "img.raw")))
    for i, a in enumerate(views):
        for b in views[i + 1:]:
            assert meet(a, b)
            both_ways(a, b, SHARE)
        both_ways(a, other, NO)
        both_ways(a, newcomer, NO)
    # a disk view and the stores over its file, opened by its path
    (tmp_path / "disk").mkdir()
    disk = q.ImageViewFactory_create_on_disk(str(tmp_path / "disk"), [16], q.DataTypeId_UINT8)
    disk_file = str(next((tmp_path / "disk").iterdir()))
    for v in (over(q.RandomAccessFactory_map_file(disk_file)),
              over(q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file(disk_file)))):
        assert meet(v, disk) and meet(disk, v)
        both_ways(v, disk, SHARE)
        both_ways(v, other, NO)
