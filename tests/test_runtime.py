"""The runtime's own rules, tried as a hostile user would: Python code running
inside a call, ownership moved by in-place operators, handle identity,
chains, the shared table, destruction hooks and long texts."""
import gc
import operator
import random
import sys

import pytest

import proxy
from proxy import q, cls, handle
from helpers import hostile_arguments, run_child

sys.path.insert(0, proxy.BUILD_DIR)
import _quelbo_twin as twin  # noqa: E402

# Probes die through their class's destruction function, as proxies do.
ProbeClass = type("Probe", (), {"__swig_destroy__": twin.delete_Probe})
twin.Probe_swigregister(ProbeClass)


class Hook:
    """An argument whose __index__ runs `action` (and then answers 0 or raises)."""

    def __init__(self, action, fail=False):
        self.action, self.fail, self.ran = action, fail, 0

    def __index__(self):
        self.ran += 1
        self.action()
        if self.fail:
            raise RuntimeError("hook failed")
        return 0


# ------------------------------------------- Python code running inside a call

@pytest.fixture
def no_collection():
    """Counts of destroyed probes hold only this test's: garbage of earlier
    tests is collected first, and no collection runs during the test."""
    gc.collect()
    gc.disable()
    yield
    gc.enable()


@pytest.mark.usefixtures("no_collection")
def test_an_object_deleted_by_a_later_argument_lives_until_the_call_ends():
    p = twin.new_Probe()
    before = twin.Probe_destroyed()
    hook = Hook(lambda: twin.delete_Probe(p))
    assert twin.Probe_read_with(p, hook) == 0x5157 and hook.ran == 1
    assert twin.Probe_destroyed() == before + 1
    with pytest.raises(ValueError, match="invalid null reference in method 'Probe_read'"):
        twin.Probe_read(p)


@pytest.mark.usefixtures("no_collection")
def test_destruction_waits_for_a_call_of_the_other_module():
    p = twin.new_Probe()
    before = twin.Probe_destroyed()
    seen = []

    def delete_inside():
        twin.delete_Probe(p)
        seen.append(twin.Probe_destroyed())

    q.DataType_is_convertible_to(cls("DataType")(q.DataTypeId_UINT8), Hook(delete_inside))
    assert seen == [before] and twin.Probe_destroyed() == before + 1


@pytest.mark.usefixtures("no_collection")
def test_a_failing_call_destroys_what_waited_when_it_ends():
    p = twin.new_Probe()
    before = twin.Probe_destroyed()
    with pytest.raises(RuntimeError, match="hook failed"):
        twin.Probe_read_with(p, Hook(lambda: twin.delete_Probe(p), fail=True))
    assert twin.Probe_destroyed() == before + 1


@pytest.mark.usefixtures("no_collection")
def test_a_handle_dropped_inside_a_call_destroys_its_object_when_the_call_ends():
    held = [twin.new_Probe()]
    keep = twin.new_Probe()
    before = twin.Probe_destroyed()
    seen = []

    def drop():
        held.clear()  # the last reference: the owning handle dies here
        seen.append(twin.Probe_destroyed())

    assert twin.Probe_read_with(keep, Hook(drop)) == 0x5157
    assert seen == [before] and twin.Probe_destroyed() == before + 1
    # Outside any call the object goes with its handle, and the handle's
    # room serves the next handle without disturbing the others.
    del keep
    assert twin.Probe_destroyed() == before + 2
    fresh = [twin.new_Probe() for _ in range(40)]
    assert all(twin.Probe_read(p) == 0x5157 for p in fresh)
    del fresh
    assert twin.Probe_destroyed() == before + 42


def test_objects_made_in_memory_let_go_lately_keep_their_own_values():
    # Results are made and let go in turns, some deleted through delete_ while
    # others live: the memory of each serves the next object of its size,
    # whatever its class (a dynamic vector is as large as a three-vector of
    # doubles), and every live object keeps its own values.
    V3d, V2f, V3f, VXd, M4 = (cls(n) for n in ("Vector3d", "Vector2f", "Vector3f", "VectorXd", "Matrix4d"))
    live = []
    for i in range(60):
        a = q.Vector3d___add__(V3d([i, 0, 0]), [0, i, 1])
        q.Vector3d___neg__(a)
        x = q.VectorXd___neg__(VXd([i, i + 1, i + 2, i + 3]))
        f = q.Vector2f___add__(V2f([i, 1]), [0, 1])
        g = q.Vector3f___neg__(V3f([i, 1, 2]))
        m = q.Matrix4d___mul__(q.Matrix4d_uniform(float(i)), q.Matrix4d_uniform(1.0))
        if i % 3 == 0:
            q.delete_Vector3d(a)
            q.delete_Matrix4d(m)
            a = m = None
        live.append((i, a, x, f, g, m))
    for i, a, x, f, g, m in live:
        assert a is None or list(a) == [i, i, 1]
        assert list(x) == [-i, -i - 1, -i - 2, -i - 3]
        assert list(f) == [i, 2] and list(g) == [-i, -1, -2]
        assert m is None or all(q.Matrix4d_at(m, r, c) == 4.0 * i for r in range(4) for c in range(4))


