"""The module's method table as a whole: its size, calling forms, docstrings,
class hooks and the grouping of functions class by class."""
import sys
import types
from collections import Counter

import pytest

import proxy
from proxy import q

sys.path.insert(0, proxy.BUILD_DIR)
import _quelbo_twin as twin  # noqa: E402

FUNCTIONS = [n for n, v in vars(q).items() if isinstance(v, types.BuiltinFunctionType)]  # in table order

ELEMENTS = "u8 i8 u16 i16 u32 i32 u64 i64 f d".split()
CLASSES = (
    """DependencyGraph Serialization MultiImageViewProvider MultiImageViewFactory ImageViewFactory NumpyInterop
    Writer DataFrameViewFactory DataFrameViewProvider DataFrameCapabilitySet DataFrameView LodImageViewProvider
    LodImageView MultiImageCapabilitySet MultiImageView ImageCapabilitySet ImageViewProvider ImageView View
    ExtensionProvider ColumnUnitExtension ViewOriginExtension ParallelAccessCapabilitySet ParallelAccessExtension
    TilingInfoExtension Extension Indexer RandomAccessFactory RandomAccessProvider StreamAccessFactory
    StreamAccessProvider HTTPHeaders RandomAccessCapabilitySet RandomAccess StreamAccessCapabilitySet StreamAccess
    DataAccess DataStorage MetadataNodeHelper ReadonlyMetadataNode MetadataNodeFactory MetadataNode
    ConstMetadataNodeIterator MetadataNodeIterator VariantDataValueFactory VariantDataValue ReadonlyImageProperties
    ReadonlyImageInfoProperty ReadonlySpatialCalibrationProperty ImageProperties ImageInfoProperty
    SpatialCalibrationProperty SpatialDirections ImageTypeId ImageType UidGenerator Uri DataType RegionXu64
    Region4u64 Region3u64 Region2u64 TransformMatrix4Factory TransformMatrix3Factory Matrix4d Matrix4f Matrix3d
    Matrix3f NotImplemented InvalidArgument Error Versioning VersionInfo Logger""".split()
    + ["ArrayX" + e for e in ELEMENTS]
    + ["Vector%s%s" % (n, e) for n in "X234" for e in ELEMENTS]
)


def form(name):
    """The calling form, from how the interpreter refuses twenty arguments."""
    try:
        getattr(q, name)(*[None] * 20)
    except TypeError as e:
        if "takes no arguments" in str(e):
            return "none"
        if "takes exactly one argument" in str(e):
            return "object"
    return "tuple"  # the function's own count check (operators answer NotImplemented)


FORMS = {n: form(n) for n in FUNCTIONS}


def owner(name):
    """The registered class a flat function belongs to (the longest matching class name)."""
    found = [c for c in CLASSES + ["SwigPyIterator"]
             if name in ("new_" + c, "delete_" + c) or name.startswith(c + "_")]
    return max(found, key=len, default=None)


def test_registered_classes_and_their_hooks():
    assert len(set(CLASSES)) == 124
    hooks = {n[: -len("_swigregister")] for n in FUNCTIONS if n.endswith("_swigregister")}
    assert hooks == set(CLASSES) | {"SwigPyIterator"}
    for name in FUNCTIONS:  # every function belongs to a class, the five free operators aside
        assert owner(name) or name in ("__or__", "__and__", "__xor__", "__lshift__", "__mul__"), name
    for name in FUNCTIONS:
        if name.endswith("_swiginit"):
            assert FORMS[name] == "tuple" and name[: -len("init")] + "register" in FUNCTIONS
        elif name.endswith("_swigregister") or name.startswith("delete_"):
            assert FORMS[name] == "object", name
    assert Counter(owner(n) for n in FUNCTIONS)["SwigPyIterator"] == 18


def test_calling_forms_by_behaviour():
    for name in ("Logger_log_level", "new_Logger", "Versioning_version", "UidGenerator_generate",
                 "Matrix3f_identity", "new_DataFrameViewFactory"):
        assert FORMS[name] == "none"
    with pytest.raises(TypeError, match=r"^Vector2u8_set_at expected 3 arguments, got 1$"):
        q.Vector2u8_set_at(None)
    assert len(FUNCTIONS) == 2269
    assert Counter(FORMS.values()) == {"tuple": 1332, "object": 903, "none": 34}
    assert sum(1 for n in FUNCTIONS if getattr(q, n).__doc__) <= 899


