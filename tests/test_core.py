"""Start-up, handles, registration, calling conventions and the core classes."""
import os
import re
import subprocess
import sys
import textwrap

import pytest

import proxy
from helpers import run_child  # noqa: F401 (also imported from here)
from proxy import q, cls, QuelboError

TESTS = os.path.dirname(os.path.abspath(__file__))


# ------------------------------------------------------------------ start-up

def test_constants_are_installed_with_their_values():
    names = [n for n in dir(q) if isinstance(getattr(q, n), int) and not n.startswith("_")]
    assert len(names) == 151
    assert q.SHARED_PTR_DISOWN == 0
    assert q.DataTypeId_COMPLEX_FLOAT == 4295164448
    assert q.DataTypeId_SYM_MATRIX3_DOUBLE == 12885100096
    assert q.TilingInfoExtension_INVALID_TILE_INDEX == 4294967295
    assert q.ImageInterpretation_MULTISPECTRAL == 255
    assert q.CommonAncestorStatus_UNDETERMINED == 2
    # every data type id follows its fields
    fields = {"UINT": (1, None), "INT": (2, None), "FLOAT": (3, 32), "DOUBLE": (3, 64)}
    for name in (n for n in names if n.startswith("DataTypeId_VEC")):
        count = int(name[len("DataTypeId_VEC")])
        kind = name.split("_", 2)[2]
        value = getattr(q, name)
        assert (value >> 8) & 0xFF == count, name
        assert (value >> 16) & 0xFFFF == fields[kind.rstrip("0123456789")][0], name


def test_cvar_representation_and_refusals():
    cvar = q.cvar
    assert repr(cvar) == "<Swig global variables>"
    assert str(cvar) == (
        "(ImageTypeId_MULTISPECTRAL_VOLUME_SEQUENCE, ImageTypeId_MULTISPECTRAL_IMAGE_SEQUENCE, "
        "ImageTypeId_VOLUME_SEQUENCE, ImageTypeId_IMAGE_SEQUENCE, ImageTypeId_MULTISPECTRAL_VOLUME, "
        "ImageTypeId_MULTISPECTRAL_IMAGE, ImageTypeId_VOLUME, ImageTypeId_IMAGE, ImageTypeId_UNKNOWN, "
        "UidGenerator_UNDEFINED_UID, QUELBO_VERSION_STRING, QUELBO_VERSION)"
    )
    assert cvar.QUELBO_VERSION_STRING == "0.0.0"
    assert isinstance(cvar.UidGenerator_UNDEFINED_UID, int)
    with pytest.raises(AttributeError, match=r"^Variable ImageTypeId_IMAGE is read-only\.$"):
        cvar.ImageTypeId_IMAGE = 1
    with pytest.raises(AttributeError, match=r"^Variable QUELBO_VERSION is read-only\.$"):
        del cvar.QUELBO_VERSION
    with pytest.raises(AttributeError, match=r"^Unknown C global variable 'foo'$"):
        cvar.foo


def test_module_version_is_borrowed_and_cannot_be_changed():
    v = q.cvar.QUELBO_VERSION
    assert isinstance(v, cls("VersionInfo"))
    assert (v.major_get(), v.minor_get(), v.patch_get()) == (0, 0, 0)
    assert v.this.own() is False
    with pytest.raises(TypeError, match=r"argument 1 of type 'quelbo::VersionInfo \*'"):
        q.VersionInfo_major_set(v, 7)
    # Claiming ownership of the constant and deleting it frees nothing.
    v.this.acquire()
    q.delete_VersionInfo(v)
    assert q.VersionInfo_major_get(q.cvar.QUELBO_VERSION) == 0
    a, b = q.cvar.ImageTypeId_VOLUME, q.cvar.ImageTypeId_VOLUME
    assert a is not b and int(proxy.handle(a)) == int(proxy.handle(b))


def test_missing_numpy_fails_the_import():
    r = run_child(
        """
        sys.modules["numpy.core._multiarray_umath"] = None
        try:
            import proxy
        except ImportError as e:
            print("IMPORT:", e)
        """
    )
    assert "IMPORT: numpy.core.multiarray failed to import" in r.stdout
    assert "numpy.core._multiarray_umath" in r.stderr


# ------------------------------------------------------------------- handles

def test_handle_methods_and_representation():
    h = q.new_VersionInfo()
    assert re.fullmatch(r"<Swig Object of type 'quelbo::VersionInfo \*' at 0x[0-9a-f]+>", repr(h))
    assert h.own() is True
    h.disown()
    assert h.own() is False
    assert h.own(True) is False and h.own() is True
    g = q.new_Logger()
    h.append(g)
    assert h.next() == g and g.next() is None
    assert repr(h).endswith(repr(g))
    with pytest.raises(TypeError, match="^Attempt to append a non SwigPyObject$"):
        h.append(5)
    with pytest.raises(ValueError):
        g.append(h)  # would close a cycle
    assert int(h) != 0 and (h == g) is False and (h != g) is True
    with pytest.raises(TypeError):
        hash(h)


