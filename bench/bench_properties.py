"""Variant values from Python lists against array.array, and child lookup by
key against a dict lookup at two child counts. Run with /usr/bin/python3."""
import array
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import compare_stmt, section  # noqa: E402
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


if __name__ == "__main__":
    main()
