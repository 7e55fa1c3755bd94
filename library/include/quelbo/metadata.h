// Metadata: typed values, trees of named nodes, their iterators and helpers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "quelbo/data_type.h"
#include "quelbo/element_types.h"
#include "quelbo/export.h"

namespace quelbo {

// A run of values of one DataType, stored contiguously. Numeric values are
// count() scalars of the type's bit depth packed one after the other; string
// values are count() pointers to zero-terminated strings of code units of the
// bit depth (never null). Values never change once made.
class QUELBO_API VariantDataValue
{
public:
    virtual ~VariantDataValue();

    // Copies this value.
    virtual std::shared_ptr<VariantDataValue> clone() const = 0;
    // Returns the type of the values stored.
    virtual DataType type() const = 0;
    // Returns the number of values of the specified type stored.
    virtual size_t count() const = 0;
    // A pointer to the location where all the values are stored continuously.
    virtual const void* raw() const = 0;

    // The values as text: numbers separated by ", ", UTF-8 strings quoted;
    // a string type of other code units as its type name and count.
    std::string toString() const;
};

// Makes values. Every array form copies count values from its pointer; a
// null pointer is accepted with a count of 0 only (InvalidArgument otherwise),
// and a null string in an array is stored as "".
class QUELBO_API VariantDataValueFactory
{
public:
    static std::shared_ptr<VariantDataValue> create(int64_t value);
    static std::shared_ptr<VariantDataValue> create(double value);
    static std::shared_ptr<VariantDataValue> create(char const* value);
#define QUELBO_CREATE_OF(T, S, ID) static std::shared_ptr<VariantDataValue> create(T const* values, size_t count);
    QUELBO_ELEMENT_TYPES(QUELBO_CREATE_OF)
#undef QUELBO_CREATE_OF
    static std::shared_ptr<VariantDataValue> create(char const** values, size_t count);
};

class MetadataNode;

namespace metadata_detail {
struct Children;
}

// A position among the children of a node. It keeps the children list of its
// node alive, so it never dangles. It designates a child: removing others
// leaves it there, removing the child it designates moves it to the next
// one, and one at the end designates a child added after it was there.
class QUELBO_API MetadataIteratorObject
{
public:
    // At the first child of node (the end when node is null or childless).
    explicit MetadataIteratorObject(std::shared_ptr<const MetadataNode> const& node);
    MetadataIteratorObject(std::shared_ptr<metadata_detail::Children> children, size_t position);
    MetadataIteratorObject(MetadataIteratorObject const& other);
    MetadataIteratorObject& operator=(MetadataIteratorObject const& other);
    ~MetadataIteratorObject();

    bool atEnd() const;
    // Moves to the next child; returns whether a child is designated then.
    // At the end it stays there and returns false.
    bool next();
    // The child designated; Error at the end.
    std::shared_ptr<MetadataNode> value() const;
    // Equal when both designate the same position of the same node, or both
    // are at the end of the same node.
    bool equals(MetadataIteratorObject const& other) const;

private:
    friend struct metadata_detail::Children;
    void attach();
    void detach();

    std::shared_ptr<metadata_detail::Children> m_children;
    mutable size_t m_position;
    // The other iterators of the same list, which moves their positions
    // when it squeezes its slots together.
    MetadataIteratorObject* m_prev = nullptr;
    MetadataIteratorObject* m_next = nullptr;
};

// The same over a node seen as constant.
class QUELBO_API ConstMetadataIteratorObject : public MetadataIteratorObject
{
public:
    using MetadataIteratorObject::MetadataIteratorObject;
};

// Iterator over the children of a node. It owns a copy of its position object:
// the constructor from a pointer copies the object (null: an iterator that
// designates nothing), so the caller keeps what it passed.
template <class Object>
class QUELBO_API BasicMetadataNodeIterator
{
public:
    BasicMetadataNodeIterator();
    explicit BasicMetadataNodeIterator(Object* object);
    BasicMetadataNodeIterator(BasicMetadataNodeIterator const& other);
    BasicMetadataNodeIterator& operator=(BasicMetadataNodeIterator const& other);
    ~BasicMetadataNodeIterator();

    // Advances; returns whether the iterator then designates a child. False
    // at the end and on an iterator of no node.
    bool next();
    // The current child; Error at the end or on an iterator of no node.
    std::shared_ptr<MetadataNode> value() const;
    std::shared_ptr<MetadataNode> operator*() const { return value(); }
    std::shared_ptr<MetadataNode> operator->() const { return value(); }
    // Iterators of no node are equal to each other only.
    bool operator==(BasicMetadataNodeIterator const& other) const;
    bool operator!=(BasicMetadataNodeIterator const& other) const { return !(*this == other); }