def test_registration_hooks_unpack_like_functions():
    with pytest.raises(TypeError, match="^swigregister expected 1 arguments, got 2$"):
        q.Logger_swigregister((1, 2))
    with pytest.raises(TypeError, match="^swiginit expected 2 arguments, got 1$"):
        q.Logger_swiginit(1)
    q.Logger_swigregister((cls("Logger"),))
    assert isinstance(cls("Logger")(), cls("Logger"))


def test_results_come_back_as_registered_class_without_init():
    v = q.Versioning_version()
    assert type(v) is cls("VersionInfo")
    assert v.this.own() is True


def test_leak_message_for_owning_handle_without_destructor():
    r = run_child(
        """
        import proxy
        q = proxy.q
        class Bare: pass
        q.Versioning_swigregister(Bare)
        h = q.new_Versioning()
        del h
        print("done")
        """,
        leaks_expected=True,
    )
    assert r.returncode == 0
    assert "swig/python detected a memory leak of type 'quelbo::Versioning *', no destructor found.\n" in r.stdout


def test_delete_destroys_only_what_the_handle_owns():
    v = cls("VersionInfo")()
    q.VersionInfo_major_set(v, 3)
    assert q.delete_VersionInfo(v) is None
    assert v.this.own() is False
    # the deleted object is never reached again
    with pytest.raises(ValueError, match="invalid null reference in method 'VersionInfo_major_get'"):
        q.VersionInfo_major_get(v)
    assert q.delete_VersionInfo(v) is None
    assert q.delete_VersionInfo(None) is None
    with pytest.raises(TypeError, match=r"^in method 'delete_VersionInfo', argument 1 of type 'quelbo::VersionInfo \*'$"):
        q.delete_VersionInfo(q.new_Logger())


# -------------------------------------------------------- calling conventions

@pytest.mark.parametrize(
    "value, exc",
    [(2**31, OverflowError), (-(2**31) - 1, OverflowError), (2.0, TypeError), ("1", TypeError), (None, TypeError)],
)
def test_enum_argument_range_and_kind(value, exc):
    with pytest.raises(exc, match=r"^in method 'Logger_init', argument 1 of type 'quelbo::LogLevel'$"):
        q.Logger_init(value)


def test_int_field_setter_messages():
    v = cls("VersionInfo")()
    q.VersionInfo_minor_set(v, -1)
    assert q.VersionInfo_minor_get(v) == -1
    with pytest.raises(OverflowError, match=r"^in method 'VersionInfo_minor_set', argument 2 of type 'int'$"):
        q.VersionInfo_minor_set(v, 2**31)
    assert q.VersionInfo_minor_get(v) == -1
    q.VersionInfo_minor_set(v, True)
    assert q.VersionInfo_minor_get(v) == 1
    assert q.VersionInfo_minor_set(None, 5) is None
    with pytest.raises(TypeError, match=r"^VersionInfo_minor_set expected 2 arguments, got 1$"):
        q.VersionInfo_minor_set(v)
    with pytest.raises(TypeError, match=r"argument 1 of type 'quelbo::VersionInfo \*'$"):
        q.VersionInfo_patch_get(q.new_Logger())


def test_overload_message_and_null_reference():
    protos = (
        "Wrong number or type of arguments for overloaded function 'Versioning_check_compatibility'.\n"
        "  Possible C/C++ prototypes are:\n"
        "    quelbo::Versioning::checkCompatibility(quelbo::VersionInfo const &)\n"
        "    quelbo::Versioning::checkCompatibility()\n"
    )
    with pytest.raises(TypeError) as e:
        q.Versioning_check_compatibility(1)
    assert str(e.value) == protos
    with pytest.raises(TypeError) as e:
        q.Versioning_check_compatibility(1, 2)
    assert str(e.value) == "Versioning_check_compatibility expected at most 1 arguments, got 2\nAdditional information:\n" + protos
    with pytest.raises(TypeError):
        q.Versioning_check_compatibility(None)
    moved = cls("VersionInfo")()
    q.delete_VersionInfo(moved)
    with pytest.raises(ValueError) as e:
        q.Versioning_check_compatibility(moved)
    assert str(e.value) == (
        "invalid null reference in method 'Versioning_check_compatibility', argument 1 of type "
        "'quelbo::VersionInfo const &'"
    )
    assert q.Versioning_check_compatibility(q.Versioning_version()) is True


def test_no_argument_functions_refuse_arguments():
    with pytest.raises(TypeError):
        q.Logger_log_level(1)
    assert isinstance(q.Logger_log_level(), int)


