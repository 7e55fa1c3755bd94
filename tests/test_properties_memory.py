"""Memory stays flat over repeated calls of the property and metadata
functions, failing ones included (the sanitizer run checks leaks instead:
its quarantine keeps freed memory in the resident set)."""
import os

import pytest

import proxy
from helpers import assert_memory_flat, attempt
from proxy import q

pytestmark = pytest.mark.skipif("ASAN_OPTIONS" in os.environ, reason="resident size is not meaningful under ASan")


def batch():
    p = q.ImageProperties_from_data_type(65800)
    cal = q.ImageProperties_get_calibration(p)
    q.SpatialCalibrationProperty_set_unit(cal, "mm")
    ro = proxy.cls("ReadonlyImageProperties")(p)
    q.ReadonlySpatialCalibrationProperty_get_origin(q.ReadonlyImageProperties_get_calibration(ro))
    attempt(q.new_ImageInfoProperty)
    attempt(q.ImageProperties_set_calibration, p, 5)
    attempt(q.ImageProperties_from_properties, None, cal)
    attempt(proxy.cls("SpatialCalibrationProperty"), [1, "x", 3])
    v = q.VariantDataValueFactory_create(["a", "b", "c"])
    q.VariantDataValue___getitem(v, 2)
    q.VariantDataValue_raw(v)
    attempt(q.VariantDataValueFactory_create, [1, "a"])
    attempt(q.VariantDataValueFactory_create, ["a", "b"], 5)
    attempt(q.VariantDataValue___getitem, v, 9)
    root = proxy.cls("MetadataNode")("r", v)
    q.MetadataNodeHelper_create_path(root, "a/b/c", v)
    attempt(q.MetadataNode_child, root, "missing")
    attempt(q.MetadataNode_add_child, q.MetadataNodeHelper_get_node(root, "a/b"), root)
    it = q.MetadataNode___begin(root)
    q.MetadataNodeIterator_next(it)
    attempt(q.MetadataNodeIterator_value, it)
    rn = proxy.cls("ReadonlyMetadataNode")(root)
    attempt(q.ReadonlyMetadataNode_child, rn, "zz")
    q.ReadonlyMetadataNode_to_string(rn)


def test_memory_stays_flat():
    assert_memory_flat(batch)
