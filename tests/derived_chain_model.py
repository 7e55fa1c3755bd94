"""Random chains of derived views and the numpy model of their samples,
shared by the tests of derived views. The model holds every sample as its
bytes (numpy axes reversed from the view's, the sample's bytes last), so
packed and multi-component types go the same way as the others."""
import numpy as np
import pytest

from derived_util import D, Error, region, shape
from proxy import cls, q

DataType = cls("DataType")
INTERPRETATIONS = [q.ImageInterpretation_UNKNOWN, q.ImageInterpretation_GRAYSCALE, q.ImageInterpretation_RGB,
                   q.ImageInterpretation_CMYK]
# type, bytes per sample, bytes per component (None: packed by bits)
TYPES = [(q.DataTypeId_UINT8, 1, 1), (q.DataTypeId_INT16, 2, 2), (q.DataTypeId_DOUBLE, 8, 8),
         (q.DataTypeId_VEC3_UINT16, 6, 2), (DataType(1, 12, 1), 2, 2), (DataType(1, 12, 3), 5, None)]

def image_type(dimensions):
    t = cls("ImageType")()
    for d in dimensions:
        q.ImageType_add(t, d)
    return t


def fits(v):
    """Whether the view's properties fit its shape and type."""
    return q.ImageProperties_is_compatible_with(q.ImageView___get_properties(v), shape(v), q.ImageView_get_data_type(v))


def axes(v):
    """The view's dimensions as named by its image type, or None."""
    t = q.ImageView_get_axes_interpretation(v)
    n = q.ImageType_dimension_count(t)
    return [q.ImageType__dimension(t, i) for i in range(n)] if n == len(shape(v)) else None


class Link:
    """A derived view and its samples as a numpy view of the source's bytes:
    numpy axes reversed from the view's, the sample's bytes last."""

    def __init__(self, view, model, unit, part=None, forwards=True):
        self.view, self.model, self.unit, self.part, self.forwards = view, model, unit, part, forwards


def derivations(rng, link):
    """(name, make): the derivations that apply to the link."""
    v, size, unit, part = link.view, shape(link.view), link.unit, link.part
    n = len(size)
    named = axes(v)
    channel = named.index(q.ImageDimension_CHANNEL) if named and q.ImageDimension_CHANNEL in named else None
    out = []

    def add(name, view, model, unit=unit, part=part, forwards=False):
        out.append((name, lambda: Link(view(), model, unit, part, forwards)))

    d = int(rng.integers(n))
    add("flip %d" % d, lambda: q.ImageViewFactory_flip_dimension_index(v, d), lambda a: np.flip(a, n - 1 - d))
    step = int(rng.integers(1, 4))
    if all(step <= s for i, s in enumerate(size) if i != channel):
        keep = tuple(slice(None) if n - 1 - i == channel else slice(None, None, step) for i in range(n))
        add("sub_sample %d" % step, lambda: q.ImageViewFactory_sub_sample(v, step), lambda a: a[keep])
    lo = [int(rng.integers(s)) for s in size]
    ext = [int(rng.integers(1, s - o + 1)) for s, o in zip(size, lo)]
    box = tuple(slice(o, o + e) for o, e in zip(reversed(lo), reversed(ext)))
    add("extract_region", lambda: q.ImageViewFactory_extract_region(v, region(lo, ext)), lambda a: a[box])
    cut = tuple(o if e == 1 else slice(o, o + e) for o, e in zip(reversed(lo), reversed(ext)))
    add("extract_adjusted_region", lambda: q.ImageViewFactory_extract_adjusted_region(v, region(lo, ext)),
        lambda a: a[cut] if any(e != 1 for e in ext) else a[cut][None])
    if n <= 5:
        order = [int(i) for i in rng.permutation(n)]
        names = [sorted(D.values())[i] for i in order]  # source dimension i becomes the view's order[i]
        source_of = {order[i]: i for i in range(n)}
        add("reinterpret_axes", lambda: q.ImageViewFactory_reinterpret_axes(v, names),
            lambda a: np.transpose(a, [n - 1 - source_of[n - 1 - j] for j in range(n)] + [n]))
    if n > 1:
        d = int(rng.integers(n))
        i = int(rng.integers(size[d]))
        add("slice %d of unstack %d" % (i, d),
            lambda: q.MultiImageView_frame(q.MultiImageViewFactory_unstack_dimension_index(v, d), i),
            lambda a: a[(slice(None),) * (n - 1 - d) + (i,)])
        add("stack of unstack %d" % d,
            lambda: q.ImageViewFactory_stack(q.MultiImageViewFactory_unstack_dimension_index(v, d)),
            lambda a: np.moveaxis(a, n - 1 - d, 0))
    add("stack of two", lambda: q.ImageViewFactory_stack(q.MultiImageViewFactory_create_from_list([v, v])),
        lambda a: np.stack([a, a]))
    add("make_thread_safe", lambda: q.ImageViewFactory_make_thread_safe(v), lambda a: a, forwards=link.forwards)
    add("from_image_view", lambda: q.ImageViewFactory_from_image_view(v, None, None), lambda a: a,
        forwards=link.forwards)
    named_as = sorted(int(d) for d in rng.choice(5, n, replace=False)) if n <= 5 and rng.integers(2) else []
    add("reinterpret %s" % named_as, lambda: q.ImageViewFactory_reinterpret(v, image_type(named_as)), lambda a: a,
        forwards=link.forwards)
    if named and channel is None:
        where = sorted(named + [q.ImageDimension_CHANNEL]).index(q.ImageDimension_CHANNEL)
        add("stack of two as channels",
            lambda: q.ImageViewFactory_stack(q.MultiImageViewFactory_create_from_list([v, v]),
                                             q.ImageDimension_CHANNEL),
            lambda a: np.stack([a, a], axis=n - where))
    dtype = q.ImageView_get_data_type(v)
    components = q.DataType_get_element_count(dtype)
    if components > 1 and part is None:  # packed by bits: no view takes the components apart
        refused = [lambda: q.ImageViewFactory_extract_channel(v, 0), lambda: q.MultiImageViewFactory_deinterlace(v)]
        if channel is None:
            refused.append(lambda: q.ImageViewFactory_disassemble_channels(v))
        for make in refused:
            with pytest.raises(Error, match="do not take whole bytes each"):
                make()
    if components > 1 and part is not None:
        k = int(rng.integers(components))
        add("extract_channel %d" % k, lambda: q.ImageViewFactory_extract_channel(v, k),
            lambda a: a[..., k * part:(k + 1) * part], unit=part)
        if channel is None:  # frames along a CHANNEL axis are not interlaced
            add("interlace of deinterlace",
                lambda: q.ImageViewFactory_interlace(q.MultiImageViewFactory_deinterlace(v)), lambda a: a)
            where = n if named is None else sorted(named + [q.ImageDimension_CHANNEL]).index(q.ImageDimension_CHANNEL)
            add("disassemble_channels", lambda: q.ImageViewFactory_disassemble_channels(v),
                lambda a: np.moveaxis(a.reshape(a.shape[:-1] + (components, part)), -2, n - where), unit=part)
    whole_bytes = q.DataType_get_bit_depth(dtype) % 8 == 0
    if components == 1 and not whole_bytes and channel is None:  # 12 bits: two of them take 3 bytes, not 2 x 2
        with pytest.raises(Error, match="do not take whole bytes each"):
            q.ImageViewFactory_interlace(q.MultiImageViewFactory_create_from_list([v, v]))
    if components == 1 and whole_bytes and channel is None:
        # frames as the components of a sample with a meaning drawn at random:
        # one it cannot have is refused
        k = int(rng.integers(1, 5))
        meaning, alpha = INTERPRETATIONS[int(rng.integers(len(INTERPRETATIONS)))], bool(rng.integers(2))
        frames = q.MultiImageViewFactory_create_from_list([v] * k)
        wanted = q.ImageInfoProperty_channel_count(meaning)
        if wanted and wanted + alpha != k:
            with pytest.raises(Error, match="takes %d components, not the %d frames" % (wanted + alpha, k)):
                q.ImageViewFactory_interlace(frames, meaning, alpha)
        else:
            add("interlace of %d as %d" % (k, meaning), lambda: q.ImageViewFactory_interlace(frames, meaning, alpha),
                lambda a: np.concatenate([a] * k, axis=-1), unit=k * unit, part=unit)
    if components == 1 and n > 1 and whole_bytes:
        c = channel if channel is not None else n - 1
        if size[c] <= 8:
            add("assemble_channels", lambda: q.ImageViewFactory_assemble_channels(v),
                lambda a: np.moveaxis(a, n - 1 - c, -2).reshape(np.delete(a.shape, n - 1 - c)[:-1].tolist() +
                                                                    [size[c] * unit]),
                unit=size[c] * unit, part=unit)
    return out


