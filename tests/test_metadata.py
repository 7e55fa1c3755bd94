"""Variant values, their factory, metadata nodes, iterators, the read-only node and path helpers."""
import gc
import struct

import pytest

import proxy
from proxy import q
import _quelbo_twin as twin

Node = proxy.cls("MetadataNode")
RONode = proxy.cls("ReadonlyMetadataNode")
Iter = proxy.cls("MetadataNodeIterator")
ConstIter = proxy.cls("ConstMetadataNodeIterator")
Error = proxy.QuelboError
create = q.VariantDataValueFactory_create


def type_id(primitive, bits, count=1):
    return primitive << 16 | count << 8 | bits


def items(value):
    return [q.VariantDataValue___getitem(value, i) for i in range(q.VariantDataValue_get_count(value))]


def type_of(value):
    return q.DataType_get_id(q.VariantDataValue_get_type(value))


# ------------------------------------------------------------------- factory


def test_create_from_python_values():
    cases = [(5, 131392, [5]), (True, 131392, [1]), (2.5, 196928, [2.5]), ("abc", 262408, ["abc"]),
             ("", 262408, [""]), ("a\0b", 262408, ["a"]), ([1, 2, 3], 131392, [1, 2, 3]),
             ((1.5, 2), 196928, [1.5, 2.0]), (["x", "é"], 262408, ["x", "é"]), (b"ab", 131392, [97, 98]),
             ([-2**63, 2**63 - 1], 131392, [-2**63, 2**63 - 1])]
    for arg, tid, expected in cases:
        v = create(arg)
        assert (type_of(v), items(v)) == (tid, expected), arg
    assert items(create(["a", "b", "c"], 2)) == ["a", "b"]
    assert items(create([], 0)) == []


def test_create_refuses_before_reading():
    for arg, exc, text in [([], ValueError, "Cannot create metadata value from an empty sequence"),
                           ((), ValueError, "empty sequence"),
                           ([None], ValueError, "Cannot create metadata value from this sequence"),
                           (None, ValueError, "Cannot create metadata value from this value"),
                           ({}, ValueError, "from this value"),
                           ([1, "a"], TypeError, "expected long value"), ([1.5, "a"], TypeError, "expected long or float"),
                           (["a", 1], TypeError, "expected str value"), ([1, 2**63], OverflowError, ""),
                           (2**63, OverflowError, "argument 1 of type 'int64_t'"), ("\udcff", UnicodeEncodeError, ""),
                           (["a", "\udcff"], UnicodeEncodeError, "")]:
        with pytest.raises(exc, match=text):
            create(arg)
    with pytest.raises(ValueError, match="count is larger"):
        create(["a", "b"], 3)
    with pytest.raises(MemoryError):
        create(range(2**62))


def test_create_overloads():
    for args in [(["a", 1], 2), ("ab", 1), (["a"], -1), (["a"], 1.0), (5, 1), ()]:
        with pytest.raises(TypeError) as e:
            create(*args)
        lines = [x for x in str(e.value).splitlines() if x.startswith("    ")]
        assert lines[0] == "    quelbo::VariantDataValueFactory::create(uint8_t const *,size_t)"
        assert lines[-1].endswith("quelbo_VariantDataValueFactory_create__SWIG_11(PyObject *)")
        assert len(lines) == 12
    with pytest.raises(TypeError, match="Additional information"):
        create(1, 2, 3)
    empty = create(None, 0)  # the 16-bit unsigned form with a null pointer
    assert type_of(empty) == 65808 and items(empty) == []
    with pytest.raises(ValueError, match="null pointer"):
        create(None, 2)


@pytest.mark.parametrize("kind,fmt,tid,values", [
    ("uint8", "B", 65800, [0, 255]), ("uint16", "H", 65808, [1, 65535]), ("uint32", "I", 65824, [7, 2**32 - 1]),
    ("uint64", "Q", 65856, [0, 2**64 - 1]), ("int8", "b", 131336, [-128, 127]), ("int16", "h", 131344, [-1, 5]),
    ("int32", "i", 131360, [-2**31, 3]), ("int64", "q", 131392, [-2**63, 2**63 - 1]),
    ("float", "f", 196896, [0.5, -2.0]), ("double", "d", 196928, [0.1, 1e300])])
