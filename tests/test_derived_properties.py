"""What derived views say of themselves and what they write back: random
chains over every kind of source, each view's properties fitting its own
shape and type and its copies in memory and on disk holding what numpy
gives; and writes through the channels and components of interlaces and
stacks whose frames share their bytes, against numpy."""
import numpy as np
import pytest

from derived_chain_model import INTERPRETATIONS, TYPES, Link, check_transfers, grow, image_type
from derived_util import Error, from_numpy, region, shape, write
from proxy import cls, q

NUMPY = {q.DataTypeId_UINT8: np.uint8, q.DataTypeId_INT16: np.int16, q.DataTypeId_DOUBLE: np.float64}


def fits(v):
    return q.ImageProperties_is_compatible_with(q.ImageView___get_properties(v), shape(v), q.ImageView_get_data_type(v))


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
    """A view of `kind` holding `truth`'s bytes."""
    if kind == "numpy":
        return q.NumpyInterop__order_from_numpy_array(truth.view(NUMPY[dtype])[..., 0], list(range(len(size)))[::-1],
                                                      0, False)
    if kind == "map_file":
        path = tmp_path / ("%d.raw" % rng.integers(1 << 62))
        path.write_bytes(truth.tobytes())
        return q.ImageViewFactory_from_random_access(q.RandomAccessFactory_map_file(str(path)), size, dtype)
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


@pytest.mark.parametrize("kind", ["memory", "numpy", "store", "map_file", "disk", "derived"])
@pytest.mark.parametrize("seed", range(4))
def test_every_derived_view_fits_its_properties_and_copies_like_numpy(tmp_path, kind, seed):
    rng = np.random.default_rng([seed, len(kind)])
    for _ in range(8):
        dtype, unit, part = TYPES[int(rng.integers(3 if kind == "numpy" else len(TYPES)))]
        components = q.DataType_get_element_count(cls("DataType")(dtype) if isinstance(dtype, int) else dtype)
        size = [int(rng.integers(1, 6)) for _ in range(int(rng.integers(1, 4)))]
        properties = described(rng, size, components, dtype)
        truth = rng.integers(0, 256, tuple(reversed(size)) + (unit,), dtype=np.uint8)
        base = source(kind, rng, tmp_path, size, dtype, truth)
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


def test_channels_and_components_of_shared_frames_write_back_like_numpy():
    """Frames drawn from two arrays, repeats included: a channel of their
    interlace (or a frame of its deinterlace) writes its frame alone; over a
    view without memory between, one whose frames share bytes does not
    write. Components of a stack of shared frames are written slab after
    slab, the last one staying, as numpy's assignments in turn leave them."""
    rng = np.random.default_rng(61)
    for _ in range(40):
        arrays = [rng.integers(0, 256, (3, 4, 2), dtype=np.uint8) for _ in range(2)]
        picks = [int(i) for i in rng.integers(0, 2, int(rng.integers(2, 4)))]
        model = [a.copy() for a in arrays]
        scalar = rng.integers(2) == 0
        views = [from_numpy(a[..., 0], "ROW", "COLUMN") if scalar else
                 q.ImageViewFactory___from_buffer([4, 3], q.DataTypeId_VEC2_UINT8, a, None, None) for a in arrays]
        frames = q.MultiImageViewFactory_create_from_list([views[i] for i in picks])
        values = rng.integers(0, 256, (3, 4), dtype=np.uint8)
        if scalar:
            joined = q.ImageViewFactory_interlace(frames)
            over = q.ImageViewFactory_make_thread_safe(joined) if rng.integers(2) else joined
            i = int(rng.integers(len(picks)))
            view = (q.ImageViewFactory_extract_channel(over, i) if rng.integers(2) else
                    q.MultiImageView_frame(q.MultiImageViewFactory_deinterlace(over), i))
            if over is not joined and len(set(picks)) < len(picks):
                assert not q.ImageView_support(view, q.ImageCapability_WRITE)
                with pytest.raises(Error, match="needs the WRITE capability"):
                    write(view, values)
                continue
            write(view, values)
            model[picks[i]][..., 0] = values
        else:
            stacked = q.ImageViewFactory_stack(frames, q.ImageDimension_SLICE)
            k = int(rng.integers(2))
            slabs = rng.integers(0, 256, (len(picks), 3, 4), dtype=np.uint8)
            write(q.ImageViewFactory_extract_channel(stacked, k), slabs)
            for j, i in enumerate(picks):
                model[i][..., k] = slabs[j]
        for a, m in zip(arrays, model):
            assert np.array_equal(a, m)
