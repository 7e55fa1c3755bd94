"""Every road a region travels between a store and memory, against numpy on
the same bytes: element sizes 1 to 16 bytes, C and FORTRAN stores, regions
whose runs merge, do not, or are one sample wide, over file streams, mapped
files, memory, temporary files and derived views over each."""
import numpy as np
import pytest

from derived_util import D, Error, read, region, shape, view, write
from proxy import q

ELEMENTS = [(np.uint8, q.DataTypeId_UINT8), (np.int16, q.DataTypeId_INT16), (np.float32, q.DataTypeId_FLOAT),
            (np.int64, q.DataTypeId_INT64), (np.complex128, q.DataTypeId_COMPLEX_DOUBLE)]
SIZE = [7, 5, 3]  # x, y, z: numpy holds it as (z, y, x)
# (origin, size): whole (one run), whole rows (runs merge over x and y),
# part rows (runs do not merge), one column (runs of one sample)
REGIONS = [([0, 0, 0], [7, 5, 3]), ([0, 1, 1], [7, 3, 2]), ([2, 1, 0], [3, 4, 3]), ([4, 0, 1], [1, 5, 2])]


def samples(dtype):
    n = int(np.prod(SIZE))
    values = np.arange(1, n + 1).astype(dtype)
    if dtype == np.complex128:
        values = values * (1 - 2j)
    return values.reshape(SIZE[::-1])


def store_bytes(a, layout):
    return (a if layout == q.MemoryLayout_FORTRAN else a.T.copy()).tobytes()


def open_store(kind, path, data):
    path.write_bytes(data)
    if kind == "stream":
        return q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file(str(path)))
    if kind == "nested stream":
        inner = q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file(str(path)))
        return q.RandomAccessFactory_from_stream(q.StreamAccessFactory_from_random_access(inner))
    if kind == "mapped":
        return q.RandomAccessFactory_map_file(str(path))
    store = q.RandomAccessFactory_allocate(len(data))
    q.RandomAccess_write(store, 0, data)
    return store


def region_of(a, origin, size):
    return a[origin[2]:origin[2] + size[2], origin[1]:origin[1] + size[1], origin[0]:origin[0] + size[0]]


def read_region(v, dtype, origin, size):
    out = bytearray(int(np.prod(size)) * np.dtype(dtype).itemsize)
    q.ImageView___read_region(v, region(origin, size), out)
    return np.frombuffer(out, dtype).reshape(size[::-1])


@pytest.mark.parametrize("kind", ["stream", "nested stream", "mapped", "memory", "temporary"])
@pytest.mark.parametrize("layout", [q.MemoryLayout_C, q.MemoryLayout_FORTRAN], ids=["C", "FORTRAN"])
@pytest.mark.parametrize("dtype,type_id", ELEMENTS, ids=lambda e: getattr(e, "__name__", ""))
def test_regions_travel_every_road_as_numpy_slices_them(tmp_path, kind, layout, dtype, type_id):
    if kind == "temporary" and layout == q.MemoryLayout_C:
        pytest.skip("temporary files hold the default layout")
    a = samples(dtype)
    if kind == "temporary":
        v = q.ImageViewFactory_create_on_disk(str(tmp_path), SIZE, type_id)
        write(v, a)
    else:
        store = open_store(kind, tmp_path / "image.raw", store_bytes(a, layout))
        v = q.ImageViewFactory_from_random_access(store, layout, SIZE, type_id)
    for origin, size in REGIONS:
        assert np.array_equal(read_region(v, dtype, origin, size), region_of(a, origin, size)), (origin, size)
    # derived views over the store: a flipped row axis, every second sample
    assert np.array_equal(read(q.ImageViewFactory_flip_dimension_index(v, 1), dtype), a[:, ::-1, :])
    assert np.array_equal(read(q.ImageViewFactory_sub_sample(v, 2), dtype), a[::2, ::2, ::2])
    # writes land where numpy would put them, in the store's own layout
    expected = a.copy()
    for k, (origin, size) in enumerate(REGIONS[1:]):
        values = (np.arange(int(np.prod(size))) + 100 * k).astype(dtype).reshape(size[::-1])
        q.ImageView___write_region(v, region(origin, size), values.tobytes())
        region_of(expected, origin, size)[...] = values
    assert np.array_equal(read(v, dtype), expected)
    if kind in ("stream", "nested stream", "mapped"):
        del v, store
        assert (tmp_path / "image.raw").read_bytes() == store_bytes(expected, layout)