def test_data_type_argument_deleting_the_object_it_is_compared_with():
    t = cls("DataType")(q.DataTypeId_UINT8)
    hook = Hook(lambda: q.delete_DataType(t))
    assert q.DataType_is_convertible_to(t, hook) in (True, False) and hook.ran == 1
    t2 = cls("DataType")(q.DataTypeId_UINT8)
    assert q.DataType___eq__(t2, Hook(lambda: q.delete_DataType(t2))) in (True, False)


def test_a_type_name_is_never_read_to_recognise_a_handle():
    p = twin.new_Probe()
    ran = []

    class Meta(type):
        @property
        def __name__(cls):
            ran.append(1)
            twin.delete_Probe(p)
            return "SwigPyObject"

    class Named(metaclass=Meta):
        pass

    with pytest.raises(TypeError):
        twin.Probe_read_with(p, Named())
    assert not ran and twin.Probe_read(p) == 0x5157
    ix = cls("Indexer")([2, 3], q.DataTypeId_UINT8, 1)
    assert q.Indexer___eq__(ix, Named()) is NotImplemented and not ran


@pytest.mark.usefixtures("no_collection")
def test_in_place_operator_whose_right_operand_deletes_the_left():
    p = twin.new_Probe()
    before = twin.Probe_destroyed()
    with pytest.raises(ValueError, match=r"^invalid null reference in method 'Probe___ior__', argument 1 of type 'Probe \*'$"):
        twin.Probe___ior__(p, Hook(lambda: twin.delete_Probe(p)))
    assert twin.Probe_destroyed() == before + 1


# ------------------------------------------------------ in-place ownership

@pytest.fixture
def Set():
    return cls("StreamAccessCapabilitySet")


def test_the_old_handle_keeps_the_object_alive_after_an_in_place_operator(Set):
    a = Set(5)
    b = a
    a = q.StreamAccessCapabilitySet___ior__(a, 2)
    assert handle(a).own() and not handle(b).own()
    del a
    gc.collect()
    assert q.StreamAccessCapabilitySet_value(b) == 7
    r = q.StreamAccessCapabilitySet___ior__(b, 8)  # b no longer owns: nothing moves
    assert q.StreamAccessCapabilitySet_value(r) == 15 and not handle(r).own()


# Each kind: a new object, its in-place operator on one step's number, its
# value as the library reads it, and the same operator on a plain value.
IN_PLACE_KINDS = {
    "Set": (lambda: cls("StreamAccessCapabilitySet")(5), lambda x, k: operator.ior(x, 1 << k % 4),
            q.StreamAccessCapabilitySet_value, lambda v, k: v | 1 << k % 4, 5),
    "Vector3d": (lambda: cls("Vector3d")([1, 2, 3]), lambda x, k: operator.iadd(x, [k, k, k]),
                 list, lambda v, k: [e + k for e in v], [1, 2, 3]),
    "Probe": (lambda: twin.new_Probe(), lambda x, k: twin.Probe___ior__(x, 0), twin.Probe_read,
              lambda v, k: v | 1, 0x5157),
}


def alias_script(seed, steps=40, names=4):
    """Steps over a few names of one object: ("op", name, number) rebinds the
    name to the result of an in-place operator, ("alias", name, other) binds
    another name to the same object, ("del", name) drops a name; the script
    ends when the last name goes."""
    rnd = random.Random(seed)
    live, script = {0}, []
    for _ in range(steps):
        kind = rnd.choice(("op", "op", "alias", "del"))
        i = rnd.choice(sorted(live))
        if kind == "alias":
            j = rnd.randrange(names)
            script.append(("alias", i, j))
            live.add(j)
        elif kind == "op":
            script.append(("op", i, rnd.randrange(1, 9)))
        else:
            script.append(("del", i))
            live.discard(i)
            if not live:
                return script
    return script + [("del", i) for i in sorted(live)]


