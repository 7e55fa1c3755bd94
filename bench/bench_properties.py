"""Variant values from Python lists against array.array, child lookup by key
against a dict lookup at two child counts, and the children of a node removed
one by one, in their order and in the reverse, against deleting the keys of a
dict, and a node of many children added below many parents (each addition a cycle
test) against dict assignments. Run with /usr/bin/python3."""
import array
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import statistics
import time

from timing import compare_stmt, report, section  # noqa: E402
from proxy import cls, q  # noqa: E402


def node_with(children):
    node = cls("MetadataNode")("root", None)
    for i in range(children):
        q.MetadataNode_add_child(node, q.MetadataNodeFactory_create("k%d" % i, None))
    return node


def main():
    section("Variant values from a list of one million items")
    ints = list(range(1_000_000))
    names = dict(create=q.VariantDataValueFactory_create, array=array.array, ints=ints,
                 floats=[float(i) for i in ints])
    compare_stmt("VariantDataValueFactory_create(ints)", "create(ints)", "array.array('q', ints)",
                 "array('q', ints)", 3, 5, **names)
    compare_stmt("VariantDataValueFactory_create(floats)", "create(floats)", "array.array('d', floats)",
                 "array('d', floats)", 3, 5, **names)
    for children in (1_000, 100_000):
        section("Metadata child lookup among %d children" % children)
        names = dict(node=node_with(children), key="k%d" % (children // 2), has=q.MetadataNode_has_child,
                     child=q.MetadataNode_child, d={"k%d" % i: i for i in range(children)})
        compare_stmt("MetadataNode_has_child", "has(node, key)", "key in dict", "key in d", 100_000, **names)
        compare_stmt("MetadataNode_child", "child(node, key)", "dict.get(key)", "d.get(key)", 100_000, **names)


def removals():
    for children in (12_000, 24_000):
        section("Adding %d children, then removing them one by one" % children)
        keys = ["k%d" % i for i in range(children)]
        add, remove = q.MetadataNode_add_child, q.MetadataNode_remove_child
        adding = ([], [])
        for order, label in ((keys, "first to last"), (keys[::-1], "last to first")):
            mine, theirs = [], []
            for _ in range(3):
                node, d = cls("MetadataNode")("root", None), {}
                made = [q.MetadataNodeFactory_create(k, None) for k in keys]
                t = time.perf_counter()
                for child in made:
                    add(node, child)
                adding[0].append(time.perf_counter() - t)
                t = time.perf_counter()
                for k in keys:
                    d[k] = None
                adding[1].append(time.perf_counter() - t)
                del made
                t = time.perf_counter()
                for k in order:
                    remove(node, k)
                mine.append(time.perf_counter() - t)
                t = time.perf_counter()
                for k in order:
                    del d[k]
                theirs.append(time.perf_counter() - t)
                assert node.get_child_count() == 0 and not d
            report("MetadataNode_remove_child, " + label, statistics.median(mine), "del dict[key]",
                   statistics.median(theirs))
        report("MetadataNode_add_child of the same children", statistics.median(adding[0]), "dict[key] = None",
               statistics.median(adding[1]))


def fans():
    count = 20_000
    section("A node of %d children added below %d parents of one root" % (count, count))
    node = cls("MetadataNode")("wide", None)
    for i in range(count):
        q.MetadataNode_add_child(node, q.MetadataNodeFactory_create("c%d" % i, None))

    def parents():
        """The parents, after their root (which must live: a root's children need no cycle test)."""
        root = q.MetadataNodeFactory_create("root", None)
        made = [q.MetadataNodeFactory_create("p%d" % i, None) for i in range(count)]
        for parent in made:
            q.MetadataNode_add_child(root, parent)
        return [root] + made

    def ours(made):
        for parent in made[1:]:
            q.MetadataNode_add_child(parent, node)

    def theirs(made):
        for parent in made[1:]:
            parent["wide"] = node

    mine = [], []
    for _ in range(3):
        for times, fn, made in ((mine[0], ours, parents()), (mine[1], theirs, [{} for _ in range(count + 1)])):
            t = time.perf_counter()
            fn(made)
            times.append(time.perf_counter() - t)
    report("MetadataNode_add_child (each a cycle test)", statistics.median(mine[0]), "dict[key] = node",
           statistics.median(mine[1]))


if __name__ == "__main__":
    main()
    removals()
    fans()
