"""What derived views say of themselves and what they write back: random
chains over every kind of source, each view's properties fitting its own
shape and type and its copies in memory and on disk holding what numpy
gives; and writes through the channels and components of interlaces and
stacks whose frames share their bytes, against numpy."""
import numpy as np
import pytest

from derived_chain_model import INTERPRETATIONS, TYPES, Link, check_transfers, fits, grow, image_type
from derived_util import Error, from_numpy, read, region, shape, write
from proxy import cls, q

NUMPY = {q.DataTypeId_UINT8: np.uint8, q.DataTypeId_INT16: np.int16, q.DataTypeId_DOUBLE: np.float64}


def described(rng, size, components, dtype):
    """Random properties for a view of `size` that fit it: named axes (the
    CHANNEL one, if named, made as long as the interpretation needs), an
    interpretation and alpha."""
    named = sorted(int(d) for d in rng.choice(5, len(size), replace=False)) if rng.integers(3) else []
    meaning, alpha = INTERPRETATIONS[int(rng.integers(len(INTERPRETATIONS)))], bool(rng.integers(2))
    wanted = q.ImageInfoProperty_channel_count(meaning) + alpha
    if wanted > alpha and wanted != components:
        if q.ImageDimension_CHANNEL not in named:
            meaning, alpha = q.ImageInterpretation_UNKNOWN, False
        else:
            size[named.index(q.ImageDimension_CHANNEL)] = wanted
    info = cls("ImageInfoProperty")(image_type(named), meaning, alpha, dtype)
    return cls("ImageProperties")(cls("SpatialCalibrationProperty")(), info)


def source(kind, rng, tmp_path, size, dtype, truth):
    """A view of `kind` holding `truth`'s bytes (numpy arrays and buffers:
    over its memory, or a copy of it, every other sample of a larger one or
    read-only)."""
    if kind.endswith("numpy"):
        samples = truth.view(NUMPY[dtype])[..., 0]
        if kind == "strided numpy":
            samples = np.zeros(tuple(2 * n for n in samples.shape), samples.dtype)[(slice(None, None, 2),) * len(size)]
            samples[...] = truth.view(NUMPY[dtype])[..., 0]
        elif kind == "read-only numpy":
            samples = samples.copy()
            samples.flags.writeable = False
        return q.NumpyInterop__order_from_numpy_array(samples, list(range(len(size)))[::-1], 0, False)
    if kind == "buffer":
        made = q.ImageViewFactory___from_buffer(size, dtype, truth, None, None)
        made.lent = truth  # kept as long as the view
        return made
    if kind in ("map_file", "stream store"):
        path = tmp_path / ("%d.raw" % rng.integers(1 << 62))
        path.write_bytes(truth.tobytes())
        store = (q.RandomAccessFactory_map_file(str(path)) if kind == "map_file" else
                 q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file(str(path))))
        return q.ImageViewFactory_from_random_access(store, size, dtype)
    made = {"memory": lambda: q.ImageViewFactory_allocate(size, dtype),
            "store": lambda: q.ImageViewFactory_from_random_access(q.RandomAccessFactory_allocate(truth.size), size,
                                                                   dtype),
            "disk": lambda: q.ImageViewFactory_create_on_disk(str(tmp_path), size, dtype),
            "derived": lambda: q.ImageViewFactory_from_image_view(q.ImageViewFactory_allocate(size, dtype), None, None),
            }[kind]()
    q.ImageView___write_region(made, region([0] * len(size), size), truth.tobytes())
    return made


def copies_like_numpy(v, expected, tmp_path):
    assert fits(v)
    for copy in (q.ImageViewFactory_copy_in_memory(v), q.ImageViewFactory_copy_on_disk(v, str(tmp_path))):
        assert fits(copy) and shape(copy) == shape(v)
        out = bytearray(expected.size)
        q.ImageView___read_region(copy, region([0] * len(shape(v)), shape(v)), out)
        assert bytes(out) == np.ascontiguousarray(expected).tobytes()


@pytest.mark.parametrize("kind", ["memory", "numpy", "strided numpy", "read-only numpy", "buffer", "store",
                                  "map_file", "stream store", "disk", "derived"])
@pytest.mark.parametrize("seed", range(4))
def test_every_derived_view_fits_its_properties_and_copies_like_numpy(tmp_path, kind, seed):
    rng = np.random.default_rng([seed, len(kind)])
    for _ in range(8):
        dtype, unit, part = TYPES[int(rng.integers(3 if kind.endswith("numpy") else len(TYPES)))]
        components = q.DataType_get_element_count(cls("DataType")(dtype) if isinstance(dtype, int) else dtype)
        size = [int(rng.integers(1, 6)) for _ in range(int(rng.integers(1, 4)))]
        properties = described(rng, size, components, dtype)
        truth = rng.integers(0, 256, tuple(reversed(size)) + (unit,), dtype=np.uint8)
        base = source(kind, rng, tmp_path, size, dtype, truth)
        if q.ImageView_support(base, q.ImageCapability_WRITE):
            q.ImageView_set_properties(base, properties)
        # a step of 1 and the rearrangements of every sample keep an empty dimension
        empty = source(kind, rng, tmp_path, [0] + size[1:], dtype, truth[..., :0, :])
        for same in (q.ImageViewFactory_sub_sample(empty, 1), q.ImageViewFactory_flip_dimension_index(empty, 0),
                     q.ImageViewFactory_stack(q.MultiImageViewFactory_create_from_list([empty]))):
            copies_like_numpy(same, truth[..., :0, :], tmp_path)
        chain = [Link(base, lambda a: a, unit, part)]
        copies_like_numpy(base, truth, tmp_path)
        for _ in range(int(rng.integers(1, 5))):
            link = grow(rng, chain)
            copies_like_numpy(link.view, link.model(truth), tmp_path)
            check_transfers(rng, link, base, truth)


