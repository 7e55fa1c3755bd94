"""Metadata nodes shared below several parents: graphs built and changed at
random against a Python model of the same graph, then shown, copied, cloned,
encoded and decoded, each in output bounded by the distinct nodes and their
links (a ladder of shared nodes has 2^64 paths); iterators while children
go; records whose links point where they must not."""
import collections
import random
import struct

import pytest

import serial_codec as codec
from helpers import assert_memory_flat, under_sanitizer
from proxy import QuelboError, cls, q
from test_serialization import contents, stream_of
import _quelbo_twin as twin  # noqa: E402 (found through proxy's path)

Node = cls("MetadataNode")
create = q.VariantDataValueFactory_create


class Model:
    def __init__(self, key, value):
        self.key, self.value, self.children = key, value, {}


def distinct(root):
    """The nodes below root (itself included) and the count of links to them."""
    seen, links, pending = {id(root): root}, 0, [root]
    while pending:
        for child in pending.pop().children.values():
            links += 1
            if id(child) not in seen:
                seen[id(child)] = child
                pending.append(child)
    return list(seen.values()), links


def below(node, other):
    return any(n is other for n in distinct(node)[0])


def text(root):
    """The text form: a node met more than once is "&n ..." at its first place and "*n" later."""
    nodes, _ = distinct(root)
    met = collections.Counter(id(c) for n in nodes for c in n.children.values())
    marks = {}

    def show(node):
        if id(node) in marks:
            return "*%d" % marks[id(node)]
        mark = ""
        if met[id(node)] > 1:
            marks[id(node)] = len(marks) + 1
            mark = "&%d " % marks[id(node)]
        value = "" if node.value is None else " = " + ", ".join(
            '"%s"' % v if isinstance(v, str) else str(v) for v in node.value)
        shown = [show(c) for c in node.children.values()]
        return mark + node.key + value + (" { %s }" % ", ".join(shown) if shown else "")

    return show(root)


def children(handle):
    it, end = q.MetadataNode___begin(handle), q.MetadataNode___end(handle)
    out = []
    while q.MetadataNodeIterator___ne__(it, end):
        out.append(q.MetadataNodeIterator_value(it))
        q.MetadataNodeIterator_next(it)
    return out


def items(value):
    return None if value is None else [q.VariantDataValue___getitem(value, i)
                                       for i in range(q.VariantDataValue_get_count(value))]


def same(model, handle):
    """handle's graph is the model's: the same keys, values and children in order, and one node wherever
    the model has one node (shared the same way). Returns the addresses of the nodes."""
    nodes, pending = {}, [(model, handle)]
    while pending:
        m, h = pending.pop()
        address = twin.node_address(h)
        if id(m) in nodes:
            assert nodes[id(m)] == address
            continue
        nodes[id(m)] = address
        assert (h.get_key(), items(h.get_value())) == (m.key, m.value)
        hs = children(h)
        assert [c.get_key() for c in hs] == list(m.children) and h.get_child_count() == len(m.children)
        pending.extend(zip(m.children.values(), hs))
    assert len(set(nodes.values())) == len(nodes)
    return set(nodes.values())


def ladder(levels):
    """Each level's node holds two nodes that both hold the next level's: 2^levels paths to the bottom."""
    bottom = Model("bottom", [levels])
    node, handle = bottom, Node("bottom", create([levels]))
    for level in range(levels):
        up, up_handle = Model("level", None), Node("level", None)
        for side in ("left", "right"):
            m, h = Model(side, [level]), Node(side, create([level]))
            m.children[node.key] = node
            h.add_child(handle)
            up.children[side] = m
            up_handle.add_child(h)
        node, handle = up, up_handle
    return node, handle


def check(model, handle):
    nodes, links = distinct(model)
    size = sum(len(n.key) + 16 * (1 + len(n.value or ())) for n in nodes) + 16 * links
    shown = handle.to_string()
    assert len(shown) <= size and shown == text(model)
    originals = same(model, handle)
    copied = handle.clone()
    assert not same(model, copied) & originals
    view = q.ImageViewFactory_allocate([1, 1], q.DataTypeId_UINT8)
    q.ImageView_set_metadata(view, handle)
    s = stream_of()
    q.Serialization_encode_image_view(view, s)
    data = contents(s)
    assert len(data) <= size + 256 and data == record(codec.metadata(model)[1:])
    decoded = q.ImageView___get_metadata(q.Serialization_decode_image_view(stream_of(data)))
    same(model, decoded)
    assert decoded.to_string() == shown