def test_stores_over_streams_over_stores_nest_deep(tmp_path):
    path = tmp_path / "deep.raw"
    path.write_bytes(bytes(range(256)) * 4)
    store = q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file(str(path)))
    for _ in range(64):
        store = q.RandomAccessFactory_from_stream(q.StreamAccessFactory_from_random_access(store))
    assert q.RandomAccess_get_size(store) == 1024
    assert q.RandomAccessCapabilitySet_value(q.RandomAccess_get_capabilities(store)) == \
        q.RandomAccessCapability_READ | q.RandomAccessCapability_WRITE
    out = bytearray(8)
    q.RandomAccess___read(store, 300, out)
    assert bytes(out) == bytes(range(44, 52))
    # at the end nothing is read; past it, even nothing is refused
    assert q.RandomAccess___read(store, 1024, bytearray(4)) == 0
    with pytest.raises(Error):
        q.RandomAccess___read(store, 1025, bytearray(0))
    q.RandomAccess_write(store, 1020, b"abcd")
    stream = q.StreamAccessFactory_from_random_access(store)
    q.StreamAccess_seek(stream, -4, q.SeekOrigin_END)
    assert q.StreamAccess_tell(stream) == 1020
    del stream, store
    assert path.read_bytes()[-4:] == b"abcd"


@pytest.mark.parametrize("dtype,type_id", ELEMENTS[:4], ids=lambda e: getattr(e, "__name__", ""))
def test_copies_on_disk_hold_the_source_dense_or_strided(tmp_path, dtype, type_id):
    a = samples(dtype)
    # dense in the default layout (written from its memory), then strided
    # (read chunk by chunk), then a view of the copy copied again
    for source in (view(a, "SLICE", "ROW", "COLUMN"), view(a.transpose(1, 0, 2), "ROW", "SLICE", "COLUMN"),
                   q.ImageViewFactory_flip_dimension_index(view(a, "SLICE", "ROW", "COLUMN"), 1)):
        copy = q.ImageViewFactory_copy_on_disk(source, str(tmp_path))
        assert shape(copy) == SIZE
        assert np.array_equal(read(copy, dtype), read(source, dtype))
    assert np.array_equal(read(q.ImageViewFactory_copy_on_disk(copy, str(tmp_path)), dtype), a[:, ::-1, :])


def test_derived_views_over_disk_move_chunk_by_chunk(tmp_path):
    # larger than a chunk of the source: several chunks each way
    a = np.random.default_rng(5).integers(0, 255, (1500, 1100), dtype=np.uint8)
    disk = q.ImageViewFactory_create_on_disk(str(tmp_path), [1100, 1500], q.DataTypeId_UINT8)
    write(disk, a)
    flipped = q.ImageViewFactory_flip_dimension_index(disk, 1)
    assert np.array_equal(read(flipped, np.uint8), a[::-1])
    assert np.array_equal(read_region(flipped, np.uint8, [3, 7], [1000, 1400]), a[::-1][7:1407, 3:1003])
    assert np.array_equal(read(q.ImageViewFactory_sub_sample(disk, 3), np.uint8), a[::3, ::3])
    # writes through a transpose: read, changed and written back chunk by chunk
    transposed = q.ImageViewFactory_reinterpret_axes(disk, (q.ImageDimension_ROW, q.ImageDimension_COLUMN))
    assert np.array_equal(read(transposed, np.uint8), a.T)
    values = np.arange(1000 * 1400).astype(np.uint8).reshape(1000, 1400)
    q.ImageView___write_region(transposed, region([7, 3], [1400, 1000]), values.tobytes())
    expected = a.copy()
    expected[7:1407, 3:1003] = values.T
    assert np.array_equal(read(disk, np.uint8), expected)