ALIAS_SCRIPTS = [
    # a = S(); b = a; a |= 2; b |= 8; del a (then b), and the other order
    pytest.param([("alias", 0, 1), ("op", 0, 1), ("op", 1, 3), ("del", 0), ("op", 1, 2), ("del", 1)],
                 id="changed-name-first"),
    pytest.param([("alias", 0, 1), ("op", 0, 1), ("op", 1, 3), ("del", 1), ("op", 0, 2), ("del", 0)],
                 id="alias-first"),
    # chains of aliases, each name changed in turn, the oldest dropped first
    pytest.param([("alias", 0, 1), ("op", 0, 1), ("alias", 1, 2), ("op", 1, 2), ("op", 2, 3), ("op", 0, 4),
                  ("del", 0), ("op", 2, 5), ("del", 2), ("op", 1, 6), ("op", 1, 7), ("del", 1)], id="chain"),
] + [pytest.param(alias_script(seed), id="seed%d" % seed) for seed in range(12)]


@pytest.mark.parametrize("kind", sorted(IN_PLACE_KINDS))
@pytest.mark.parametrize("script", ALIAS_SCRIPTS)
@pytest.mark.usefixtures("no_collection")
def test_aliases_see_every_in_place_change_and_keep_the_object(kind, script):
    """Names bound to one object and rebound by in-place operators behave as
    names of a Python object: each sees every change made through any of
    them, and the object lives until the last name goes, then goes once."""
    make, change, read, expect, value = IN_PLACE_KINDS[kind]
    names = {0: make()}
    destroyed = twin.Probe_destroyed()
    for step in script:
        if step[0] == "alias":
            names[step[2]] = names[step[1]]
        elif step[0] == "op":
            names[step[1]] = change(names[step[1]], step[2])
            value = expect(value, step[2])
        else:
            del names[step[1]]
        assert [read(x) for x in names.values()] == [value] * len(names), step
        assert twin.Probe_destroyed() == destroyed + (kind == "Probe" and not names)
    assert not names


@pytest.mark.usefixtures("no_collection")
def test_a_result_through_an_alias_refuses_once_the_owner_is_deleted():
    """The result of an in-place operator through a handle that owned nothing
    reaches the object through the handle holding it: once the owner is
    deleted explicitly, it refuses instead of reading freed memory."""
    p = twin.new_Probe()
    alias = p
    p = twin.Probe___ior__(p, 0)  # the result owns now
    alias = twin.Probe___ior__(alias, 0)
    before = twin.Probe_destroyed()
    assert twin.delete_Probe(p) is None and twin.Probe_destroyed() == before + 1
    with pytest.raises(ValueError, match="invalid null reference in method 'Probe_read'"):
        twin.Probe_read(alias)
    del alias
    assert twin.Probe_destroyed() == before + 1


@pytest.mark.parametrize("taker", ["old", "result"])
@pytest.mark.usefixtures("no_collection")
def test_a_handle_taking_ownership_back_leaves_no_alias_reading_freed_memory(taker):
    """A handle that acquires the object from the handles it reached it
    through becomes its one owner; the names still bound to those handles
    keep reading it, and it goes once, with the last name."""
    before = twin.Probe_destroyed()
    names = {"a": twin.new_Probe()}
    names["b"] = names["a"]
    names["a"] = twin.Probe___ior__(names["a"], 0)  # a's handle owns, b's reaches through it
    if taker == "result":
        names["c"] = twin.Probe___ior__(names["b"], 0)
    taken = names.pop("c" if taker == "result" else "b")
    handle(taken).acquire()
    assert handle(taken).own() and not handle(names["a"]).own()
    del taken
    for name in list(names):
        assert twin.Probe_read(names[name]) == 0x5157 | 1, name
        assert twin.Probe_destroyed() == before
        del names[name]
    assert twin.Probe_destroyed() == before + 1


def test_deleting_the_result_of_an_in_place_operator_leaves_the_old_handle_empty(Set):
    left = Set(5)
    r = q.StreamAccessCapabilitySet___ixor__(left, 1)
    assert q.delete_StreamAccessCapabilitySet(r) is None
    with pytest.raises(ValueError, match="invalid null reference"):
        q.StreamAccessCapabilitySet_value(left)
    assert q.delete_StreamAccessCapabilitySet(left) is None


