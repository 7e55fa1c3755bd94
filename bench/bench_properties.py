"""Variant values from Python lists against array.array, and child lookup by
key against a dict lookup at two child counts. Run with /usr/bin/python3."""
import array
import os
import sys
import timeit

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from timing import best_per_call as best  # noqa: E402
from proxy import cls, q  # noqa: E402



def node_with(children):
    node = cls("MetadataNode")("root", None)
    for i in range(children):
        q.MetadataNode_add_child(node, q.MetadataNodeFactory_create("k%d" % i, None))
    return node


def main():
    ints = list(range(1_000_000))
    floats = [float(i) for i in ints]
    create = q.VariantDataValueFactory_create
    rows = []
    for name, data, code in (("ints", ints, "q"), ("floats", floats, "d")):
        ours = best("create(data)", 5, create=create, data=data)
        ref = best("array(code, data)", 5, array=array.array, code=code, data=data)
        rows.append(("create(1M %s) vs array('%s', ...)" % (name, code), ours * 1e3, ref * 1e3, ours / ref))
    for children in (1_000, 100_000):
        node = node_with(children)
        key = "k%d" % (children // 2)
        d = {"k%d" % i: i for i in range(children)}
        ours = best("has(node, key)", 200_000, has=q.MetadataNode_has_child, node=node, key=key)
        child = best("child(node, key)", 200_000, child=q.MetadataNode_child, node=node, key=key)
        ref = best("d[key]", 200_000, d=d, key=key)
        call = best("get(key)", 200_000, get=d.get, key=key)
        rows.append(("has_child, %d children vs d[key]" % children, ours * 1e9, ref * 1e9, ours / ref))
        rows.append(("has_child, %d children vs d.get(key)" % children, ours * 1e9, call * 1e9, ours / call))
        rows.append(("child, %d children vs d[key]" % children, child * 1e9, ref * 1e9, child / ref))
    print("%-44s %12s %12s %8s" % ("case", "ours", "reference", "ratio"))
    for name, ours, ref, ratio in rows:
        unit = "ms" if "create" in name else "ns"
        print("%-44s %9.2f %s %9.2f %s %8.2f" % (name, ours, unit, ref, unit, ratio))


if __name__ == "__main__":
    main()
