// ReadonlyMetadataNode: the read-only view of a metadata node.
#include "readonly/ReadonlyMetadataNode.h"

#include "properties.h"

namespace {

using namespace qw;
using namespace qw::props;
using quelbo::MetadataNode;
using quelbo::ReadonlyMetadataNode;

struct WrapperTr
{
    using T = ReadonlyMetadataNode;
    static constexpr const char* name = "ReadonlyMetadataNode";
    static constexpr const char* native = "quelbo::ReadonlyMetadataNode";
    static constexpr const char* self_type = "quelbo::ReadonlyMetadataNode const *";
};

PyObject* new_ReadonlyMetadataNode(PyObject*, PyObject* o)
{
    std::shared_ptr<MetadataNode> node;
    if (!shared_arg(o, {"new_ReadonlyMetadataNode", 1, "std::shared_ptr< quelbo::MetadataNode const >"}, node))
        return nullptr;
    return call([&] { return constructed(new ReadonlyMetadataNode(node)); });
}

// has_child / child: the wrapper (of a node), then the key.
bool wrapper_and_key(PyObject* args, const char* fn, ReadonlyMetadataNode*& w, std::string& key)
{
    PyObject* a[2];
    return unpack(fn, args, 2, 2, a) && wrapper_self(a[0], {fn, 1, WrapperTr::self_type}, w) &&
           arg(a[1], {fn, 2, "std::string const &"}, key);
}

PyObject* ReadonlyMetadataNode_has_child(PyObject*, PyObject* args)
{
    ReadonlyMetadataNode* w;
    std::string key;
    if (!wrapper_and_key(args, "ReadonlyMetadataNode_has_child", w, key))
        return nullptr;
    return call([&] { return to_py(w->has_child(key)); });
}

PyObject* ReadonlyMetadataNode_child(PyObject*, PyObject* args)
{
    ReadonlyMetadataNode* w;
    std::string key;
    if (!wrapper_and_key(args, "ReadonlyMetadataNode_child", w, key))
        return nullptr;
    return call([&] { return value(w->child(key)); });
}

constexpr char kClone[] = "clone";
constexpr char kGetKey[] = "get_key";
constexpr char kGetValue[] = "get_value";
constexpr char kGetChildCount[] = "get_child_count";
constexpr char kBegin[] = "__begin";
constexpr char kEnd[] = "__end";
constexpr char kToString[] = "to_string";

void add_readonly_metadata(Methods& m)
{
    using W = ReadonlyMetadataNode;
    m.add<&new_ReadonlyMetadataNode>("new_ReadonlyMetadataNode", METH_O);
    add_wrapper_getter<WrapperTr, kClone, &W::clone>(m, "Proxy for MetadataNode::clone.");
    add_wrapper_getter<WrapperTr, kGetKey, &W::get_key>(m, "Proxy for MetadataNode::key.");
    add_wrapper_getter<WrapperTr, kGetValue, &W::get_value>(m, "Proxy for MetadataNode::value.");
    add_wrapper_getter<WrapperTr, kGetChildCount, &W::get_child_count>(m, "Proxy for MetadataNode::childCount.");
    m.add<&ReadonlyMetadataNode_has_child>("ReadonlyMetadataNode_has_child", METH_VARARGS,
                                           "Proxy for MetadataNode::hasChild.");
    m.add<&ReadonlyMetadataNode_child>("ReadonlyMetadataNode_child", METH_VARARGS, "Proxy for MetadataNode::child.");
    add_wrapper_getter<WrapperTr, kBegin, &W::begin>(m, "Proxy for MetadataNode::cbegin.");
    add_wrapper_getter<WrapperTr, kEnd, &W::end>(m, "Proxy for MetadataNode::cend.");
    add_wrapper_getter<WrapperTr, kToString, &W::to_string>(m, "Proxy for MetadataNode::toString.");
    m.add<&ClassOps<WrapperTr>::del>("delete_ReadonlyMetadataNode", METH_O);
    add_hooks<W>(m, WrapperTr::name);
}

QW_FAMILY(order::readonly_metadata, add_readonly_metadata);

} // namespace
