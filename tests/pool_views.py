"""Image views, regions and numpy arrays of odd layouts for the hostile sweep."""
import numpy as np


def objects(proxy):
    q = proxy.q
    t = proxy.cls("ImageType")()
    q.ImageType_add(t, q.ImageDimension_COLUMN)
    q.ImageType_add(t, q.ImageDimension_ROW)
    read_only = np.arange(12, dtype=np.uint16).reshape(3, 4)
    read_only.flags.writeable = False
    flipped = np.flip(np.arange(12.0).reshape(3, 4), 1)
    buf = bytearray(6)
    out = [proxy.cls("View")(),
           q.ImageViewFactory_allocate([3, 2], q.DataTypeId_UINT8),
           q.ImageViewFactory_allocate([2, 2, 2], q.DataTypeId_VEC3_FLOAT),
           q.ImageViewFactory__uniform([2, 2], q.DataTypeId_INT32, b"\1\2\3\4", None, None),
           q.ImageViewFactory___from_buffer([3, 2], q.DataTypeId_UINT8, buf, None, None),
           q.NumpyInterop__from_numpy_array(read_only, t, 0, False),
           q.NumpyInterop__from_numpy_array(flipped, t, 0, False),
           proxy.cls("NumpyInterop")(),
           proxy.cls("RegionXu64")([0, 0], [1, 1]), proxy.cls("RegionXu64")([1], [5]),
           read_only, flipped, np.zeros((2, 3, 4), order="F")[:, ::2], np.zeros((4, 4)).T, buf]
    out.append(q.NumpyInterop_to_numpy_array(out[1]))
    return out
