"""A short tour of the module through the proxy classes of the tests."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import proxy  # noqa: E402

q = proxy.q
print("module version:", q.cvar.QUELBO_VERSION_STRING)
print("library:", q.Versioning_version_string())
version = q.Versioning_version()
print("library version fields:", version.major_get(), version.minor_get(), version.patch_get())
print("compatible with 0.0.0:", q.Versioning_check_compatibility())
print("a uid:", q.UidGenerator_generate())
print("UINT8 data type id:", q.DataTypeId_UINT8)
try:
    raise proxy.QuelboError("something went wrong")
except proxy.QuelboError as e:
    print("library error text:", e)