    Object* m_object;
};

using MetadataNodeIterator = BasicMetadataNodeIterator<MetadataIteratorObject>;
using ConstMetadataNodeIterator = BasicMetadataNodeIterator<ConstMetadataIteratorObject>;
extern template class BasicMetadataNodeIterator<MetadataIteratorObject>;
extern template class BasicMetadataNodeIterator<ConstMetadataIteratorObject>;

// One node of a metadata tree: a key, an optional value and children addressed
// by their keys, kept in insertion order. Adding, finding and removing a
// child take constant time (amortized). A node may be the child of several
// parents (it is shared, not copied); it is never its own descendant. Walks
// of what is below a node (copies, texts, records) visit each distinct node
// once, so they cost the distinct nodes and their links; deep trees are
// copied, printed and destroyed without recursion.
class QUELBO_API MetadataNode
{
public:
    MetadataNode(std::string const& key, std::shared_ptr<VariantDataValue> value);
    // A node of the same key and value over the same child nodes.
    MetadataNode(MetadataNode const& other);
    // Takes the children; the source is left with its key, no value, no children.
    MetadataNode(MetadataNode&& other);
    ~MetadataNode();

    // A copy of the whole tree below this node (values are shared: they never
    // change); a node below several parents is copied once, and the copy is
    // below the same parents' copies.
    std::shared_ptr<MetadataNode> clone() const;
    std::string const& key() const;
    std::shared_ptr<VariantDataValue> value() const;
    size_t childCount() const;
    bool hasChild(std::string const& key) const;
    // Error If the key is not found in the children of the current node.
    std::shared_ptr<const MetadataNode> child(std::string const& key) const;
    std::shared_ptr<MetadataNode> child(std::string const& key);
    // Add a node as child. If the given child key already exists in the
    // current node, existing child is replaced by new one. Error for a null
    // child and for a child that is this node or has it as a descendant (the
    // test searches the child's subtree and this node's ancestors in turns:
    // its cost is that of the smaller).
    void addChild(std::shared_ptr<MetadataNode> child);
    // Removes the child identified by its key; nothing when there is none.
    void removeChild(std::string const& key);

    MetadataNodeIterator begin();
    MetadataNodeIterator end();
    ConstMetadataNodeIterator begin() const;
    ConstMetadataNodeIterator end() const;
    ConstMetadataNodeIterator cbegin() const;
    ConstMetadataNodeIterator cend() const;

    // key, " = " and the value when there is one, then " { " children
    // separated by ", " " }" when there are some. A node met more than once
    // is shown at its first place with "&n " before its key (n counting
    // such nodes from 1) and as "*n" at each later one.
    std::string toString() const;

private:
    friend class MetadataIteratorObject;
    friend struct metadata_detail::Children;
    friend class MetadataNodeHelper;
    std::string m_key;
    std::shared_ptr<VariantDataValue> m_value;
    std::shared_ptr<metadata_detail::Children> m_private;
};

// Makes nodes.
class QUELBO_API MetadataNodeFactory
{
public:
    // A node with the given key and value; value can be null if no value.
    static std::shared_ptr<MetadataNode> create(std::string const& key, std::shared_ptr<VariantDataValue> value);
};

// Reaches nodes by path below a root. A path is a chain of child keys separated
// by "/" or "\"; a leading separator is optional and repeated separators count
// as one, so /A/B/C, A/B/C and \A\B\C name the same node. An empty path names
// the root. No wildcards.
class QUELBO_API MetadataNodeHelper
{
public:
    // The node at path, null when there is none (or when root is null).
    static std::shared_ptr<MetadataNode> getNode(std::shared_ptr<const MetadataNode> root, std::string const& path);
    static bool exists(std::shared_ptr<const MetadataNode> root, std::string const& path);
    // Creates the missing nodes of path below origin; value becomes the value
    // of the last node, which is replaced by a new node when it exists already
    // (its children are kept). Returns origin. InvalidArgument for a null origin
    // or an empty path.
    static std::shared_ptr<MetadataNode> createPath(std::shared_ptr<MetadataNode> origin, std::string const& path,
                                                    std::shared_ptr<VariantDataValue> value);
};

} // namespace quelbo