@pytest.mark.parametrize("seed", range(4))
def test_shared_graphs_against_a_model(seed):
    rng = random.Random(seed)
    pool = [ladder(64), ladder(3)]
    keys = "abcdefg"
    for step in range(400):
        op = rng.random()
        if op < 0.25 or len(pool) < 4:
            key = rng.choice(keys)
            value = rng.choice([None, [rng.randrange(-9, 9)], ["x%d" % rng.randrange(9), ""], [1, 2, 3]])
            pool.append((Model(key, value), Node(key, None if value is None else create(value))))
        elif op < 0.65:
            (parent, ph), (child, ch) = rng.choice(pool), rng.choice(pool)
            if below(child, parent):
                with pytest.raises(QuelboError, match="its own descendant"):
                    ph.add_child(ch)
            else:
                parent.children[child.key] = child
                ph.add_child(ch)
        elif op < 0.85:
            parent, ph = rng.choice(pool)
            key = rng.choice(list(parent.children) + [rng.choice(keys)])
            parent.children.pop(key, None)
            ph.remove_child(key)
        elif op < 0.92:
            m, h = rng.choice(pool)
            copy = Model(m.key, m.value)
            copy.children = dict(m.children)
            pool.append((copy, Node(h)))
        else:
            m, h = rng.choice(pool)
            clones = {}
            for n in distinct(m)[0]:
                clones[id(n)] = Model(n.key, n.value)
            for n in distinct(m)[0]:
                clones[id(n)].children = {k: clones[id(c)] for k, c in n.children.items()}
            pool.append((clones[id(m)], h.clone()))
        if step % 40 == 39:
            for m, h in rng.sample(pool, 3) + pool[:1]:
                check(m, h)


def test_iterators_keep_their_place_while_children_go():
    node, keys = Node("p", None), ["k%d" % i for i in range(200)]
    for k in keys:
        node.add_child(Node(k, None))
    it, past, end = q.MetadataNode___begin(node), q.MetadataNode___begin(node), q.MetadataNode___end(node)
    for _ in range(10):
        q.MetadataNodeIterator_next(it)
    while q.MetadataNodeIterator_next(past):
        pass
    # most of the others go (their slots squeezed out meanwhile), then the child designated
    left = [k for k in keys[11:190] if k.endswith("0")] + keys[190:]
    for k in keys[:10] + [k for k in keys[11:190] if not k.endswith("0")] + ["k10"]:
        assert q.MetadataNodeIterator_value(it).get_key() == "k10"
        node.remove_child(k)
    assert [c.get_key() for c in children(node)] == left
    walked = []
    while q.MetadataNodeIterator___ne__(it, end):
        walked.append(q.MetadataNodeIterator_value(it).get_key())
        q.MetadataNodeIterator_next(it)
    assert walked == left
    node.add_child(Node("late", None))  # iterators past the end find a child added after
    assert q.MetadataNodeIterator_value(it).get_key() == "late" == q.MetadataNodeIterator_value(past).get_key()


@pytest.mark.parametrize("seed", range(3))
def test_many_iterators_against_a_model_of_slots(seed):
    """Children added, replaced and removed while dozens of iterators (const or not, copies, end
    ones) are held, moved, copied, dropped, and while the node itself goes; each designates what a
    model of never-reused slots says: the first child from its slot on."""
    rng = random.Random(seed)
    node, slots, iterators = Node("p", None), [], []  # slots: [key, alive]; iterators: [handle, slot, kind]
    kinds = {"": (q.MetadataNode___begin, q.MetadataNode___end, "MetadataNodeIterator"),
             "const": (lambda n: q.ReadonlyMetadataNode___begin(q.new_ReadonlyMetadataNode(n)),
                       lambda n: q.ReadonlyMetadataNode___end(q.new_ReadonlyMetadataNode(n)),
                       "ConstMetadataNodeIterator")}
    ends = {kind: kinds[kind][1](node) for kind in kinds}

    def designated(slot):
        return next((i for i in range(slot, len(slots)) if slots[i][1]), None)

    for _ in range(2500):
        op, key = rng.random(), "k%d" % rng.randrange(30)
        live = {k: i for i, (k, alive) in enumerate(slots) if alive}
        if op < 0.3:
            value = rng.randrange(99)
            node.add_child(Node(key, create([value])))
            if key not in live:
                slots.append([key, True])
        elif op < 0.6:
            node.remove_child(key)
            if key in live:
                slots[live[key]][1] = False
        elif op < 0.7 or not iterators:
            kind = rng.choice(list(kinds))
            iterators.append([kinds[kind][0](node), 0, kind])
        elif op < 0.8:
            handle, slot, kind = rng.choice(iterators)
            iterators.append([getattr(q, "new_" + kinds[kind][2])(handle), slot, kind])
        elif op < 0.85:
            entry = iterators.pop(rng.randrange(len(iterators)))
            getattr(q, "delete_" + kinds[entry[2]][2])(entry[0])
        else:
            entry = rng.choice(iterators)
            at = designated(entry[1])
            moved = getattr(q, kinds[entry[2]][2] + "_next")(entry[0])
            entry[1] = entry[1] if at is None else at + 1
            assert moved == (at is not None and designated(entry[1]) is not None)
        for handle, slot, kind in rng.sample(iterators, min(len(iterators), 6)):
            name, at = kinds[kind][2], designated(slot)
            assert getattr(q, name + "___eq__")(handle, ends[kind]) == (at is None)
            if at is not None:
                assert getattr(q, name + "_value")(handle).get_key() == slots[at][0]
    handle, slot, kind = iterators[0]
    keys = [k for k, alive in slots[slot:] if alive]
    del node, ends  # the iterators keep what they walk
    walked, name = [], kinds[kind][2]
    while designated(slot) is not None:
        walked.append(getattr(q, name + "_value")(handle).get_key())
        getattr(q, name + "_next")(handle)
        slot = designated(slot) + 1
    assert walked == keys


