"""A short tour of the module: an image file of a folder storage read into a
view, a region as numpy without a copy, written back, and how the library
reports an error. The classes come from a proxy layer; this example uses the
small one of the tests (tests/proxy.py)."""
import os
import shutil
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import proxy  # noqa: E402  (finds the build through QUELBO_BUILD_DIR, else build/quelbo)

q = proxy.q
print("library:", q.Versioning_version_string())

folder = tempfile.mkdtemp(prefix="quelbo-example-")
rows, cols = 384, 512
y, x = np.mgrid[0:rows, 0:cols]
scan = (30000 + 20000 * np.sin(x / 40.0) * np.cos(y / 30.0)).astype(np.uint16)
with open(os.path.join(folder, "scan.raw"), "wb") as f:  # a 16-bit grey-level scan, as a scanner writes it
    f.write(scan.tobytes())

# The folder as a storage, the file as a random-access store of it.
storage = q.DataAccess_get_storage(q.StreamAccessFactory_open_file_read(os.path.join(folder, "scan.raw")))
store = q.DataStorage_open_random_access(storage, "scan.raw", q.AccessCapabilities_READ_WRITE)
print("store:", q.DataStorage_get_source(storage) + "scan.raw,", q.RandomAccess_get_size(store), "bytes")

# The file's bytes go straight into the array's memory; the view shows that memory.
pixels = np.empty((rows, cols), dtype=np.uint16)
q.RandomAccess___read(store, 0, pixels)
image = proxy.cls("ImageType")()
q.ImageType_add(image, q.ImageDimension_COLUMN)
q.ImageType_add(image, q.ImageDimension_ROW)
view = q.NumpyInterop__from_numpy_array(pixels, image, q.ImageInterpretation_GRAYSCALE, False)
print("view:", q.ImageView_to_string(view))

# A region as numpy sees it, without a copy: the array is the view's own memory.
whole = q.NumpyInterop_to_numpy_array(view)
roi = whole[64:192, 128:384]
print("region", roi.shape, "shares the file's pixels:", np.shares_memory(roi, pixels), "mean %.1f" % roi.mean())

# The same region read and written through the view (column, row order), then the result back to the file.
box = proxy.cls("RegionXu64")([128, 64], [256, 128])
inside = np.empty((128, 256), dtype=np.uint16)
q.ImageView___read_region(view, box, inside)
print("read through the view equals numpy's region:", bool((inside == roi).all()))
q.ImageView___write_region(view, box, 65535 - inside)
q.RandomAccess_write(store, 0, whole)
check = np.fromfile(os.path.join(folder, "scan.raw"), dtype=np.uint16).reshape(rows, cols)
print("inverted region written back:", bool((check[64:192, 128:384] == 65535 - scan[64:192, 128:384]).all()),
      "rest untouched:", bool((check[:64] == scan[:64]).all()))

# The library's errors arrive as the exception class the proxy layer registered for Error.
try:
    q.DataStorage_open_random_access(storage, "missing.raw", q.AccessCapabilities_READ_ONLY)
except proxy.QuelboError as e:
    print("opening a file the folder does not hold is refused:", e)

del store, storage
shutil.rmtree(folder)
