// MetadataNode, one node of a metadata tree, and the iterators over its children.
#include "properties.h"
#include "quelbo/metadata.h"

namespace {

using namespace qw;
using namespace qw::props;
using quelbo::ConstMetadataIteratorObject;
using quelbo::ConstMetadataNodeIterator;
using quelbo::MetadataIteratorObject;
using quelbo::MetadataNode;
using quelbo::MetadataNodeIterator;
using quelbo::VariantDataValue;
using Node = std::shared_ptr<MetadataNode>;

struct NodeTr
{
    using T = MetadataNode;
    static constexpr const char* name = "MetadataNode";
    static constexpr const char* self_type = "quelbo::MetadataNode const *";
    static constexpr const char* mut_type = "quelbo::MetadataNode *";
};

constexpr const char* kKeyType = "std::string const &";

// ------------------------------------------------------------------- node

PyObject* new_node(Node node)
{
    return constructed(new Node(std::move(node)));
}

PyObject* new_MetadataNode(PyObject*, PyObject* args)
{
    static const char* fn = "new_MetadataNode";
    static const Overloads rows(
        fn, {{"quelbo::MetadataNode::MetadataNode(quelbo::MetadataNode const &)", 1, 1,
              [](Args a, Py_ssize_t) { return is_shared<MetadataNode>(a[0]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  Node other;
                  if (!shared_self(a[0], {fn, 1, "quelbo::MetadataNode const &"}, other))
                      return nullptr;
                  return call([&] { return new_node(std::make_shared<MetadataNode>(*other)); });
              },
              1},
             {"quelbo::MetadataNode::MetadataNode(quelbo::MetadataNode &&)", 1, 1,
              [](Args a, Py_ssize_t) { return is_obj<MetadataNode>(a[0]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  MetadataNode* source;
                  if (!release(a[0], {fn, 1, "quelbo::MetadataNode &&"}, source))
                      return nullptr;
                  PyObject* r = call([&] { return new_node(std::make_shared<MetadataNode>(std::move(*source))); });
                  dispose(source);
                  return r;
              },
              2},
             {"quelbo::MetadataNode::MetadataNode(std::string const &,std::shared_ptr< quelbo::VariantDataValue >)", 2,
              2, [](Args a, Py_ssize_t) { return is_text(a[0]) && is_shared<VariantDataValue>(a[1]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  std::string key;
                  std::shared_ptr<VariantDataValue> value;
                  if (!arg(a[0], {fn, 1, kKeyType}, key) ||
                      !shared_arg(a[1], {fn, 2, "std::shared_ptr< quelbo::VariantDataValue >"}, value))
                      return nullptr;
                  return call([&] { return new_node(std::make_shared<MetadataNode>(key, value)); });
              },
              0}});
    return rows(args);
}

// A method of the node taking a key: the node (held for the call), then the key.
bool node_and_key(PyObject* args, const char* fn, const char* self_type, Node& node, std::string& key)
{
    PyObject* a[2];
    return unpack(fn, args, 2, 2, a) && shared_self(a[0], {fn, 1, self_type}, node) &&
           arg(a[1], {fn, 2, kKeyType}, key);
}

PyObject* MetadataNode_has_child(PyObject*, PyObject* args)
{
    Node node;
    std::string key;
    if (!node_and_key(args, "MetadataNode_has_child", NodeTr::self_type, node, key))
        return nullptr;
    return call([&] { return to_py(node->hasChild(key)); });
}

PyObject* MetadataNode_remove_child(PyObject*, PyObject* args)
{
    Node node;
    std::string key;
    if (!node_and_key(args, "MetadataNode_remove_child", NodeTr::mut_type, node, key))
        return nullptr;
    return call([&] {
        node->removeChild(key);
        return none();
    });
}

bool is_node_and_key(Args a, Py_ssize_t)
{
    return is_shared<MetadataNode>(a[0]) && is_text(a[1]);
}

PyObject* child(Args a, Py_ssize_t)
{
    static const char* fn = "MetadataNode_child";
    Node node;
    std::string key;
    if (!shared_self(a[0], {fn, 1, NodeTr::self_type}, node) || !arg(a[1], {fn, 2, kKeyType}, key))
        return nullptr;
    return call([&] { return shared(std::const_pointer_cast<MetadataNode>(std::as_const(*node).child(key))); });
}

PyObject* MetadataNode_child(PyObject*, PyObject* args)
{
    static const Overloads rows(
        "MetadataNode_child",
        {{"quelbo::MetadataNode::child(std::string const &) const", 2, 2, &is_node_and_key, &child, 0},
         {"quelbo::MetadataNode::child(std::string const &)", 2, 2, &is_node_and_key, &child, 1}});
    return rows(args);
}

PyObject* MetadataNode_add_child(PyObject*, PyObject* args)
{
    static const char* fn = "MetadataNode_add_child";
    PyObject* a[2];
    Node node, added;
    if (!unpack(fn, args, 2, 2, a) || !shared_self(a[0], {fn, 1, NodeTr::mut_type}, node) ||
        !shared_arg(a[1], {fn, 2, "std::shared_ptr< quelbo::MetadataNode >"}, added))
        return nullptr;
    return call([&] {
        node->addChild(added);
        return none();
    });
}

// __begin / __end: an iterator of the node's children, owned by its handle.
template <bool Begin>
PyObject* iterate(Args a, Py_ssize_t)
{
    static const char* fn = Begin ? "MetadataNode___begin" : "MetadataNode___end";
    Node node;
    if (!shared_self(a[0], {fn, 1, NodeTr::mut_type}, node))
        return nullptr;
    return call([&] { return value(Begin ? node->begin() : node->end()); });
}

bool is_node(Args a, Py_ssize_t)
{
    return is_shared<MetadataNode>(a[0]);
}

PyObject* MetadataNode___begin(PyObject*, PyObject* args)
{
    static const Overloads rows("MetadataNode___begin",
                                {{"quelbo::MetadataNode::begin()", 1, 1, &is_node, &iterate<true>, 0},
                                 {"quelbo::MetadataNode::begin() const", 1, 1, &is_node, &iterate<true>, 1}});
    return rows(args);
}

PyObject* MetadataNode___end(PyObject*, PyObject* args)
{
    static const Overloads rows("MetadataNode___end",
                                {{"quelbo::MetadataNode::end()", 1, 1, &is_node, &iterate<false>, 0},
                                 {"quelbo::MetadataNode::end() const", 1, 1, &is_node, &iterate<false>, 1}});
    return rows(args);
}

PyObject* delete_MetadataNode(PyObject*, PyObject* o)
{
    return destroy<Node>(o, {"delete_MetadataNode", 1, "quelbo::MetadataNode *"});
}

constexpr char kClone[] = "clone";
constexpr char kGetKey[] = "get_key";
constexpr char kGetValue[] = "get_value";
constexpr char kGetChildCount[] = "get_child_count";
constexpr char kToString[] = "to_string";

void add_metadata_node(Methods& m)
{
    m.add<&new_MetadataNode>("new_MetadataNode", METH_VARARGS);
    add_shared_getter<NodeTr, kClone, &MetadataNode::clone>(m);
    add_shared_getter<NodeTr, kGetKey, &MetadataNode::key>(m);
    add_shared_getter<NodeTr, kGetValue, &MetadataNode::value>(m);
    add_shared_getter<NodeTr, kGetChildCount, &MetadataNode::childCount>(m);
    m.add<&MetadataNode_has_child>("MetadataNode_has_child", METH_VARARGS);
    m.add<&MetadataNode_child>("MetadataNode_child", METH_VARARGS,
                               "\n*Overload 1:*\n"
                               ":type key: string\n:param key: the key of the child\n"
                               ":rtype: MetadataNode\n:return: the child corresponding to given key\n"
                               ":raises: Error If the key is not found in the children of the current node\n\n|\n\n"
                               "*Overload 2:*\n"
                               ":type key: string\n:param key: the key of the child\n"
                               ":rtype: MetadataNode\n:return: the child corresponding to given key\n"
                               ":raises: Error If the key is not found in the children of the current node\n");
    m.add<&MetadataNode_add_child>("MetadataNode_add_child", METH_VARARGS,
                                   "\nAdd a node as child. If the given child key already exists in the current node,\n"
                                   "existing child is replaced by new one\n");
    m.add<&MetadataNode_remove_child>("MetadataNode_remove_child", METH_VARARGS,
                                      "\nRemove a child node identified by its key\n");
    m.add<&MetadataNode___begin>("MetadataNode___begin", METH_VARARGS, "\n:return: iterator on first child\n");
    m.add<&MetadataNode___end>("MetadataNode___end", METH_VARARGS,
                               "\n:return: iterator which indicates the end of children list\n");
    add_shared_getter<NodeTr, kToString, &MetadataNode::toString>(m);
    m.add<&delete_MetadataNode>("delete_MetadataNode", METH_O);
    add_hooks<Node>(m, "MetadataNode");
}

QW_FAMILY(order::metadata_node, add_metadata_node);

// -------------------------------------------------------------- iterators

struct IteratorTr
{
    using T = MetadataNodeIterator;
    using Object = MetadataIteratorObject;
    static constexpr const char* name = "MetadataNodeIterator";
    static constexpr const char* native = "quelbo::MetadataNodeIterator";
    static constexpr const char* object = "quelbo::MetadataIteratorObject";
    static constexpr const char* self_type = "quelbo::MetadataNodeIterator const *";
    static constexpr const char* mut_type = "quelbo::MetadataNodeIterator *";
    static constexpr const char* other_type = "quelbo::MetadataNodeIterator const &";
};

struct ConstIteratorTr
{
    using T = ConstMetadataNodeIterator;
    using Object = ConstMetadataIteratorObject;
    static constexpr const char* name = "ConstMetadataNodeIterator";
    static constexpr const char* native = "quelbo::ConstMetadataNodeIterator";
    static constexpr const char* object = "quelbo::ConstMetadataIteratorObject";
    static constexpr const char* self_type = "quelbo::ConstMetadataNodeIterator const *";
    static constexpr const char* mut_type = "quelbo::ConstMetadataNodeIterator *";
    static constexpr const char* other_type = "quelbo::ConstMetadataNodeIterator const &";
};

// The flat functions of one iterator class.
template <class Tr>
struct Iterator
{
    using It = typename Tr::T;
    using Object = typename Tr::Object;

    static const char* fn(const char* suffix) { return joined(Tr::name, suffix); }

    static PyObject* make(PyObject*, PyObject* args)
    {
        static const char* f = joined("new_", Tr::name);
        static const char* p_default = joined(Tr::native, "::", joined(Tr::name, "()"));
        static const char* p_object = joined(Tr::native, "::", joined(Tr::name, "(", joined(Tr::object, " *)")));
        static const char* p_copy = joined(Tr::native, "::", joined(Tr::name, "(", joined(Tr::native, " const &)")));
        static const Overloads rows(
            f,
            {{p_default, 0, 0, nullptr, [](Args, Py_ssize_t) { return call([] { return constructed(new It()); }); }, 0},
             {p_object, 1, 1, [](Args a, Py_ssize_t) { return is_obj<Object>(a[0], true); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  Object* object;
                  if (!ptr(a[0], {f, 1, joined(Tr::object, " *")}, object))
                      return nullptr;
                  return call([&] { return constructed(new It(object)); });
              },
              1},
             {p_copy, 1, 1, [](Args a, Py_ssize_t) { return is_obj<It>(a[0]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  It* other;
                  if (!ref(a[0], {f, 1, Tr::other_type}, other))
                      return nullptr;
                  return call([&] { return constructed(new It(*other)); });
              },
              2}});
        return rows(args);
    }

    static PyObject* next(PyObject*, PyObject* o)
    {
        static const char* f = fn("_next");
        It* it;
        if (!self(o, {f, 1, Tr::mut_type}, it))
            return nullptr;
        return call([&] { return to_py(it->next()); });
    }

    // value, __ref__ and __deref__: the current child; Error where there is none.
    template <const char* Suffix>
    static PyObject* current(PyObject*, PyObject* o)
    {
        static const char* f = fn(Suffix);
        It* it;
        if (!self(o, {f, 1, Tr::mut_type}, it))
            return nullptr;
        return call([&] { return shared(it->value()); });
    }

    static PyObject* ref_(PyObject* s, PyObject* o) { return not_implemented(current<kRef>(s, o)); }

    static constexpr char kValue[] = "_value";
    static constexpr char kRef[] = "___ref__";
    static constexpr char kDeref[] = "___deref__";

    static void add(Methods& m)
    {
        m.add<&make>(joined("new_", Tr::name), METH_VARARGS);
        m.add<&next>(fn("_next"), METH_O);
        m.add<&current<kValue>>(fn("_value"), METH_O);
        m.add<&ref_>(fn("___ref__"), METH_O);
        m.add<&current<kDeref>>(fn("___deref__"), METH_O);
        add_object_compare<Tr>(m);
        m.add<&ClassOps<Tr>::del>(joined("delete_", Tr::name), METH_O);
        add_hooks<It>(m, Tr::name);
    }
};

void add_metadata_iterators(Methods& m)
{
    Iterator<IteratorTr>::add(m);
    Iterator<ConstIteratorTr>::add(m);
}

QW_FAMILY(order::metadata_iterators, add_metadata_iterators);

} // namespace
