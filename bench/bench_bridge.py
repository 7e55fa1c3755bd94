"""The numpy bridge per call against np.frombuffer over the same memory, at
1 KiB, 1 MiB and 1 GiB (np.zeros maps its pages lazily, so the largest array
costs address space only): an array made into a view three ways, and a view
made into an array. The cost must not depend on the size. Run with
/usr/bin/python3."""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from timing import compare, section  # noqa: E402
from proxy import cls, q  # noqa: E402

NUMBER = 20_000
SIZES = ((1 << 10, "1 KiB"), (1 << 20, "1 MiB"), (1 << 30, "1 GiB"))
ROW, COLUMN = q.ImageDimension_ROW, q.ImageDimension_COLUMN


def image_type(*dims):
    t = cls("ImageType")()
    for d in dims:
        q.ImageType_add(t, d)
    return t


def main():
    image = image_type(COLUMN, ROW)
    order = [ROW, COLUMN]
    section("numpy bridge per call, against np.frombuffer of the same memory and shape")
    for size, name in SIZES:
        a = np.zeros((size // 1024, 1024), dtype=np.uint8)
        shape = a.shape

        def anchor(a=a, shape=shape):
            np.frombuffer(a, np.uint8).reshape(shape)

        f, o = q.NumpyInterop__from_numpy_array, q.NumpyInterop__order_from_numpy_array
        b, t = q.ImageViewFactory___from_buffer, q.NumpyInterop_to_numpy_array
        dims, u8 = [1024, size // 1024], q.DataTypeId_UINT8
        view = f(a, image, 0, False)
        compare(f"NumpyInterop__from_numpy_array, {name}", lambda: f(a, image, 0, False), "np.frombuffer",
                anchor, number=NUMBER)
        compare(f"NumpyInterop__order_from_numpy_array, {name}", lambda: o(a, order, 0, False), "np.frombuffer",
                anchor, number=NUMBER)
        compare(f"ImageViewFactory___from_buffer, {name}", lambda: b(dims, u8, a, None, None), "np.frombuffer",
                anchor, number=NUMBER)
        compare(f"NumpyInterop_to_numpy_array, {name}", lambda: t(view), "np.frombuffer", anchor, number=NUMBER)
        del view, a


if __name__ == "__main__":
    main()
