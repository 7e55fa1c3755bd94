// Metadata trees: nodes, iterators over their children, the node factory and the path helper.
#include "quelbo/metadata.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "metadata/metadata_graph.h"
#include "quelbo/data_type_traits.h"
#include "quelbo/error.h"
#include "quelbo/vector.h"

namespace quelbo {

using metadata_detail::Children;

// ---------------------------------------------------------------- iterators

MetadataIteratorObject::MetadataIteratorObject(std::shared_ptr<const MetadataNode> const& node)
    : m_children(node ? node->m_private : nullptr), m_position(0)
{
    attach();
}

MetadataIteratorObject::MetadataIteratorObject(std::shared_ptr<Children> children, size_t position)
    : m_children(std::move(children)), m_position(position)
{
    attach();
}

MetadataIteratorObject::MetadataIteratorObject(MetadataIteratorObject const& other)
    : m_children(other.m_children), m_position(other.m_position)
{
    attach();
}

MetadataIteratorObject& MetadataIteratorObject::operator=(MetadataIteratorObject const& other)
{
    if (this != &other) {
        detach();
        m_children = other.m_children;
        m_position = other.m_position;
        attach();
    }
    return *this;
}

MetadataIteratorObject::~MetadataIteratorObject()
{
    detach();
}

void MetadataIteratorObject::attach()
{
    if (!m_children)
        return;
    m_prev = nullptr;
    m_next = m_children->iterators;
    if (m_next != nullptr)
        m_next->m_prev = this;
    m_children->iterators = this;
    ++m_children->iteratorCount;
}

void MetadataIteratorObject::detach()
{
    if (!m_children)
        return;
    if (m_prev != nullptr)
        m_prev->m_next = m_next;
    else
        m_children->iterators = m_next;
    if (m_next != nullptr)
        m_next->m_prev = m_prev;
    m_prev = m_next = nullptr;
    --m_children->iteratorCount;
}

// The position moves past removed children as it is looked at (their slots
// stay empty until the list squeezes them out, moving the position).
bool MetadataIteratorObject::atEnd() const
{
    if (!m_children)
        return true;
    if (m_position < m_children->slots.size())
        m_position = m_children->nextLive(m_position);
    return m_position >= m_children->slots.size();
}

bool MetadataIteratorObject::next()
{
    if (atEnd())
        return false;
    ++m_position;
    return !atEnd();
}

std::shared_ptr<MetadataNode> MetadataIteratorObject::value() const
{
    if (atEnd())
        throw Error("MetadataNodeIterator: the iterator designates no child");
    return m_children->slots[m_position];
}

bool MetadataIteratorObject::equals(MetadataIteratorObject const& other) const
{
    if (m_children != other.m_children)
        return false;
    bool const end = atEnd();
    return end == other.atEnd() && (end || m_position == other.m_position);
}

template <class Object>
BasicMetadataNodeIterator<Object>::BasicMetadataNodeIterator() : m_object(nullptr)
{}

template <class Object>
BasicMetadataNodeIterator<Object>::BasicMetadataNodeIterator(Object* object)
    : m_object(object ? new Object(*object) : nullptr)
{}

template <class Object>
BasicMetadataNodeIterator<Object>::BasicMetadataNodeIterator(BasicMetadataNodeIterator const& other)
    : BasicMetadataNodeIterator(other.m_object)
{}

template <class Object>
BasicMetadataNodeIterator<Object>& BasicMetadataNodeIterator<Object>::operator=(BasicMetadataNodeIterator const& other)
{
    if (this != &other) {
        Object* copy = other.m_object ? new Object(*other.m_object) : nullptr;
        delete m_object;
        m_object = copy;
    }
    return *this;
}

template <class Object>
BasicMetadataNodeIterator<Object>::~BasicMetadataNodeIterator()
{
    delete m_object;
}

template <class Object>
bool BasicMetadataNodeIterator<Object>::next()
{
    return m_object != nullptr && m_object->next();
}

template <class Object>
std::shared_ptr<MetadataNode> BasicMetadataNodeIterator<Object>::value() const
{
    if (m_object == nullptr)
        throw Error("MetadataNodeIterator: the iterator designates no child");
    return m_object->value();
}

template <class Object>
bool BasicMetadataNodeIterator<Object>::operator==(BasicMetadataNodeIterator const& other) const
{
    if (m_object == nullptr || other.m_object == nullptr)
        return m_object == other.m_object;
    return m_object->equals(*other.m_object);
}

template class BasicMetadataNodeIterator<MetadataIteratorObject>;
template class BasicMetadataNodeIterator<ConstMetadataIteratorObject>;

// --------------------------------------------------------------------- node

MetadataNode::MetadataNode(std::string const& key, std::shared_ptr<VariantDataValue> value)
    : m_key(key), m_value(std::move(value)), m_private(std::make_shared<Children>())
{}

MetadataNode::MetadataNode(MetadataNode const& other)
    : m_key(other.m_key), m_value(other.m_value), m_private(std::make_shared<Children>())
{
    m_private->adopt(*other.m_private);
}

MetadataNode::MetadataNode(MetadataNode&& other)
    : m_key(other.m_key), m_value(std::move(other.m_value)), m_private(std::make_shared<Children>())
{
    std::swap(m_private, other.m_private);
    // The lists holding `other` still hold it, not this new node.
    std::swap(m_private->parents, other.m_private->parents);
}

MetadataNode::~MetadataNode() = default;

std::shared_ptr<MetadataNode> MetadataNode::clone() const
{
    // A node reached twice (below two parents) is copied once and shared
    // the same way in the copy.
    std::vector<std::shared_ptr<MetadataNode>> copies;
    std::vector<MetadataNode*> parents;
    metadata_detail::walk(
        *this,
        [&](MetadataNode const& node, std::size_t) {
            copies.push_back(std::make_shared<MetadataNode>(node.m_key, node.m_value));
            if (!parents.empty())
                parents.back()->m_private->put(copies.back());
            parents.push_back(copies.back().get());
        },
        [&](MetadataNode const&, std::size_t number) { parents.back()->m_private->put(copies[number]); },
        [&](MetadataNode const&) { parents.pop_back(); });
    return copies.front();
}

std::string const& MetadataNode::key() const
{
    return m_key;
}

std::shared_ptr<VariantDataValue> MetadataNode::value() const
{
    return m_value;
}

size_t MetadataNode::childCount() const
{
    return m_private->live;
}

bool MetadataNode::hasChild(std::string const& key) const
{
    return m_private->find(key) != nullptr;
}

std::shared_ptr<const MetadataNode> MetadataNode::child(std::string const& key) const
{
    auto const found = m_private->findShared(key);
    if (found == nullptr)
        throw Error("MetadataNode: no child of key \"" + key + "\" in node \"" + m_key + "\"");
    return *found;
}

std::shared_ptr<MetadataNode> MetadataNode::child(std::string const& key)
{
    return std::const_pointer_cast<MetadataNode>(static_cast<MetadataNode const*>(this)->child(key));
}

void MetadataNode::addChild(std::shared_ptr<MetadataNode> child)
{
    if (!child)
        throw Error("MetadataNode: cannot add a null child");
    if (child->m_private->reaches(m_private.get()))
        throw Error("MetadataNode: adding \"" + child->m_key + "\" to \"" + m_key +
                    "\" would make the node its own descendant");
    m_private->put(std::move(child));
}

void MetadataNode::removeChild(std::string const& key)
{
    m_private->remove(key);
}

MetadataNodeIterator MetadataNode::begin()
{
    MetadataIteratorObject object(m_private, 0);
    return MetadataNodeIterator(&object);
}

MetadataNodeIterator MetadataNode::end()
{
    MetadataIteratorObject object(m_private, SIZE_MAX);
    return MetadataNodeIterator(&object);
}

ConstMetadataNodeIterator MetadataNode::begin() const
{
    return cbegin();
}

ConstMetadataNodeIterator MetadataNode::end() const
{
    return cend();
}

ConstMetadataNodeIterator MetadataNode::cbegin() const
{
    ConstMetadataIteratorObject object(m_private, 0);
    return ConstMetadataNodeIterator(&object);
}

ConstMetadataNodeIterator MetadataNode::cend() const
{
    ConstMetadataIteratorObject object(m_private, SIZE_MAX);
    return ConstMetadataNodeIterator(&object);
}

std::string MetadataNode::toString() const
{
    // A node met more than once is shown at its first place, marked "&n"
    // (n counting such nodes from 1), and as "*n" at each later one: a
    // first walk finds them.
    std::unordered_set<MetadataNode const*> shared;
    metadata_detail::walk(
        *this, [](MetadataNode const&, std::size_t) {},
        [&](MetadataNode const& node, std::size_t) { shared.insert(&node); }, [](MetadataNode const&) {});
    std::unordered_map<std::size_t, std::size_t> marks; // a node's walk number to its mark
    std::string out;
    // Before a node: " { " for a first child, ", " for a later one.
    std::vector<bool> first{true};
    auto const before = [&] {
        if (first.size() > 1)
            out += first.back() ? " { " : ", ";
        first.back() = false;
    };
    metadata_detail::walk(
        *this,
        [&](MetadataNode const& node, std::size_t number) {
            before();
            if (shared.count(&node) != 0) {
                std::size_t const mark = marks.size() + 1;
                marks.emplace(number, mark);
                out += "&" + std::to_string(mark) + " ";
            }
            out += node.m_key;
            if (node.m_value)
                out += " = " + node.m_value->toString();
            first.push_back(true);
        },
        [&](MetadataNode const&, std::size_t number) {
            before();
            out += "*" + std::to_string(marks.at(number));
        },
        [&](MetadataNode const&) {
            if (!first.back())
                out += " }";
            first.pop_back();
        });
    return out;
}

// ------------------------------------------------------ factory and helper

std::shared_ptr<MetadataNode> MetadataNodeFactory::create(std::string const& key,
                                                          std::shared_ptr<VariantDataValue> value)
{
    return std::make_shared<MetadataNode>(key, std::move(value));
}

namespace {

std::vector<std::string> splitPath(std::string const& path)
{
    std::vector<std::string> keys;
    std::string current;
    for (char c : path) {
        if (c == '/' || c == '\\') {
            if (!current.empty())
                keys.push_back(std::move(current));
            current.clear();
        } else
            current += c;
    }
    if (!current.empty())
        keys.push_back(std::move(current));
    return keys;
}

} // namespace

std::shared_ptr<MetadataNode> MetadataNodeHelper::getNode(std::shared_ptr<const MetadataNode> root,
                                                          std::string const& path)
{
    if (!root)
        return nullptr;
    std::shared_ptr<const MetadataNode> node = std::move(root);
    for (auto const& key : splitPath(path)) {
        if (!node->hasChild(key))
            return nullptr;
        node = node->child(key);
    }
    return std::const_pointer_cast<MetadataNode>(node);
}

bool MetadataNodeHelper::exists(std::shared_ptr<const MetadataNode> root, std::string const& path)
{
    return getNode(std::move(root), path) != nullptr;
}

std::shared_ptr<MetadataNode> MetadataNodeHelper::createPath(std::shared_ptr<MetadataNode> origin,
                                                             std::string const& path,
                                                             std::shared_ptr<VariantDataValue> value)
{
    if (!origin)
        throw InvalidArgument("MetadataNodeHelper: no origin node");
    std::vector<std::string> const keys = splitPath(path);
    if (keys.empty())
        throw InvalidArgument("MetadataNodeHelper: the path \"" + path + "\" names no node below the origin");
    MetadataNode* node = origin.get();
    for (size_t i = 0; i + 1 < keys.size(); ++i) {
        MetadataNode* next = node->m_private->find(keys[i]);
        if (next == nullptr) {
            auto created = std::make_shared<MetadataNode>(keys[i], nullptr);
            next = created.get();
            node->m_private->put(std::move(created));
        }
        node = next;
    }
    auto last = std::make_shared<MetadataNode>(keys.back(), std::move(value));
    if (MetadataNode const* existing = node->m_private->find(keys.back()))
        last->m_private->adopt(*existing->m_private);
    node->m_private->put(std::move(last));
    return origin;
}

} // namespace quelbo
