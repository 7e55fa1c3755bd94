// MetadataNode, one node of a metadata tree, and the iterators over its children.
#include "properties.h"
#include "quelbo/metadata.h"
#include "runtime/members.h"
#include "native_types.h"

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

using NodeTr = Traits<MetadataNode>;

using Constant = SharedSelf<MetadataNode, &NodeTr::self_type>;
using Changing = SharedSelf<MetadataNode, &NodeTr::mut_type>;

// ------------------------------------------------------------------- node

template <class P, int Decl>
using Made = Constructor<&NodeTr::constructor, P, Decl>;

struct new_keyed : Made<Params<Key, SharedArg<VariantDataValue>>, 0>
{
    static constexpr auto call = [](const std::string& key, const std::shared_ptr<VariantDataValue>& value) {
        return new_shared(std::make_shared<MetadataNode>(key, value));
    };
};
struct new_metadata_node
    : DeclareOverloads<new_metadata_node, SharedCopyConstructor<NodeTr, 1>, SharedMoveConstructor<NodeTr, 2>, new_keyed>
{
    static constexpr const char* name = "new_MetadataNode";
};

using has_child = Fn<QW_NAME("MetadataNode_has_child"), &MetadataNode::hasChild, Constant, Key>;

// child(key), const or not: the same child, found by the const member.
template <const char* Suffix, int Decl>
struct child_of : Candidate<Params<Constant, Key>, Decl>
{
    static constexpr const char* member = member_of<MetadataNode, QW_NAME("child")>;
    static constexpr const char* suffix = Suffix;
    static constexpr auto call = [](MetadataNode* node, const std::string& key) {
        return std::as_const(*node).child(key);
    };
};
struct child : DeclareOverloads<child, child_of<spelling::const_, 0>, child_of<QW_NAME(""), 1>>
{
    static constexpr const char* name = "MetadataNode_child";
    static constexpr const char* doc =
        "\n*Overload 1:*\n"
        ":type key: string\n:param key: the key of the child\n"
        ":rtype: MetadataNode\n:return: the child corresponding to given key\n"
        ":raises: Error If the key is not found in the children of the current node\n\n|\n\n"
        "*Overload 2:*\n"
        ":type key: string\n:param key: the key of the child\n"
        ":rtype: MetadataNode\n:return: the child corresponding to given key\n"
        ":raises: Error If the key is not found in the children of the current node\n";
};

// __begin / __end, const or not: an iterator of the node's children, owned by its handle.
template <const char* Member, const char* Suffix, int Decl, bool Begin>
struct iterate : Candidate<Params<Changing>, Decl>
{
    static constexpr const char* member = member_of<MetadataNode, Member>;
    static constexpr const char* suffix = Suffix;
    static constexpr auto call = [](MetadataNode* node) { return Begin ? node->begin() : node->end(); };
};
struct begin : DeclareOverloads<begin, iterate<QW_NAME("begin"), QW_NAME(""), 0, true>,
                                iterate<QW_NAME("begin"), spelling::const_, 1, true>>
{
    static constexpr const char* name = "MetadataNode___begin";
    static constexpr const char* doc = "\n:return: iterator on first child\n";
};
struct end : DeclareOverloads<end, iterate<QW_NAME("end"), QW_NAME(""), 0, false>,
                              iterate<QW_NAME("end"), spelling::const_, 1, false>>
{
    static constexpr const char* name = "MetadataNode___end";
    static constexpr const char* doc = "\n:return: iterator which indicates the end of children list\n";
};

void add_metadata_node(Methods& m)
{
    m.add<new_metadata_node>();
    add_shared_getter<NodeTr, QW_NAME("clone"), &MetadataNode::clone>(m);
    add_shared_getter<NodeTr, QW_NAME("get_key"), &MetadataNode::key>(m);
    add_shared_getter<NodeTr, QW_NAME("get_value"), &MetadataNode::value>(m);
    add_shared_getter<NodeTr, QW_NAME("get_child_count"), &MetadataNode::childCount>(m);
    m.add<has_child>();
    m.add<child>();
    m.add<Fn<QW_NAME("MetadataNode_add_child"), &MetadataNode::addChild, Changing, SharedArg<MetadataNode>>>(
        "\nAdd a node as child. If the given child key already exists in the current node,\n"
        "existing child is replaced by new one\n");
    m.add<Fn<QW_NAME("MetadataNode_remove_child"), &MetadataNode::removeChild, Changing, Key>>(
        "\nRemove a child node identified by its key\n");
    m.add<begin>();
    m.add<end>();
    add_shared_getter<NodeTr, QW_NAME("to_string"), &MetadataNode::toString>(m);
    m.add<Delete<SharedHandle<NodeTr>>>();
    add_hooks<Node>(m, "MetadataNode");
}

QW_FAMILY(add_metadata_node);

// -------------------------------------------------------------- iterators

struct IteratorTr : Traits<MetadataNodeIterator>
{
    using Object = MetadataIteratorObject;
    static constexpr const char* constructor = JoinedText<&Traits::native, spelling::scope, &Traits::name>::text;
    static constexpr const char* object_ptr = Named<Object*>::text;
};

struct ConstIteratorTr : Traits<ConstMetadataNodeIterator>
{
    using Object = ConstMetadataIteratorObject;
    static constexpr const char* constructor = JoinedText<&Traits::native, spelling::scope, &Traits::name>::text;
    static constexpr const char* object_ptr = Named<Object*>::text;
};

// The flat functions of one iterator class.
template <class Tr>
struct Iterator
{
    using It = typename Tr::T;
    using Object = typename Tr::Object;

    static const char* fn(const char* suffix) { return joined(Tr::name, suffix); }

    template <class P, int Decl>
    struct Made : Candidate<P, Decl>
    {
        static constexpr const char* member = Tr::constructor;
    };
    struct made_empty : Made<Params<>, 0>
    {
        static constexpr auto call = [] { return constructed(new It()); };
    };
    struct made_over : Made<Params<Ptr<Object, &Tr::object_ptr>>, 1>
    {
        static constexpr auto call = [](Object* object) { return constructed(new It(object)); };
    };
    struct made_copy : Made<Params<Ref<It, &Tr::other_type>>, 2>
    {
        static constexpr auto call = [](const It& other) { return constructed(new It(other)); };
    };
    struct make : DeclareOverloads<make, made_empty, made_over, made_copy>, NewName<Tr>
    {
    };

    using Current = Self<It, &Tr::mut_type>;

    // value, __ref__ and __deref__: the current child; Error where there is none.
    struct ref_ : Declare<ref_, Params<Current>>
    {
        static const char* name()
        {
            static const char* f = fn("___ref__");
            return f;
        }
        static constexpr auto call = &It::value;
        static PyObject* outcome(PyObject* r) { return not_implemented(r); }
    };

    static void add(Methods& m)
    {
        m.add<make>();
        m.add<Getter<Tr, QW_NAME("next"), Current, &It::next>>();
        m.add<Getter<Tr, QW_NAME("value"), Current, &It::value>>();
        m.add<ref_>();
        m.add<Getter<Tr, QW_NAME("__deref__"), Current, &It::value>>();
        add_object_compare<Tr>(m);
        m.add<Delete<Tr>>();
        add_hooks<It>(m, Tr::name);
    }
};

void add_metadata_iterators(Methods& m)
{
    Iterator<IteratorTr>::add(m);
    Iterator<ConstIteratorTr>::add(m);
}

QW_FAMILY(add_metadata_iterators);

} // namespace
