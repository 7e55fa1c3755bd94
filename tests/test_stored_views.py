"""Views over random-access stores and in temporary files, and their tiles."""
import gc
import os
import stat

import numpy as np
import pytest

from derived_util import Error, exact, read, region, shape, view, write
from proxy import q


def store_of(data):
    store = q.RandomAccessFactory_allocate(len(data))
    q.RandomAccess_write(store, 0, bytes(data))
    return store


def store_bytes(store):
    out = bytearray(q.RandomAccess_get_size(store))
    q.RandomAccess___read(store, 0, out)
    return bytes(out)


def files(folder):
    return sorted(os.listdir(folder))


def test_store_views_read_what_numpy_reads_in_both_layouts():
    data = np.arange(3 * 5 * 2, dtype=np.uint16)
    store = store_of(data.tobytes())
    # shape (columns 5, rows 3, slices 2)
    fortran = q.ImageViewFactory_from_random_access(store, [5, 3, 2], q.DataTypeId_UINT16)
    assert np.array_equal(read(fortran, np.uint16), data.reshape(2, 3, 5))
    assert np.array_equal(read(q.ImageViewFactory_from_random_access(store, q.MemoryLayout_FORTRAN, [5, 3, 2],
                                                                     q.DataTypeId_UINT16), np.uint16),
                          data.reshape(2, 3, 5))
    c = q.ImageViewFactory_from_random_access(store, q.MemoryLayout_C, [5, 3, 2], q.DataTypeId_UINT16)
    assert np.array_equal(read(c, np.uint16), data.reshape(5, 3, 2).T)
    out = bytearray(2 * 2 * 2 * 2)
    q.ImageView___read_region(c, region([1, 1, 0], [2, 2, 2]), out)
    assert np.array_equal(np.frombuffer(out, np.uint16).reshape(2, 2, 2), data.reshape(5, 3, 2).T[:, 1:3, 1:3])
    props = q.ImageProperties_from_data_type(q.DataTypeId_UINT16)
    assert shape(q.ImageViewFactory_from_random_access(store, [5, 3, 2], q.DataTypeId_UINT16, props, None)) == [5, 3, 2]
    assert shape(q.ImageViewFactory_from_random_access(store, 0, [5, 6], q.DataTypeId_UINT16, None, None)) == [5, 6]


def test_store_views_write_through_and_fail_past_a_shrunk_store():
    store = store_of(bytes(24))
    v = q.ImageViewFactory_from_random_access(store, q.MemoryLayout_C, [4, 6], q.DataTypeId_UINT8)
    values = np.arange(24, dtype=np.uint8).reshape(6, 4)
    write(v, values)
    # others see the store at once; C layout: the last dimension (rows) fastest
    assert store_bytes(store) == values.T.tobytes()
    del store
    gc.collect()
    assert np.array_equal(read(v, np.uint8), values)
    store = q.RandomAccessFactory_allocate(24)
    v = q.ImageViewFactory_from_random_access(store, [4, 6], q.DataTypeId_UINT8)
    q.RandomAccess_resize(store, 10)
    with pytest.raises(Error, match=exact("ImageView: the store holds 10 bytes, fewer than the image needs")):
        read(v, np.uint8)
    one = bytearray(1)
    q.ImageView___read(v, [1, 2], one)  # byte 9 is still there
    with pytest.raises(Error):
        q.ImageView___read(v, [3, 5], one)
    # a window [12, 32) of a store shrunk to 30 bytes holds the 18 left
    store = q.RandomAccessFactory_allocate(40)
    window = q.RandomAccessFactory_extract_region(store, 12, 20)
    v = q.ImageViewFactory_from_random_access(window, [20], q.DataTypeId_UINT8)
    q.RandomAccess_resize(store, 30)
    assert q.RandomAccess_get_size(window) == 18
    with pytest.raises(Error, match=exact("ImageView: the store holds 18 bytes, fewer than the image needs")):
        read(v, np.uint8)
    # the window reads and writes as far as it holds, and names its own offsets past that
    assert q.RandomAccess___read(window, 10, bytearray(10)) == 8
    with pytest.raises(Error, match=exact("offset 19 is past the end of the store (size 18)")):
        q.RandomAccess_write(window, 19, b"x")
    q.RandomAccess_resize(store, 10)
    with pytest.raises(Error, match=exact("ImageView: the store holds 0 bytes, fewer than the image needs")):
        read(v, np.uint8)