def box_in(rng, size):
    """A random region, along each axis whole, its last sample or a random
    part; one time in five empty along one axis, anywhere up to its end."""
    lo, ext = [], []
    for s in size:
        o = [0, s - 1, int(rng.integers(s))][int(rng.integers(3))]
        lo.append(o)
        ext.append(s if o == 0 and rng.integers(2) else int(rng.integers(1, s - o + 1)))
    if rng.integers(5) == 0:
        d = int(rng.integers(len(size)))
        lo[d], ext[d] = int(rng.integers(size[d] + 1)), 0
    return lo, ext


def check_transfers(rng, link, base, truth):
    """Reads and writes through the link in random regions against the model."""
    size = shape(link.view)
    writable = q.ImageView_support(link.view, q.ImageCapability_WRITE)
    for _ in range(3):
        lo, ext = box_in(rng, size)
        count = int(np.prod(ext)) * link.unit
        box = tuple(slice(o, o + e) for o, e in zip(reversed(lo), reversed(ext)))
        guarded = bytearray(b"\xa5" * (count + 16))
        q.ImageView___read_region(link.view, region(lo, ext), memoryview(guarded)[:count])
        expected = link.model(truth)[box]
        assert guarded[count:] == b"\xa5" * 16
        assert bytes(guarded[:count]) == np.ascontiguousarray(expected).tobytes()
        values = rng.integers(0, 256, count, dtype=np.uint8)
        if writable and not np.shares_memory(link.model(truth), truth):
            continue  # samples shown twice (a stack of one view twice): no model of a write
        if writable:
            q.ImageView___write_region(link.view, region(lo, ext), values.tobytes())
            link.model(truth)[box] = values.reshape(expected.shape)
        else:
            with pytest.raises(Error):
                q.ImageView___write_region(link.view, region(lo, ext), values.tobytes())
    whole = bytearray(truth.size)
    q.ImageView___read_region(base, region([0] * len(shape(base)), shape(base)), whole)
    assert bytes(whole) == truth.tobytes()


def grow(rng, chain):
    """Adds a random derivation of the chain's last view to the chain, its
    model composed with those below; returns the new link."""
    options = derivations(rng, chain[-1])
    name, make = options[int(rng.integers(len(options)))]
    below = chain[-1].model
    link = make()
    link.model = (lambda outer, inner: lambda a: outer(inner(a)))(link.model, below)
    link.name = name
    chain.append(link)
    return link
