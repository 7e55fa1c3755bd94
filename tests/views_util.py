"""Helpers of the image view tests."""
import re

import numpy as np

from proxy import cls, q

D = {"COLUMN": q.ImageDimension_COLUMN, "ROW": q.ImageDimension_ROW, "SLICE": q.ImageDimension_SLICE,
     "CHANNEL": q.ImageDimension_CHANNEL, "SEQUENCE": q.ImageDimension_SEQUENCE}

# numpy type, DataType identifier
TYPES = [(np.int8, q.DataTypeId_INT8), (np.uint8, q.DataTypeId_UINT8), (np.int16, q.DataTypeId_INT16),
         (np.uint16, q.DataTypeId_UINT16), (np.int32, q.DataTypeId_INT32), (np.uint32, q.DataTypeId_UINT32),
         (np.int64, q.DataTypeId_INT64), (np.uint64, q.DataTypeId_UINT64), (np.float32, q.DataTypeId_FLOAT),
         (np.float64, q.DataTypeId_DOUBLE)]


def exact(text):
    return "^" + re.escape(text) + "$"


def vec(v):
    return [v.at(i) for i in range(v.size())]


def image_type(*names):
    t = cls("ImageType")()
    for n in names:
        q.ImageType_add(t, D[n])
    return t


def region(origin, size):
    return cls("RegionXu64")(list(origin), list(size))


def from_numpy(a, *names, interpretation=None, alpha=False):
    """A view over `a` whose numpy axes are the given dimensions (numpy order)."""
    if interpretation is None:
        interpretation = q.ImageInterpretation_UNKNOWN
    return q.NumpyInterop__order_from_numpy_array(a, [D[n] for n in names], interpretation, alpha)


def read_region(view, origin, size, dtype):
    """The region's samples as numpy reads them: (size[-1], ..., size[0]) in C order."""
    out = bytearray(int(np.prod(size)) * np.dtype(dtype).itemsize)
    q.ImageView___read_region(view, region(origin, size), out)
    return np.frombuffer(out, dtype=dtype).reshape(tuple(reversed(size)))