def test_a_class_whose_this_stores_nothing_gets_results_without_a_crash():
    class Forgetful:
        __swig_destroy__ = twin.delete_Probe

        def __setattr__(self, name, value):
            pass

    twin.Probe_swigregister(Forgetful)
    try:
        p = twin.new_Probe()
        r = twin.Probe___ior__(p, 0)
        assert isinstance(r, Forgetful) and p.own() is False
        del r
        assert twin.Probe_read(p) == 0x5157 | 1  # the handle kept by p's heir
    finally:
        twin.Probe_swigregister(ProbeClass)


def test_results_leave_their_class_unmodified():
    """Making a result's instance never marks its class as modified: the class
    keeps its version tag, and with it its attribute caches, over many results
    (values and raised library errors alike)."""
    testcapi = pytest.importorskip("_testcapi")
    V = cls("Vector3d")
    v = V([1.0, 2.0, 3.0])
    x = cls("VectorXd")([1.0, 2.0, 3.0])

    def results():
        for _ in range(1000):
            r = q.Vector3d___neg__(v)
            assert r.at(0) == -1.0  # an attribute looked up through the class
            with pytest.raises(proxy.QuelboError) as caught:
                q.VectorXd_dot(x, [1.0, 2.0])
            assert caught.value.this is not None

    results()  # the classes have their version tags now
    versions = [testcapi.type_get_version(c) for c in (V, proxy.QuelboError)]
    results()
    assert 0 not in versions
    assert [testcapi.type_get_version(c) for c in (V, proxy.QuelboError)] == versions


def test_an_overloaded_function_reads_each_arguments_this_once():
    """The candidates of an overloaded function check and convert the handle
    found the first time: an argument whose `this` changes on every read is
    still one object for the whole call."""
    M = cls("Matrix4d")
    m = M()
    other = q.new_Logger()

    class Shifty:
        reads = 0

        @property
        def this(self):
            Shifty.reads += 1
            return handle(m) if Shifty.reads % 2 else other

    s = Shifty()
    for _ in range(3):
        before = Shifty.reads
        r = q.Matrix4d___mul__(m, s)
        assert isinstance(r, M) and Shifty.reads == before + 1
        Shifty.reads += 1  # the next call starts from the matrix again


# --------------------------------------------------------- handle identity

def test_only_real_handles_are_handles():
    class SwigPyObject:
        pass

    fake = SwigPyObject()
    with pytest.raises(TypeError, match=r"argument 1 of type 'quelbo::VersionInfo \*'"):
        q.VersionInfo_major_get(fake)
    with pytest.raises(TypeError, match="^Attempt to append a non SwigPyObject$"):
        q.new_Logger().append(fake)
    h = q.new_VersionInfo()
    for kind in (type(h), type(twin.new_Probe())):
        with pytest.raises(TypeError, match="handles are made by the module only"):
            kind()
    assert q.VersionInfo_major_get(twin.make_version(3)) == 3  # the other module's handles count


# ------------------------------------------------------------------ chains

def test_appending_never_closes_a_cycle():
    h, g, k = q.new_Logger(), q.new_VersionInfo(), q.new_Logger()
    h.append(g)
    with pytest.raises(ValueError, match="already in a chain"):
        h.append(g)
    g.append(k)
    with pytest.raises(ValueError, match="already in a chain"):
        h.append(k)
    with pytest.raises(ValueError, match="its own chain"):
        k.append(h)
    assert q.VersionInfo_major_get(h) == 0  # the chain is still walked to its end
    v = cls("VersionInfo")()
    with pytest.raises(ValueError):
        q.VersionInfo_swiginit(v, v.this)
    assert q.VersionInfo_major_get(v) == 0


def test_a_handle_leaving_a_chain_may_join_another():
    h, g = q.new_Logger(), q.new_VersionInfo()
    h.append(g)
    del h
    q.new_Logger().append(g)


def test_a_very_long_chain_is_released_without_recursion():
    r = run_child(
        """
        import proxy
        q = proxy.q
        head = q.new_Logger()
        for _ in range(100000):
            head.append(q.new_VersionInfo())
        del head
        print("end")
        """
    )
    assert r.returncode == 0 and r.stdout == "end\n", r.stderr[-2000:]


# ------------------------------------------------------------ shared table

def test_the_module_keeps_the_shared_table_alive():
    r = run_child(
        """
        import gc, sys
        import proxy
        q = proxy.q
        del sys.modules["swig_runtime_data4"]
        gc.collect()
        v = proxy.cls("VersionInfo")()
        q.VersionInfo_major_set(v, 4)
        print(q.VersionInfo_major_get(v), type(q.Versioning_version()).__name__)
        """
    )
    assert r.returncode == 0 and r.stdout == "4 VersionInfo\n", r.stderr[-2000:]