def test_store_view_refusals():
    store = store_of(bytes(16))
    for args in ((store, 7, [4, 4], q.DataTypeId_UINT8), (store, -1, [4, 4], q.DataTypeId_UINT8),
                 (store, [4, 5], q.DataTypeId_UINT8), (store, 1, [4, 5], q.DataTypeId_UINT8),
                 (None, [4, 4], q.DataTypeId_UINT8)):
        with pytest.raises(Error):
            q.ImageViewFactory_from_random_access(*args)
    with pytest.raises(Error):  # properties that do not fit the shape and type
        q.ImageViewFactory_from_random_access(store, [4, 4], q.DataTypeId_UINT8,
                                              q.ImageProperties_from_data_type(q.DataTypeId_UINT16), None)
    message = ("Wrong number or type of arguments for overloaded function 'ImageViewFactory_from_random_access'.\n"
               "  Possible C/C++ prototypes are:\n"
               "    quelbo::ImageViewFactory::fromRandomAccess(std::shared_ptr< quelbo::RandomAccess >,"
               "quelbo::MemoryLayout,quelbo::VectorXu64 const &,quelbo::DataType const,std::shared_ptr< "
               "quelbo::ImageProperties >,std::shared_ptr< quelbo::MetadataNode const > const)\n"
               "    quelbo::ImageViewFactory::fromRandomAccess(std::shared_ptr< quelbo::RandomAccess >,"
               "quelbo::MemoryLayout,quelbo::VectorXu64 const &,quelbo::DataType const)\n"
               "    quelbo::ImageViewFactory::fromRandomAccess(std::shared_ptr< quelbo::RandomAccess >,"
               "quelbo::VectorXu64 const &,quelbo::DataType const,std::shared_ptr< quelbo::ImageProperties >,"
               "std::shared_ptr< quelbo::MetadataNode const >)\n"
               "    quelbo::ImageViewFactory::fromRandomAccess(std::shared_ptr< quelbo::RandomAccess >,"
               "quelbo::VectorXu64 const &,quelbo::DataType const)\n")
    for args in ((store, 2**31, [4, 4], 65800), (store, [4, 4], 65800, None), (store,)):
        with pytest.raises(TypeError, match=exact(message)):
            q.ImageViewFactory_from_random_access(*args)
    with pytest.raises(TypeError, match="invalid item in sequence"):
        q.ImageViewFactory_from_random_access(store, ["a"], 65800)


def test_disk_views_own_a_private_file_for_their_life(tmp_path):
    v = q.ImageViewFactory_create_on_disk(str(tmp_path), [300, 200], q.DataTypeId_UINT16)
    (name,) = files(tmp_path)
    path = tmp_path / name
    assert stat.S_IMODE(path.stat().st_mode) == 0o600
    assert path.stat().st_size == 300 * 200 * 2
    assert q.ImageCapabilitySet_value(q.ImageView_get_capabilities(v)) == 7
    values = np.arange(200 * 300, dtype=np.uint16).reshape(200, 300)
    write(v, values)
    assert np.array_equal(read(v, np.uint16), values)
    assert path.read_bytes() == values.tobytes()
    q.ImageView_reshape(v, [10, 10], q.DataTypeId_UINT8)
    assert path.stat().st_size == 100 and shape(v) == [10, 10]
    del v
    gc.collect()
    assert files(tmp_path) == []

    default = q.ImageViewFactory_create_on_disk([8, 8], q.DataTypeId_FLOAT, None, None)
    assert np.array_equal(read(default, np.float32), np.zeros((8, 8)))
    with pytest.raises(Error):
        q.ImageViewFactory_create_on_disk(str(tmp_path / "missing"), [4], q.DataTypeId_UINT8)
    with pytest.raises(Error):
        q.ImageViewFactory_create_on_disk(str(tmp_path), [4, 4], q.DataTypeId_UINT8,
                                          q.ImageProperties_from_data_type(q.DataTypeId_DOUBLE), None)
    assert files(tmp_path) == []
    for args in ((str(tmp_path).encode(), [4], 65800), (str(tmp_path), [4], 65800, None), ([4],)):
        with pytest.raises(TypeError, match="overloaded function 'ImageViewFactory_create_on_disk'"):
            q.ImageViewFactory_create_on_disk(*args)


@pytest.mark.parametrize("size", [(7, 5), (1500, 1000), (2_100_000,), (3, 700_000)])
def test_copies_on_disk_are_equal_and_independent(tmp_path, size):
    a = np.random.default_rng(1).integers(0, 255, size=size[::-1], dtype=np.uint8)
    names = ["ROW", "COLUMN"][-len(size):]
    source = view(a, *names)
    copy = q.ImageViewFactory_copy_on_disk(source, str(tmp_path))
    assert shape(copy) == list(size)
    assert np.array_equal(read(copy, np.uint8), a)
    a[...] = 0
    assert not np.array_equal(read(copy, np.uint8), a)
    assert len(files(tmp_path)) == 1
    del copy
    gc.collect()
    assert files(tmp_path) == []


def test_a_copy_failing_midway_leaves_no_file(tmp_path):
    store = store_of(bytes(3 << 20))
    source = q.ImageViewFactory_from_random_access(store, [1024, 3072], q.DataTypeId_UINT8)
    q.RandomAccess_resize(store, 3 << 19)
    with pytest.raises(Error):
        q.ImageViewFactory_copy_on_disk(source, str(tmp_path))
    assert files(tmp_path) == []
    with pytest.raises(Error):
        q.ImageViewFactory_copy_on_disk(None)
    with pytest.raises(TypeError, match="copyOnDisk\\(std::shared_ptr< quelbo::ImageView >,std::string const &\\)\n$"):
        q.ImageViewFactory_copy_on_disk(source, str(tmp_path), 1)
    # a directory given as None is a string form refused by its conversion
    with pytest.raises(ValueError, match="invalid null reference in method 'ImageViewFactory_copy_on_disk', "
                                         "argument 2 of type 'std::string const &'"):
        q.ImageViewFactory_copy_on_disk(source, None)
    with pytest.raises(ValueError, match="invalid null reference in method 'ImageViewFactory_create_on_disk', "
                                         "argument 1 of type 'std::string const &'"):
        q.ImageViewFactory_create_on_disk(None, [2, 2], q.DataTypeId_UINT8)