def test_create_from_typed_pointers(kind, fmt, tid, values):
    pointer = twin.typed_pointer(kind, struct.pack("<%d%s" % (len(values), fmt), *values))
    v = create(pointer, len(values))
    assert (type_of(v), items(v)) == (tid, values)
    assert items(create(pointer, 1)) == values[:1]


# ------------------------------------------------------------------ decoding


@pytest.mark.parametrize("primitive,bits,fmt,values", [
    (1, 8, "B", [255, 0]), (1, 16, "H", [65535]), (1, 32, "I", [2**32 - 1]), (1, 64, "Q", [2**64 - 1, 1]),
    (2, 8, "b", [-1, 127]), (2, 16, "h", [-32768]), (2, 32, "i", [-2**31]), (2, 64, "q", [-2**63, 2**63 - 1]),
    (3, 64, "d", [1e-300, -0.0])])
def test_getitem_decodes_numbers(primitive, bits, fmt, values):
    v = twin.raw_value(type_id(primitive, bits), struct.pack("<%d%s" % (len(values), fmt), *values), len(values))
    assert items(v) == values


def test_getitem_float32_widens_exactly_and_ignores_element_count():
    v = twin.raw_value(type_id(3, 32, count=3), struct.pack("<2f", 0.1, 2.5), 2)
    assert items(v) == [0.10000000149011612, 2.5]


def test_getitem_decodes_texts():
    utf16 = type_id(4, 16)
    utf32 = type_id(4, 32)
    cases = [
        (type_id(4, 8), [b"h\xc3\xa9", b"\xc3\x28", None], ["hé", "\ufffd(", ""]),
        (utf16, ["AB".encode("utf-16-le"), b"\xfe\xff" + "AB".encode("utf-16-be"),
                 b"\xff\xfe" + "é".encode("utf-16-le"), b"\x00\xd8"], ["AB", "AB", "é", "\ufffd"]),
        (utf32, ["A€".encode("utf-32-le"), b"\x00\x00\xfe\xff" + "Z".encode("utf-32-be")], ["A€", "Z"]),
    ]
    for tid, raw, expected in cases:
        assert items(twin.text_value(tid, raw)) == expected


def test_getitem_index_rules():
    v = create([10, 20])
    assert q.VariantDataValue___getitem(v, True) == 20
    with pytest.raises(IndexError, match="Index out of range"):
        q.VariantDataValue___getitem(v, -1)
    with pytest.raises(IndexError, match="Index out of range"):
        q.VariantDataValue___getitem(v, 2)
    with pytest.raises(OverflowError, match="in method 'VariantDataValue___getitem', argument 2 of type 'int'"):
        q.VariantDataValue___getitem(v, 2**31)
    with pytest.raises(TypeError, match="argument 2 of type 'int'"):
        q.VariantDataValue___getitem(v, 1.0)
    with pytest.raises(IndexError):
        q.VariantDataValue___getitem(twin.raw_value(65800, b"", 0), 0)
    with pytest.raises(ValueError, match="Incompatible type "):
        q.VariantDataValue___getitem(twin.raw_value(type_id(3, 16), b"\0\0", 1), 0)
    with pytest.raises(ValueError, match="Incompatible type "):
        q.VariantDataValue___getitem(twin.raw_value(type_id(5, 8), b"\0", 1), 0)
    with pytest.raises(ValueError, match="invalid null reference"):
        q.VariantDataValue___getitem(None, 0)
    with pytest.raises(TypeError, match=r"'VariantDataValue_get_count', argument 1 of type 'quelbo::VariantDataValue const \*'"):
        q.VariantDataValue_get_count(Node("k", None))


def test_clone_and_raw_lifetimes():
    v = create([1, 2, 3])
    c = q.VariantDataValue_clone(v)
    raw = q.VariantDataValue_raw(v)
    assert int(proxy.handle(raw)) != 0 and type(raw).__name__ == "SwigPyObject"
    del v
    gc.collect()
    assert items(c) == [1, 2, 3]
    assert int(raw) != 0  # still points at live memory: the handle keeps the value


# ---------------------------------------------------------------------- nodes