@pytest.mark.parametrize("rows", [700, 1400])
def test_c_stores_move_chunk_by_chunk(rows):
    # an index of the first dimension holds 560 KB, two do not fit in a chunk:
    # three chunks; or 1.1 MB, more than a chunk, which then cuts the next
    # dimension
    a = np.random.default_rng(7).integers(0, 60000, (3, rows, 400)).astype(np.uint16)
    store = q.RandomAccessFactory_allocate(a.nbytes)
    q.RandomAccess_write(store, 0, a.tobytes())
    v = q.ImageViewFactory_from_random_access(store, q.MemoryLayout_C, [3, rows, 400], q.DataTypeId_UINT16)
    assert np.array_equal(read(v, np.uint16), a.T)
    assert np.array_equal(read_region(v, np.uint16, [1, 5, 7], [2, 600, 300]), a[1:3, 5:605, 7:307].T)
    values = np.arange(3 * 600 * 300).astype(np.uint16).reshape(300, 600, 3)
    q.ImageView___write_region(v, region([0, 5, 7], [3, 600, 300]), values.tobytes())
    expected = a.copy()
    expected[:, 5:605, 7:307] = values.T
    out = bytearray(a.nbytes)
    q.RandomAccess___read(store, 0, out)
    assert bytes(out) == expected.tobytes()


def test_sub_sampled_disk_views_read_only_the_slabs_they_reach(tmp_path):
    a = np.random.default_rng(9).integers(0, 60000, (9, 60, 40)).astype(np.uint16)
    disk = q.ImageViewFactory_create_on_disk(str(tmp_path), [40, 60, 9], q.DataTypeId_UINT16)
    write(disk, a)
    for step in (2, 3, 7):
        sub = q.ImageViewFactory_sub_sample(disk, step)
        expected = a[::step, ::step, ::step]
        assert np.array_equal(read(sub, np.uint16), expected), step
        # a part, and flipped: the slabs taken from the other end
        assert np.array_equal(read_region(sub, np.uint16, [1, 2, 0], [4, 5, 2]), expected[0:2, 2:7, 1:5])
        flipped = q.ImageViewFactory_flip_dimension_index(sub, 2)
        assert np.array_equal(read(flipped, np.uint16), expected[::-1])
    # sub-sampling an axis that is not the source's slowest one
    transposed = q.ImageViewFactory_reinterpret_axes(disk, (q.ImageDimension_ROW, q.ImageDimension_COLUMN,
                                                            q.ImageDimension_SLICE))
    assert np.array_equal(read(q.ImageViewFactory_sub_sample(transposed, 2), np.uint16),
                          a.transpose(0, 2, 1)[::2, ::2, ::2])


def test_stripes_written_side_by_side_keep_every_row(tmp_path):
    # eight threads write interleaved column stripes of one temporary file:
    # each stripe's rows lie apart, with the other stripes in the gaps
    stripes, width, rows = 8, 64, 3000
    disk = q.ImageViewFactory_create_on_disk(str(tmp_path), [stripes * width, rows], q.DataTypeId_UINT8)
    frames = [q.ImageViewFactory_extract_region(disk, region([t * width, 0], [width, rows])) for t in range(stripes)]
    stacked = q.ImageViewFactory_stack(q.MultiImageViewFactory_create_from_list(frames), D["SLICE"], 0)
    for round_ in range(3):
        values = np.random.default_rng(round_).integers(0, 255, (stripes, rows, width), dtype=np.uint8)
        write(stacked, values)
        assert np.array_equal(read(disk, np.uint8), values.transpose(1, 0, 2).reshape(rows, stripes * width))


def test_temporary_files_keep_what_each_way_of_writing_wrote(tmp_path):
    # new parts of the file are written by positioned calls, parts written
    # before through the mapping; a reshape keeps only what it still holds
    rows, cols = 2100, 1000  # about 2 MiB: several pieces of the file, the last one partial
    rng = np.random.default_rng(9)
    disk = q.ImageViewFactory_create_on_disk(str(tmp_path), [cols, rows], q.DataTypeId_UINT8)
    first = rng.integers(0, 255, (rows, cols), dtype=np.uint8)
    q.ImageView___write_region(disk, region([0, 0], [cols, 1200]), first[:1200].tobytes())
    write(disk, first)
    second = rng.integers(0, 255, (rows, cols), dtype=np.uint8)
    write(disk, second)
    assert np.array_equal(read(disk, np.uint8), second)
    assert np.array_equal(read_region(disk, np.uint8, [5, 1500], [990, 600]), second[1500:2100, 5:995])
    q.ImageView_reshape(disk, [cols, 1500], q.DataTypeId_UINT8)
    q.ImageView_reshape(disk, [cols, rows], q.DataTypeId_UINT8)
    third = rng.integers(0, 255, (rows, cols), dtype=np.uint8)
    write(disk, third)
    assert np.array_equal(read(disk, np.uint8), third)