def test_iterator_members_read_their_object_in_either_form():
    it = "swig::SwigPyIterator *"
    # members without operand take the object alone, or inside a tuple of one or two
    for args, message in [((), "SwigPyIterator_value expected at least 1 arguments, got 0"),
                          ((1, 2, 3), "SwigPyIterator_value expected at most 2 arguments, got 3"),
                          ((5, 6), f"in method 'SwigPyIterator_value', argument 1 of type '{it}'")]:
        with pytest.raises(TypeError) as e:
            q.SwigPyIterator_value(args)
        assert str(e.value) == message
    # members with an operand take it or leave it out; a tuple is not opened
    for args, message in [((), "SwigPyIterator_incr expected at least 1 arguments, got 0"),
                          ((1, 2, 3), "SwigPyIterator_incr expected at most 2 arguments, got 3"),
                          (((5,),), f"in method 'SwigPyIterator_incr', argument 1 of type '{it}'"),
                          ((5, 1), f"in method 'SwigPyIterator_incr', argument 1 of type '{it}'")]:
        with pytest.raises(TypeError) as e:
            q.SwigPyIterator_incr(*args)
        assert str(e.value) == message


def test_uids_are_unsigned_and_never_undefined():
    uids = {q.UidGenerator_generate() for _ in range(200)}
    assert all(0 <= u < 2**64 for u in uids)
    assert q.cvar.UidGenerator_UNDEFINED_UID not in uids
    assert any(u >= 2**63 for u in uids)


# -------------------------------------------------------------------- errors

def test_error_classes_copy_and_messages():
    ia = q.new_InvalidArgument("bad thing \u00e9")
    e = q.new_Error(ia)
    assert "quelbo::Error *" in repr(e)
    assert q.Error___str__(e) == "bad thing \u00e9"
    with pytest.raises(TypeError, match=r"overloaded function 'new_Error'"):
        q.new_Error("lone \udcff")  # not encodable: no candidate takes it
    assert q.Error___str__(q.new_Error("")) == ""
    with pytest.raises(ValueError, match=r"^invalid null reference in method 'new_Error', argument 1 of type 'std::string const &'$"):
        q.new_Error(None)
    with pytest.raises(ValueError, match=r"^invalid null reference in method 'new_InvalidArgument', argument 1 of type 'std::string const &'$"):
        q.new_InvalidArgument(None)
    with pytest.raises(TypeError, match=r"^in method 'new_NotImplemented', argument 1 of type 'std::string const &'$"):
        q.new_NotImplemented(b"bytes")
    with pytest.raises(TypeError, match=r"overloaded function 'new_Error'"):
        q.new_Error()
    # the deleting destructor goes through the base class
    assert q.delete_Error(ia) is None


def test_error_proxy_is_the_registered_exception():
    with pytest.raises(QuelboError) as e:
        raise QuelboError("boom")
    assert str(e.value) == "boom"


def test_library_errors_arrive_as_the_registered_class():
    empty = cls("ImageType")()
    with pytest.raises(QuelboError) as e:
        q.ImageType__dimension(empty, 0)
    assert type(e.value) is QuelboError
    assert q.Error___str__(e.value) == str(e.value) != ""
    # before any class is registered for Error the value is a bare handle
    r = run_child(
        """
        import os
        sys.path.insert(0, os.environ["QUELBO_BUILD_DIR"])
        import _quelbo as q
        try:
            q.ImageType__dimension(q.new_ImageType(), 3)
        except RuntimeError as e:
            h = e.args[0]
            print(type(h).__name__, q.Error___str__(h) != "")
        """,
        leaks_expected=True,  # no class registered: no destructor either
    )
    assert "SwigPyObject True" in r.stdout.splitlines(), r.stderr


def test_type_table_is_shared_through_the_capsule():
    holder = sys.modules["swig_runtime_data4"]
    capsule = holder.type_pointer_capsule
    assert type(capsule).__name__ == "PyCapsule"
    assert "swig_runtime_data4.type_pointer_capsule" in repr(capsule)


def test_objects_whose_this_is_not_a_kept_handle_are_refused():
    class Fresh:
        @property
        def this(self):
            return q.new_VersionInfo()  # a new handle on every lookup

    class Deep:
        @property
        def this(self):
            return Deep()

    for obj in (Fresh(), Deep()):
        with pytest.raises(TypeError, match=r"argument 1 of type 'quelbo::VersionInfo \*'"):
            q.VersionInfo_major_get(obj)


def test_object_deleted_by_a_sequence_during_conversion_stays_valid_for_the_call():
    v = cls("Vector3d")([1.0, 2.0, 3.0])
    w = cls("Vector3d")([4.0, 5.0, 6.0])

    class Evil:
        def __len__(self):
            return 3

        def __getitem__(self, i):
            if i >= 3:
                raise IndexError(i)
            if i == 0:
                q.delete_Vector3d(v)  # drops the object being dotted
                q.new_Vector3d(w)     # moves another one away
            return 1.0

    assert q.Vector3d_dot(v, Evil()) == 6.0
    with pytest.raises(ValueError, match="invalid null reference"):
        q.Vector3d_dot(v, [1, 0, 0])
    assert w.this.own() is False