def test_node_basics():
    n = Node("k", None)
    assert (n.get_key(), n.get_value(), n.get_child_count()) == ("k", None, 0)
    n.add_child(Node("a", create(1)))
    n.add_child(Node("a", create(2)))
    assert n.get_child_count() == 1 and items(n.child("a").get_value()) == [2]
    other = n.child("a")
    other.add_child(Node("x", None))
    assert n.child("a").get_child_count() == 1
    with pytest.raises(Error, match='no child of key "zz"'):
        n.child("zz")
    assert not n.has_child("zz")
    n.remove_child("a")
    n.remove_child("a")
    assert n.get_child_count() == 0
    copy = Node(other)
    clone = other.clone()
    other.add_child(Node("y", None))
    assert (copy.get_child_count(), clone.get_child_count(), other.get_child_count()) == (1, 1, 2)
    assert other.to_string() == "a = 2 { x, y }"


def test_node_argument_rules():
    with pytest.raises(ValueError, match=r"invalid null reference in method 'new_MetadataNode', argument 1 of type 'quelbo::MetadataNode const &'"):
        Node(None)
    with pytest.raises(TypeError) as e:
        Node(5)
    assert str(e.value).endswith("    quelbo::MetadataNode::MetadataNode(quelbo::MetadataNode &&)\n")
    with pytest.raises(TypeError, match="MetadataNode::child"):
        q.MetadataNode_child(Node("k", None), None)
    with pytest.raises(TypeError, match="Wrong number or type"):
        Node(None, None)
    with pytest.raises(ValueError, match="invalid null reference in method 'MetadataNode_has_child', argument 2 of type 'std::string const &'"):
        q.MetadataNode_has_child(Node("k", None), None)
    with pytest.raises(TypeError, match=r"MetadataNode::begin\(\) const"):
        q.MetadataNode___begin(5)
    for fn in (q.MetadataNode_get_key, q.MetadataNode_to_string, q.MetadataNode___begin):
        with pytest.raises(ValueError, match="invalid null reference"):
            fn(None)


def test_no_cycles():
    root = Node("r", None)
    a = Node("a", None)
    root.add_child(a)
    b = Node("b", None)
    a.add_child(b)
    for child in (root, a, b):
        with pytest.raises(Error, match="its own descendant"):
            b.add_child(child)
    with pytest.raises(Error, match="its own descendant"):
        root.add_child(root)
    with pytest.raises(Error, match="null child"):
        root.add_child(None)


def test_move_forms_of_bare_objects():
    owned = twin.bare_node("m", True)
    moved = Node(owned)
    assert moved.get_key() == "m" and items(moved.get_value()) == [7]
    with pytest.raises(RuntimeError, match="cannot release ownership"):
        Node(owned)  # moved from: it owns nothing any more
    with pytest.raises(RuntimeError, match="cannot release ownership as memory is not owned for argument 1 of type 'quelbo::MetadataNode &&'"):
        Node(twin.bare_node("m", False))
    props = proxy.cls("ImageProperties")(twin.bare_properties(65808, True))
    assert props.get_image_info().get_bit_depth() == 16
    with pytest.raises(RuntimeError, match=r"'quelbo::ImageProperties &&'"):
        proxy.cls("ImageProperties")(twin.bare_properties(65808, False))
    twin.bare_node("dies unmoved", True)
    gc.collect()


def test_deep_trees():
    root = Node("root", None)
    path = "/n" * 100000
    assert q.MetadataNodeHelper_create_path(root, path, create(1)) is not None
    assert q.MetadataNodeHelper_exists(root, path)
    text = root.to_string()
    assert text.startswith("root { n { n") and text.endswith(" }")
    clone = root.clone()
    assert q.MetadataNodeHelper_exists(clone, path)
    del root, clone, text
    gc.collect()


# ------------------------------------------------------------------ iterators


def walk(begin, end, value, ne, nxt):
    keys = []
    while ne(begin, end):
        keys.append(value(begin).get_key())
        nxt(begin)
    return keys