# ------------------------------------------------------- destruction hooks

@pytest.mark.parametrize("destroy", [list.append, print, lambda h: None, q.DataType_get_id, 5])
@pytest.mark.usefixtures("no_collection")
def test_only_a_delete_function_may_destroy(destroy):
    klass = type("Probe", (), {"__swig_destroy__": destroy})
    with pytest.raises(TypeError, match="^__swig_destroy__ must be a delete_ function of the module$"):
        twin.Probe_swigregister(klass)
    p = twin.new_Probe()  # the class registered before still holds
    before = twin.Probe_destroyed()
    del p
    assert twin.Probe_destroyed() == before + 1


# -------------------------------------------------------------- long texts

def test_a_text_too_long_for_a_str_owns_its_memory():
    r = run_child(
        """
        import os, sys
        sys.path.insert(0, os.environ["QUELBO_BUILD_DIR"])
        import proxy, _quelbo_twin as twin
        h = twin.long_text(2**31)
        print(type(h).__name__, twin.text_tail(h))
        """
    )
    assert r.returncode == 0, r.stderr[-2000:]
    assert r.stdout == "SwigPyObject (%d, b'y')\n" % (2**31 + 1)


def test_nothing_native_escapes_a_function():
    assert twin.text_outside_guard(3) == 3
    with pytest.raises(MemoryError):
        twin.text_outside_guard(2**63)  # longer than any string can be
    with pytest.raises(proxy.QuelboError, match="^thrown outside the guard$"):
        twin.text_outside_guard(1)


def test_guarded_functions_are_plain_module_functions():
    fn = q.new_DataType
    assert repr(fn) == "<built-in function new_DataType>" and fn.__self__ is q and fn.__module__ == "_quelbo"


# ---------------------------------------------------- registration, import

@pytest.mark.parametrize("klass", [type("NotAnException", (), {}), int, Exception()])
def test_the_error_class_must_be_an_exception_class(klass):
    with pytest.raises(TypeError, match="^the class registered for Error must be an exception class$"):
        q.Error_swigregister(klass)
    with pytest.raises(proxy.QuelboError, match="^twin failure$"):
        twin.fail()  # the class registered before still holds


def test_importing_warns_nothing_and_the_runtime_types_keep_their_names():
    r = run_child(
        """
        import os, subprocess, sys
        code = "import sys; sys.path.insert(0, %r); import _quelbo, _quelbo_twin" % os.environ["QUELBO_BUILD_DIR"]
        done = subprocess.run([sys.executable, "-W", "error", "-c", code], capture_output=True, text=True)
        print(done.returncode, done.stderr.strip()[-300:])
        sys.path.insert(0, os.environ["QUELBO_BUILD_DIR"])
        import _quelbo
        h = _quelbo.cvar.QUELBO_VERSION  # a bare handle that owns nothing
        for t in (type(h), type(_quelbo.cvar)):
            print(t.__name__, t.__module__, repr(t))
        """
    )
    assert r.returncode == 0, r.stderr[-2000:]
    assert r.stdout.splitlines() == [
        "0 ",
        "SwigPyObject _quelbo <class '_quelbo.SwigPyObject'>",
        "swigvarlink _quelbo <class '_quelbo.swigvarlink'>",
    ]


@pytest.mark.parametrize("damage", ["grown", "emptied", "released"])
def test_a_buffer_changed_by_a_later_arguments_conversion_is_taken_as_it_is_then(damage):
    """The library reads the buffer as it is when the call begins, never
    memory that Python code run by a later argument freed."""
    properties = q.ImageView___get_properties(q.ImageViewFactory_allocate([4], q.DataTypeId_INT32))
    value = bytearray(b"\1\2\3\4" * 4096)
    given = memoryview(value) if damage == "released" else value

    def change():
        if damage == "released":
            given.release()
        else:
            value[:] = b"\5\6\7\x08" if damage == "grown" else b""

    later = hostile_arguments(properties, change)[3]
    if damage == "grown":
        v = q.ImageViewFactory__uniform([4], q.DataTypeId_INT32, given, later, None)
        out = bytearray(16)
        q.ImageView___read_region(v, cls("RegionXu64")([0], [4]), out)
        assert bytes(out) == b"\5\6\7\x08" * 4
    else:
        kind = TypeError if damage == "released" else proxy.QuelboError
        with pytest.raises(kind):
            q.ImageViewFactory__uniform([4], q.DataTypeId_INT32, given, later, None)