def test_docstring_total():
    # 899 in the interface the proxy classes were written for; 65 of them have no known text (README)
    assert sum(1 for n in FUNCTIONS if getattr(q, n).__doc__) == 834


def doc(name):
    return getattr(q, name).__doc__ or ""


def test_docstrings_state_what_the_functions_raise_and_need():
    derived = """make_thread_safe flip_dimension_index flip_dimension sub_sample reinterpret_axes reinterpret
    disassemble_channels assemble_channels extract_adjusted_region extract_region extract_channel adapt_data_type
    from_image_view interlace stack adapt_dynamic_range""".split()
    for name in derived:
        assert "InvalidArgument if the image view is empty" in doc("ImageViewFactory_" + name) or \
            "InvalidArgument if the multi-image view is empty" in doc("ImageViewFactory_" + name), name
    for name in ("open_stream_access", "open_random_access"):
        assert ":raises: Error if the storage cannot reach the resource" in doc("DataStorage_" + name)
    for name, capability in (("StreamAccess___read", "READ"), ("StreamAccess_peek", "READ"),
                             ("StreamAccess_write", "WRITE"), ("StreamAccess_flush", "WRITE"),
                             ("StreamAccess_tell", "SEEK"), ("StreamAccess_seek", "SEEK"),
                             ("RandomAccess___read", "READ"), ("RandomAccess_write", "WRITE"),
                             ("RandomAccess_resize", "RESIZE")):
        assert "Needs the %s capability." % capability in doc(name), name
    assert ":raises: Error at the end of the stream." in doc("StreamAccess_peek")
    assert "Error if it has invalid properties" in doc("MultiImageViewFactory_deinterlace")
    factories = ["StreamAccessFactory_" + n for n in
                 "open_file_read open_file_write open_file open_uri_write open_http_write from_random_access".split()]
    factories += ["RandomAccessFactory_" + n for n in
                  "copy_in_memory map_file open_uri_read open_http_read extract_region from_stream".split()]
    factories += ["ArrayX%s_from_numpy" % e for e in ELEMENTS]
    assert [n for n in factories if not doc(n)] == []
    assert "range requests" in doc("RandomAccessFactory_open_http_read")
    assert "copying its elements" in doc("ArrayXd_from_numpy") and "double." in doc("ArrayXd_from_numpy")


def test_functions_stand_class_by_class():
    """A class's functions form one block that its registration hook (and its
    attachment hook) closes; the vector operators stand after their class."""
    place = {n: i for i, n in enumerate(FUNCTIONS)}
    for cls in set(CLASSES) | {"SwigPyIterator"}:
        hook = cls + "_swigregister"
        if hook not in place:
            continue
        mine = [n for n in FUNCTIONS if owner(n) == cls and not (cls.startswith("Vector") and n.endswith("__"))]
        block = FUNCTIONS[min(place[n] for n in mine): max(place[n] for n in mine) + 1]
        assert all(owner(n) == cls for n in block if n != "__mul__"), cls
        assert block[-1] in (hook, cls + "_swiginit"), cls
    assert FUNCTIONS[place["__mul__"] - 1] == "VectorXd___sub__"  # the free scalar product among VectorXd's


@pytest.mark.parametrize("registered, listed, fault", [
    (["a", "x", "b"], ["a", "b"], "the table order lacks the registered function 'x'"),
    (["a"], ["a", "b"], "'b' is listed in the table order but not registered"),
    (["a", "b", "a"], ["a", "b"], "'a' is registered twice"),
    (["a", "b"], ["a", "b", "a"], "'a' is listed twice in the table order"),
])
def test_a_table_that_its_order_does_not_list_exactly_is_refused(registered, listed, fault):
    """The runtime puts a module's table in its list's order (the names as the
    families added them, the list): what the list and the families disagree
    on stops the module with the name at fault."""
    assert twin.sort_table(["c", "a", "b"], ["a", "b", "c"]) == ["a", "b", "c"]
    with pytest.raises(ImportError) as e:
        twin.sort_table(registered, listed)
    assert str(e.value) == fault