def test_iterators_walk_and_compare():
    n = Node("p", None)
    b, e = q.MetadataNode___begin(n), q.MetadataNode___end(n)
    assert b == e and not q.MetadataNodeIterator___ne__(b, e)
    for k in "xyz":
        n.add_child(Node(k, None))
    b, b2, e = q.MetadataNode___begin(n), q.MetadataNode___begin(n), q.MetadataNode___end(n)
    assert b == b2
    assert q.MetadataNodeIterator_next(b2) is True
    assert b != b2 and q.MetadataNodeIterator_value(b).get_key() == "x"
    assert q.MetadataNodeIterator___ref__(b2).get_key() == "y" and q.MetadataNodeIterator___deref__(b2).get_key() == "y"
    assert walk(b, e, q.MetadataNodeIterator_value, q.MetadataNodeIterator___ne__, q.MetadataNodeIterator_next) == list("xyz")
    assert q.MetadataNodeIterator_next(b) is False and b == e
    for fn in (q.MetadataNodeIterator_value, q.MetadataNodeIterator___ref__, q.MetadataNodeIterator___deref__):
        with pytest.raises(Error, match="designates no child"):
            fn(e)
    ce = q.ReadonlyMetadataNode___end(RONode(n))
    assert q.MetadataNodeIterator___eq__(b, ce) is NotImplemented
    assert q.MetadataNodeIterator___eq__(b, 5) is NotImplemented
    with pytest.raises(ValueError, match=r"invalid null reference in method 'MetadataNodeIterator___eq__', argument 2 of type 'quelbo::MetadataNodeIterator const &'"):
        q.MetadataNodeIterator___eq__(b, None)
    with pytest.raises(TypeError, match=r"in method 'MetadataNodeIterator_next', argument 1 of type 'quelbo::MetadataNodeIterator \*'"):
        q.MetadataNodeIterator_next(5)


def test_iterators_keep_their_node_and_survive_changes():
    n = Node("p", None)
    for k in "ab":
        n.add_child(Node(k, None))
    b, e = q.MetadataNode___begin(n), q.MetadataNode___end(n)
    del n
    gc.collect()
    q.MetadataNodeIterator_next(b)
    assert q.MetadataNodeIterator_value(b).get_key() == "b"
    parent = Node("p", None)
    parent.add_child(Node("a", None))
    it = q.MetadataNode___begin(parent)
    parent.remove_child("a")
    assert it == q.MetadataNode___end(parent)
    with pytest.raises(Error):
        q.MetadataNodeIterator_value(it)


def test_iterator_constructors():
    default, from_none = Iter(), Iter(None)
    assert default == from_none and q.MetadataNodeIterator_next(default) is False
    with pytest.raises(Error):
        q.MetadataNodeIterator_value(from_none)
    n = Node("p", None)
    n.add_child(Node("c", None))
    obj = twin.iterator_object(n, False)
    it = Iter(obj)
    assert q.MetadataNodeIterator_value(it).get_key() == "c" and it == q.MetadataNode___begin(n)
    with pytest.raises(TypeError) as e:
        Iter(twin.iterator_object(n, True))
    assert "MetadataNodeIterator(quelbo::MetadataIteratorObject *)" in str(e.value)
    cit = ConstIter(twin.iterator_object(n, True))
    copy = ConstIter(cit)
    q.ConstMetadataNodeIterator_next(cit)
    assert q.ConstMetadataNodeIterator_value(copy).get_key() == "c"
    child = q.ConstMetadataNodeIterator_value(copy)
    child.add_child(Node("g", None))  # a const walk hands out changeable nodes
    assert n.child("c").get_child_count() == 1


# -------------------------------------------------------------- read-only node


