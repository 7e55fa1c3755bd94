"""Helpers of the derived, multi-image and stored view tests, over those of
the image view tests."""
import numpy as np

from proxy import QuelboError as Error  # noqa: F401
from proxy import q
from views_util import D, exact, from_numpy, region  # noqa: F401

TYPES = [(np.uint8, q.DataTypeId_UINT8), (np.int16, q.DataTypeId_INT16), (np.uint32, q.DataTypeId_UINT32),
         (np.float32, q.DataTypeId_FLOAT), (np.float64, q.DataTypeId_DOUBLE)]


def view(a, *names):
    """A view over numpy array `a`, its numpy axes named in numpy order."""
    return from_numpy(a, *names)


def shape(v):
    s = q.ImageView_get_shape(v)
    return [s.at(i) for i in range(s.size())]


def read(v, dtype, components=1):
    """Every sample of a view as numpy reads it: axes reversed, components last."""
    size = shape(v)
    out = bytearray(int(np.prod(size)) * np.dtype(dtype).itemsize * components)
    q.ImageView___read_region(v, region([0] * len(size), size), out)
    full = tuple(reversed(size)) + ((components,) if components > 1 else ())
    return np.frombuffer(out, dtype=dtype).reshape(full)


def write(v, values):
    size = shape(v)
    q.ImageView___write_region(v, region([0] * len(size), size), np.ascontiguousarray(values).tobytes())


def caps(v):
    return q.ImageCapabilitySet_value(q.ImageView_get_capabilities(v))