def test_tiles_cover_the_image_once_and_round_trip(tmp_path):
    size = [300, 150, 3]
    v = q.ImageViewFactory_create_on_disk(str(tmp_path), size, q.DataTypeId_INT32)
    values = np.arange(np.prod(size), dtype=np.int32).reshape(size[::-1])
    write(v, values)
    tiling = q.ImageView_tiling_info(v)
    count = q.TilingInfoExtension_tile_count(tiling)
    covered = np.zeros(size[::-1], dtype=int)
    grid = q.TilingInfoExtension_tiling_grid(tiling)
    cells = [q.ArrayXu64_shape(grid).at(i) for i in range(3)]
    seen = sorted(q.ArrayXu64_at(grid, [i, j, k]) for i in range(cells[0]) for j in range(cells[1])
                  for k in range(cells[2]))
    assert seen == list(range(count))
    for t in range(count):
        r = q.TilingInfoExtension_tile_region(tiling, t)
        o = [q.RegionXu64_get_origin(r).at(i) for i in range(3)]
        s = [q.RegionXu64_get_size(r).at(i) for i in range(3)]
        box = tuple(slice(o[d], o[d] + s[d]) for d in reversed(range(3)))
        covered[box] += 1
        buf = bytearray(int(np.prod(s)) * 4)
        q.TilingInfoExtension_read_tile(tiling, t, buf)
        tile = np.frombuffer(buf, np.int32).reshape(s[::-1])
        assert np.array_equal(tile, values[box])
        q.TilingInfoExtension_write_tile(tiling, t, (-tile).tobytes())
    assert (covered == 1).all()
    assert np.array_equal(read(v, np.int32), -values)
    with pytest.raises(Error):
        q.TilingInfoExtension_read_tile(tiling, 0, bytearray(3))
    with pytest.raises(Error):
        q.TilingInfoExtension_write_tile(tiling, count, bytes(1 << 20))
    with pytest.raises(Error):
        q.TilingInfoExtension_tile_region(tiling, count)
    with pytest.raises(TypeError, match=exact("in method 'TilingInfoExtension_read_tile', argument 3 of type "
                                              "'(uint8_t* dst, size_t size)'")):
        q.TilingInfoExtension_read_tile(tiling, 0, bytes(1 << 20))
    with pytest.raises(OverflowError, match=exact("in method 'TilingInfoExtension_tile_region', argument 2 of "
                                                  "type 'size_t'")):
        q.TilingInfoExtension_tile_region(tiling, -1)
    mts = q.TilingInfoExtension_max_tile_size(tiling)
    assert [mts.at(i) for i in range(3)] == [128, 128, 3]


def test_a_refused_disk_write_raises_and_leaves_no_file(tmp_path):
    from test_core import run_child

    # files may not grow past 1 MiB in the child: growing a disk view fails
    r = run_child("""
        import os, resource, signal
        import numpy as np
        from proxy import q, QuelboError
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))
        folder = %r
        small = q.ImageViewFactory_create_on_disk(folder, [512, 512], q.DataTypeId_UINT8)
        source = q.NumpyInterop__order_from_numpy_array(np.zeros((1024, 2048), np.uint8),
                                                        [q.ImageDimension_ROW, q.ImageDimension_COLUMN], 0, False)
        for attempt in (lambda: q.ImageViewFactory_create_on_disk(folder, [2048, 1024], q.DataTypeId_UINT8),
                        lambda: q.ImageView_reshape(small, [2048, 1024], q.DataTypeId_UINT8),
                        lambda: q.ImageViewFactory_copy_on_disk(source, folder)):
            try:
                attempt()
                print("no error")
            except QuelboError as e:
                print("Error", "temporary file" in str(e))
        del small
        print(sorted(os.listdir(folder)))
    """ % str(tmp_path))
    assert r.returncode == 0, r.stderr
    assert r.stdout.split("\n")[:4] == ["Error True", "Error True", "Error True", "[]"]


def test_files_of_views_never_destroyed_are_removed_at_exit(tmp_path):
    from test_core import run_child

    r = run_child("""
        import ctypes
        from proxy import q
        v = q.ImageViewFactory_create_on_disk(%r, [4, 4], q.DataTypeId_UINT8)
        ctypes.pythonapi.Py_IncRef(ctypes.py_object(v))  # the view outlives the interpreter
        print(len(__import__("os").listdir(%r)))
    """ % (str(tmp_path), str(tmp_path)), leaks_expected=True)
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == "1"
    assert files(tmp_path) == []