def test_readonly_node():
    n = Node("k", create("v"))
    n.add_child(Node("a", None))
    n.add_child(Node("b", None))
    ro = RONode(n)
    assert (ro.get_key(), ro.get_child_count(), items(ro.get_value())) == ("k", 2, ["v"])
    n.add_child(Node("c", None))
    assert ro.get_child_count() == 3 and ro.has_child("c")
    child = ro.child("a")
    assert type(child).__name__ == "ReadonlyMetadataNode" and child.get_key() == "a"
    with pytest.raises(Error):
        ro.child("zz")
    clone = ro.clone()
    clone.add_child(Node("d", None))
    assert ro.get_child_count() == 3
    b, e = q.ReadonlyMetadataNode___begin(ro), q.ReadonlyMetadataNode___end(ro)
    assert walk(b, e, q.ConstMetadataNodeIterator_value, q.ConstMetadataNodeIterator___ne__,
                q.ConstMetadataNodeIterator_next) == list("abc")
    with pytest.raises(TypeError, match=r"in method 'new_ReadonlyMetadataNode', argument 1 of type 'std::shared_ptr< quelbo::MetadataNode const >'"):
        RONode(ro)
    with pytest.raises(TypeError, match=r"'ReadonlyMetadataNode_get_key', argument 1 of type 'quelbo::ReadonlyMetadataNode const \*'"):
        q.ReadonlyMetadataNode_get_key(n)
    empty = RONode(None)
    for fn in (q.ReadonlyMetadataNode_get_key, q.ReadonlyMetadataNode___begin, q.ReadonlyMetadataNode_to_string):
        with pytest.raises(ValueError, match="invalid null reference"):
            fn(empty)
    del n
    gc.collect()
    assert ro.get_key() == "k"


# --------------------------------------------------------- factory and helper


def test_factory_and_helper():
    assert q.MetadataNodeFactory_create("k", None).get_value() is None
    with pytest.raises(ValueError, match="invalid null reference in method 'MetadataNodeFactory_create', argument 1 of type 'std::string const &'"):
        q.MetadataNodeFactory_create(None, None)
    with pytest.raises(TypeError, match=r"argument 2 of type 'std::shared_ptr< quelbo::VariantDataValue >'"):
        q.MetadataNodeFactory_create("k", 5)
    root = Node("root", None)
    r = q.MetadataNodeHelper_create_path(root, "A/B", create(3))
    assert r.get_key() == "root" and root.get_child_count() == 1
    assert q.MetadataNodeHelper_exists(root, "A") and q.MetadataNodeHelper_exists(root, "A/B")
    for path in ["/A/B", "A/B", "\\A\\B", "A//B/", ""]:
        assert q.MetadataNodeHelper_get_node(root, path) is not None, path
    assert q.MetadataNodeHelper_get_node(root, "").get_key() == "root"
    assert q.MetadataNodeHelper_get_node(root, "A/C") is None and not q.MetadataNodeHelper_exists(root, "A/C")
    q.MetadataNodeHelper_get_node(root, "A/B").add_child(Node("kept", None))
    q.MetadataNodeHelper_create_path(root, "A/B", create(4))
    replaced = q.MetadataNodeHelper_get_node(root, "A/B")
    assert items(replaced.get_value()) == [4] and replaced.has_child("kept")
    with pytest.raises(Error, match="names no node"):
        q.MetadataNodeHelper_create_path(root, "//", None)
    with pytest.raises(TypeError, match="expected 3 arguments, got 2"):
        q.MetadataNodeHelper_create_path(root, "A")
    with pytest.raises(TypeError, match=r"in method 'MetadataNodeHelper_exists', argument 1 of type 'std::shared_ptr< quelbo::MetadataNode const >'"):
        q.MetadataNodeHelper_exists(5, "A")
    with pytest.raises(ValueError, match="invalid null reference in method 'MetadataNodeHelper_exists', argument 2"):
        q.MetadataNodeHelper_exists(root, None)
    for fn, args in [(q.MetadataNodeHelper_get_node, (None, "A")), (q.MetadataNodeHelper_create_path, (None, "A", None)),
                     (q.MetadataNodeHelper_exists, (RONode(None), "A"))]:
        with pytest.raises(ValueError, match="invalid null reference"):
            fn(*args)
    ro = RONode(root)
    assert q.MetadataNodeHelper_get_node(ro, "A").get_key() == "A"
    q.MetadataNodeHelper_create_path(ro, "Z", None)  # a read-only node given as origin is changed
    assert ro.get_child_count() == 2
    helper = proxy.cls("MetadataNodeHelper")()
    q.delete_MetadataNodeHelper(helper)


