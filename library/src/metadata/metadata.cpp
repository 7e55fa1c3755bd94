// Metadata trees: nodes with their ordered children, iterators, the node factory and the path helper.
#include "quelbo/metadata.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "metadata/metadata_graph.h"
#include "quelbo/data_type_traits.h"
#include "quelbo/error.h"
#include "quelbo/vector.h"

namespace quelbo {

// --------------------------------------------------------------- children

namespace metadata_detail {

// Lets the nodes only this list owns go one by one, so that a deep chain does
// not recurse through the destructors, and takes this list's entries away
// from the parents of those that stay.
Children::~Children()
{
    std::vector<std::pair<Children const*, std::shared_ptr<MetadataNode>>> pending;
    for (auto& node : slots)
        if (node)
            pending.emplace_back(this, std::move(node));
    while (!pending.empty()) {
        auto [holder, node] = std::move(pending.back());
        pending.pop_back();
        Children& list = *node->m_private;
        list.parents.erase(holder);
        if (node.use_count() == 1 && node->m_private.use_count() == 1) {
            for (auto& grand : list.slots)
                if (grand)
                    pending.emplace_back(&list, std::move(grand));
            list.slots.clear();
            list.index.clear();
            list.live = 0;
        }
    }
}

void Children::link(MetadataNode const& child)
{
    child.m_private->parents.emplace(this, weak_from_this());
}

void Children::unlink(MetadataNode const& child) const
{
    child.m_private->parents.erase(this);
}

void Children::put(std::shared_ptr<MetadataNode> child)
{
    auto const it = index.find(child->key());
    if (it != index.end()) {
        std::shared_ptr<MetadataNode>& slot = slots[it->second];
        if (slot == child)
            return;
        link(*child);
        unlink(*slot);
        // the index's key is the old child's text: it becomes the new one's
        auto entry = index.extract(it);
        entry.key() = child->key();
        index.insert(std::move(entry));
        slot = std::move(child);
        return;
    }
    squeeze();
    // each step undone when a later one fails for want of memory
    slots.push_back(std::move(child));
    MetadataNode const& added = *slots.back();
    try {
        index.emplace(added.key(), slots.size() - 1);
        link(added);
    } catch (...) {
        index.erase(added.key());
        slots.pop_back();
        throw;
    }
    ++live;
}

void Children::adopt(Children const& other)
{
    slots.reserve(other.live);
    index.reserve(other.live);
    for (auto const& n : other.slots) {
        if (!n)
            continue;
        slots.push_back(n);
        live = slots.size();
        index.emplace(n->key(), slots.size() - 1);
        link(*n);
    }
}

void Children::remove(std::string const& key)
{
    auto const it = index.find(key);
    if (it == index.end())
        return;
    std::shared_ptr<MetadataNode> gone = std::move(slots[it->second]);
    index.erase(it);
    unlink(*gone);
    --live;
    squeeze();
}

void Children::squeeze()
{
    std::size_t const empty = slots.size() - live;
    // a squeeze costs the slots and the iterators: as many removals pay for it
    if (empty < 16 || empty <= live + iteratorCount)
        return;
    // An iterator's slot becomes the number of children before it: the
    // same child, or the next one where its own has gone; one past the end
    // stays past the end.
    std::vector<std::size_t> moved;
    try {
        if (iterators != nullptr)
            moved.resize(slots.size() + 1);
    } catch (std::bad_alloc const&) {
        return; // squeezed another time
    }
    std::size_t to = 0;
    for (std::size_t from = 0; from < slots.size(); ++from) {
        if (!moved.empty())
            moved[from] = to;
        auto& n = slots[from];
        if (!n)
            continue;
        index[n->key()] = to;
        slots[to++] = std::move(n);
    }
    for (MetadataIteratorObject* it = iterators; it != nullptr; it = it->m_next)
        if (it->m_position != SIZE_MAX)
            it->m_position = it->m_position < slots.size() ? moved[it->m_position] : to;
    slots.resize(to);
    slots.shrink_to_fit();
}

// Searches down from this list and up from `descendant` in turns, one link
// of each at a time and each list once, so the cost is that of the smaller
// side, however the links are spread over its lists (a first list of many
// children or parents on the larger side costs no more than the smaller).
bool Children::reaches(Children const* descendant) const
{
    // the common cases: a new child, a parent that is a root
    if (this == descendant)
        return true;
    if (live == 0 || descendant->parents.empty())
        return false;
    // Each side: the lists still to go through, the one it is going
    // through and its place there.
    std::vector<Children const*> down, up;
    std::unordered_set<Children const*> seenDown{this}, seenUp{descendant};
    Children const* d = this;
    std::size_t slot = 0;
    Children const* u = descendant;
    auto parent = descendant->parents.begin();
    for (;;) {
        while (slot == d->slots.size()) {
            if (down.empty())
                return false;
            d = down.back();
            down.pop_back();
            slot = 0;
        }
        if (auto const& n = d->slots[slot++]) {
            Children const* below = n->m_private.get();
            if (below == descendant)
                return true;
            if (seenDown.insert(below).second)
                down.push_back(below);
        }
        while (parent == u->parents.end()) {
            if (up.empty())
                return false;
            u = up.back();
            up.pop_back();
            parent = u->parents.begin();
        }
        if (auto const above = (parent++)->second.lock()) {
            if (above.get() == this)
                return true;
            if (seenUp.insert(above.get()).second)
                up.push_back(above.get());
        }
    }
}

} // namespace metadata_detail

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