def test_cycle_tests_through_wide_fans():
    """A node of many children below many parents, and many small nodes below it: a cycle test
    costs its smaller side, however its links spread over lists, so the fan builds in linear time;
    cycles are refused from every side of it, and what they would not close is let in."""
    rng, width = random.Random(5), 20_000
    root, wide = Model("root", None), Model("wide", None)
    root_h, wide_h, parents_h = Node("root", None), Node("wide", None), []
    for i in range(width):
        wide.children["c%d" % i] = Model("c%d" % i, None)
        wide_h.add_child(Node("c%d" % i, None))
    for i in range(width):  # the node of many children below parents that have a parent
        parent = root.children["p%d" % i] = Model("p%d" % i, None)
        parents_h.append(Node("p%d" % i, None))
        root_h.add_child(parents_h[-1])
        parent.children["wide"] = wide
        parents_h[-1].add_child(wide_h)
    for i in range(width):  # small nodes with a child below the node of many parents
        small = wide.children["s%d" % i] = Model("s%d" % i, None)
        small.children["leaf"] = Model("leaf", None)
        small_h = Node("s%d" % i, None)
        small_h.add_child(Node("leaf", None))
        wide_h.add_child(small_h)
    for _ in range(40):
        i, j, k, kind = rng.randrange(width), rng.randrange(width), rng.randrange(width), rng.choice("pwcs")
        target = q.MetadataNodeHelper_get_node(root_h, {"p": "p%d", "w": "p%d/wide", "c": "p%%d/wide/c%d" % k,
                                                         "s": "p%%d/wide/s%d/leaf" % k}[kind] % i)
        for above, refused in ((root_h, True), (parents_h[j], kind != "p" or i == j), (wide_h, kind != "p")):
            if refused:
                with pytest.raises(QuelboError, match="its own descendant"):
                    target.add_child(above)
            elif above is not wide_h:  # (the wide node is a parent's child already)
                target.add_child(above)
                target.remove_child(above.get_key())
    check(root, root_h)


@pytest.mark.skipif(under_sanitizer(), reason="the sanitizer's allocator keeps its own reserves")
def test_slots_of_removed_children_go_while_an_iterator_is_held():
    node, churn = Node("p", None), Node("churn", None)
    held = q.MetadataNode___begin(node)

    def batch():
        for _ in range(100):
            node.add_child(churn)
            node.remove_child("churn")

    assert_memory_flat(batch, warm=10, runs=3000)
    assert held == q.MetadataNode___end(node)


def record(entries):
    """The record of a 1 x 1 image view whose metadata tree is these entries."""
    s = stream_of()
    q.Serialization_encode_image_view(q.ImageViewFactory_allocate([1, 1], q.DataTypeId_UINT8), s)
    plain = contents(s)
    at = plain.index(b"\x00SYNC", 28 + 8 + 16 + 4)  # no tree, after the shape and the properties
    return plain[:at] + b"\x01" + entries + plain[at + 1:]


def node(key, children, flag=0):
    return codec.string(key) + struct.pack("<BQ", flag, children)


def link(number, key=""):
    return codec.string(key) + struct.pack("<BQ", 2, number)


def test_records_whose_links_point_where_they_must_not():
    for entries, message in [
            ((node("r", 1), link(1)), "link to node 1 of the 1 before it"),
            ((node("r", 2), node("a", 0), link(7)), "link to node 7 of the 2 before it"),
            ((node("r", 1), node("a", 1), link(0)), "node 0 would make it its own descendant"),
            ((node("r", 1), node("a", 1), link(1)), "node 1 would make it its own descendant"),
            ((link(0),), "link to node 0 of the 0 before it"),
            ((node("r", 2), node("a", 0), link(1, "a")), "a metadata link carries the key 'a'"),
            ((node("r", 2), node("a", 0), link(1)), "two children with the key 'a'"),
            ((node("r", 0, 3),), "value flag 3 is not 0, 1 or 2")]:
        with pytest.raises(QuelboError, match=message):
            q.Serialization_decode_image_view(stream_of(record(b"".join(entries))))