class Pool:
    """A 4 x 3 image of one kind, zero, and frames over boxes of it, each made
    through another view reaching its bytes when the kind has several: in
    memory, a numpy array, a file mapped twice by numpy, a store, a disk view
    and the stores over its file."""

    def __init__(self, kind, components, tmp_path):
        dtype = q.DataTypeId_UINT8 if components == 1 else q.DataTypeId_VEC2_UINT8
        self.model = np.zeros((3, 4, components), np.uint8)
        if kind in ("numpy", "memmap"):
            arrays = [self.model.copy()]
            if kind == "memmap":
                path = tmp_path / "mapped.raw"
                path.write_bytes(self.model.tobytes())
                arrays = [np.memmap(path, np.uint8, "r+", shape=self.model.shape) for _ in range(2)]
            self.reach = [(lambda a: lambda: from_numpy(a[..., 0], "ROW", "COLUMN") if components == 1 else
                           q.ImageViewFactory___from_buffer([4, 3], dtype, a, None, None))(a) for a in arrays]
        elif kind == "store":
            store = q.RandomAccessFactory_allocate(self.model.size)
            self.reach = [lambda: q.ImageViewFactory_from_random_access(store, [4, 3], dtype)]
        else:
            before = set(tmp_path.iterdir())
            made = q.ImageViewFactory_allocate([4, 3], dtype) if kind == "memory" else \
                q.ImageViewFactory_create_on_disk(str(tmp_path), [4, 3], dtype)
            self.reach = [lambda: made]
            if kind == "disk":
                path = str((set(tmp_path.iterdir()) - before).pop())
                self.reach += [lambda: q.ImageViewFactory_from_random_access(q.RandomAccessFactory_map_file(path),
                                                                             [4, 3], dtype),
                               lambda: q.ImageViewFactory_from_random_access(
                                   q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file(path)), [4, 3],
                                   dtype)]
        self.whole = self.reach[0]()
        write(self.whole, self.model)

    def frame(self, rng, box):
        (x, y), (w, h) = box
        return q.ImageViewFactory_extract_region(self.reach[int(rng.integers(len(self.reach)))](),
                                                 region([x, y], [w, h]))

    def holds(self):
        return np.array_equal(read(self.whole, np.uint8, self.model.shape[-1]).reshape(self.model.shape), self.model)


def boxes(rng, count):
    w, h = int(rng.integers(1, 5)), int(rng.integers(1, 4))
    return [((int(rng.integers(5 - w)), int(rng.integers(4 - h))), (w, h)) for _ in range(count)]


def meet(a, b):
    return all(a[0][d] < b[0][d] + b[1][d] and b[0][d] < a[0][d] + a[1][d] for d in range(2))


@pytest.mark.parametrize("kind", ["memory", "numpy", "memmap", "store", "disk"])
def test_channels_and_components_of_shared_frames_write_back_like_numpy(tmp_path, kind):
    """Frames over boxes of one image, overlapping or not, each reaching it
    through a view of its own: a channel of their interlace (or a frame of
    its deinterlace) writes its frame alone; over a view without memory
    between, one whose frames meet does not write. Components of a stack of
    such frames are written slab after slab, the last one staying, as
    numpy's assignments in turn leave them."""
    rng = np.random.default_rng([61, len(kind)])
    for _ in range(30):
        scalar = rng.integers(2) == 0
        pool = Pool(kind, 1 if scalar else 2, tmp_path)
        where = boxes(rng, int(rng.integers(2, 4)))
        frames = q.MultiImageViewFactory_create_from_list([pool.frame(rng, box) for box in where])
        w, h = where[0][1]
        if scalar:
            joined = q.ImageViewFactory_interlace(frames)
            between = int(rng.integers(3))
            over = [joined, q.ImageViewFactory_make_thread_safe(joined),
                    q.ImageViewFactory_reinterpret(joined, cls("ImageType")())][between]
            i = int(rng.integers(len(where)))
            view = (q.ImageViewFactory_extract_channel(over, i) if rng.integers(2) else
                    q.MultiImageView_frame(q.MultiImageViewFactory_deinterlace(over), i))
            values = rng.integers(0, 256, (h, w), dtype=np.uint8)
            if between and any(meet(a, b) for j, a in enumerate(where) for b in where[j + 1:]):
                assert not q.ImageView_support(view, q.ImageCapability_WRITE)
            if not q.ImageView_support(view, q.ImageCapability_WRITE):
                assert between
                with pytest.raises(Error, match="needs the WRITE capability"):
                    write(view, values)
                continue
            write(view, values)
            (x, y), _ = where[i]
            pool.model[y:y + h, x:x + w, 0] = values
        else:
            stacked = q.ImageViewFactory_stack(frames, q.ImageDimension_SLICE)
            k = int(rng.integers(2))
            slabs = rng.integers(0, 256, (len(where), h, w), dtype=np.uint8)
            write(q.ImageViewFactory_extract_channel(stacked, k), slabs)
            for slab, ((x, y), _) in zip(slabs, where):
                pool.model[y:y + h, x:x + w, k] = slab
        assert pool.holds()