def test_helpers_refuse_a_missing_root_once_the_other_arguments_are_read():
    fn = "MetadataNodeHelper_create_path"
    with pytest.raises(TypeError) as e:
        q.MetadataNodeHelper_create_path(None, "A", 5)
    assert str(e.value) == f"in method '{fn}', argument 3 of type 'std::shared_ptr< quelbo::VariantDataValue >'"
    with pytest.raises(TypeError, match="in method 'MetadataNodeHelper_get_node', argument 2 of type 'std::string"):
        q.MetadataNodeHelper_get_node(None, 5)
    with pytest.raises(ValueError) as e:
        q.MetadataNodeHelper_exists(None, "A")
    assert str(e.value) == ("invalid null reference in method 'MetadataNodeHelper_exists', argument 1 of type "
                            "'std::shared_ptr< quelbo::MetadataNode const >'")
    with pytest.raises(ValueError) as e:
        q.MetadataNodeHelper_create_path(RONode(None), "A", None)
    assert str(e.value) == (f"invalid null reference in method '{fn}', argument 1 of type "
                            "'std::shared_ptr< quelbo::MetadataNode >'")


@pytest.mark.parametrize("fn,args,expected", [
    (q.new_MetadataNode, (1, 2), ["quelbo::MetadataNode::MetadataNode(std::string const &,std::shared_ptr< quelbo::VariantDataValue >)",
                                  "quelbo::MetadataNode::MetadataNode(quelbo::MetadataNode const &)",
                                  "quelbo::MetadataNode::MetadataNode(quelbo::MetadataNode &&)"]),
    (q.MetadataNode_child, (1, 2), ["quelbo::MetadataNode::child(std::string const &) const",
                                    "quelbo::MetadataNode::child(std::string const &)"]),
    (q.MetadataNode___end, (1,), ["quelbo::MetadataNode::end()", "quelbo::MetadataNode::end() const"]),
    (q.new_ConstMetadataNodeIterator, (1,), ["quelbo::ConstMetadataNodeIterator::ConstMetadataNodeIterator()",
                                             "quelbo::ConstMetadataNodeIterator::ConstMetadataNodeIterator(quelbo::ConstMetadataIteratorObject *)",
                                             "quelbo::ConstMetadataNodeIterator::ConstMetadataNodeIterator(quelbo::ConstMetadataNodeIterator const &)"]),
])
def test_overload_messages(fn, args, expected):
    with pytest.raises(TypeError) as e:
        fn(*args)
    assert str(e.value) == ("Wrong number or type of arguments for overloaded function '%s'.\n"
                            "  Possible C/C++ prototypes are:\n" % fn.__name__) + "".join("    %s\n" % p for p in expected)


def test_cycle_test_follows_every_link():
    a, b, c = Node("a", None), Node("b", None), Node("c", None)
    a.add_child(b)
    c.add_child(b)  # b shared by two parents
    with pytest.raises(Error, match="its own descendant"):
        b.add_child(c)
    a.remove_child("b")
    c.remove_child("b")
    b.add_child(c)  # no link left: allowed now
    copy = Node(b)  # holds c too
    with pytest.raises(Error, match="its own descendant"):
        c.add_child(copy)
    root = Node("root", None)
    q.MetadataNodeHelper_create_path(root, "x", None)
    q.MetadataNodeHelper_get_node(root, "x").add_child(Node("y", None))
    y = q.MetadataNodeHelper_get_node(root, "x/y")
    q.MetadataNodeHelper_create_path(root, "x", None)  # x replaced; y kept under the new x
    with pytest.raises(Error, match="its own descendant"):
        y.add_child(root)
    moved = twin.bare_node("m", True)
    parent = Node("p", None)
    node = Node(moved)
    parent.add_child(node)
    with pytest.raises(Error, match="its own descendant"):
        node.add_child(parent)


def test_deep_chains_built_either_way():
    top = Node("n", None)
    for _ in range(100000):  # bottom-up: each new parent takes the whole chain
        parent = Node("n", None)
        parent.add_child(top)
        top = parent
    leaf = q.MetadataNodeHelper_get_node(top, "n/" * 99999 + "n")
    assert leaf is not None and leaf.get_child_count() == 0
    with pytest.raises(Error, match="its own descendant"):
        leaf.add_child(top)
    leaf.add_child(Node("end", None))
    del top, parent, leaf
    gc.collect()
