// Metadata trees: nodes with their ordered children, iterators, the node factory and the path helper.
#include "quelbo/metadata.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "quelbo/data_type_traits.h"
#include "quelbo/error.h"
#include "quelbo/vector.h"

namespace quelbo {

// --------------------------------------------------------------- children

namespace metadata_detail {

// The children of a node in insertion order, with an index by key, and the
// lists that hold the node itself (its parents), so that a cycle test can
// search upwards as well as downwards.
struct Children : std::enable_shared_from_this<Children>
{
    std::vector<std::shared_ptr<MetadataNode>> nodes;
    std::unordered_map<std::string, size_t> index;
    // The children lists holding this list's node: one entry per holding
    // list; an expired entry is a list that is gone.
    std::vector<std::weak_ptr<Children>> parents;

    Children() = default;
    Children(Children const&) = delete;
    Children& operator=(Children const&) = delete;

    // Dismantles the nodes only this list owns one by one, so that a deep
    // chain does not recurse through the destructors.
    ~Children()
    {
        std::vector<std::shared_ptr<MetadataNode>> pending = std::move(nodes);
        while (!pending.empty()) {
            std::shared_ptr<MetadataNode> node = std::move(pending.back());
            pending.pop_back();
            if (node && node.use_count() == 1 && node->m_private && node->m_private.use_count() == 1) {
                auto& grand = node->m_private->nodes;
                for (auto& g : grand)
                    pending.push_back(std::move(g));
                grand.clear();
            }
        }
    }

    MetadataNode* find(std::string const& key) const
    {
        auto const it = index.find(key);
        return it == index.end() ? nullptr : nodes[it->second].get();
    }

    std::shared_ptr<MetadataNode> const* findShared(std::string const& key) const
    {
        auto const it = index.find(key);
        return it == index.end() ? nullptr : &nodes[it->second];
    }

    // Entries of lists that are gone are dropped here, so that copies made
    // and discarded again and again do not grow the list.
    void link(MetadataNode const& child)
    {
        auto& list = child.m_private->parents;
        list.erase(std::remove_if(list.begin(), list.end(), [](auto const& w) { return w.expired(); }), list.end());
        list.push_back(weak_from_this());
    }

    void unlink(MetadataNode const& child)
    {
        auto& list = child.m_private->parents;
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (it->lock().get() == this) {
                list.erase(it);
                return;
            }
        }
    }

    void put(std::shared_ptr<MetadataNode> child)
    {
        link(*child);
        auto const it = index.find(child->key());
        if (it != index.end()) {
            unlink(*nodes[it->second]);
            nodes[it->second] = std::move(child);
            return;
        }
        index.emplace(child->key(), nodes.size());
        nodes.push_back(std::move(child));
    }

    // Holds the same child nodes as other (this list being empty).
    void adopt(Children const& other)
    {
        nodes = other.nodes;
        index = other.index;
        for (auto const& n : nodes)
            link(*n);
    }

    void remove(std::string const& key)
    {
        auto const it = index.find(key);
        if (it == index.end())
            return;
        size_t const at = it->second;
        index.erase(it);
        unlink(*nodes[at]);
        nodes.erase(nodes.begin() + std::ptrdiff_t(at));
        for (size_t i = at; i < nodes.size(); ++i)
            index[nodes[i]->key()] = i;
    }

    // Is `descendant` this list or below it? Searches down from this list and
    // up from `descendant` in turns, so the cost is that of the smaller side.
    bool reaches(Children const* descendant) const
    {
        std::vector<Children const*> down{this}, up{descendant};
        std::unordered_set<Children const*> seenDown{this}, seenUp{descendant};
        while (!down.empty() && !up.empty()) {
            Children const* d = down.back();
            down.pop_back();
            if (d == descendant)
                return true;
            for (auto const& n : d->nodes)
                if (seenDown.insert(n->m_private.get()).second)
                    down.push_back(n->m_private.get());
            Children const* u = up.back();
            up.pop_back();
            if (u == this)
                return true;
            for (auto const& w : u->parents)
                if (auto p = w.lock())
                    if (seenUp.insert(p.get()).second)
                        up.push_back(p.get());
        }
        return false;
    }
};

} // namespace metadata_detail

using metadata_detail::Children;

// ---------------------------------------------------------------- iterators

MetadataIteratorObject::MetadataIteratorObject(std::shared_ptr<const MetadataNode> const& node)
    : m_children(node ? node->m_private : nullptr), m_position(0)
{}

MetadataIteratorObject::MetadataIteratorObject(std::shared_ptr<Children> children, size_t position)
    : m_children(std::move(children)), m_position(position)
{}

bool MetadataIteratorObject::atEnd() const
{
    return !m_children || m_position >= m_children->nodes.size();
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
    return m_children->nodes[m_position];
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
    // Iterative copy; a node reached twice (shared below two parents) is
    // copied once and shared the same way in the copy.
    auto root = std::make_shared<MetadataNode>(m_key, m_value);
    std::unordered_map<Children const*, std::shared_ptr<MetadataNode>> copies;
    std::vector<std::pair<MetadataNode const*, MetadataNode*>> pending{{this, root.get()}};
    while (!pending.empty()) {
        auto const [source, target] = pending.back();
        pending.pop_back();
        for (auto const& child : source->m_private->nodes) {
            auto& copy = copies[child->m_private.get()];
            if (!copy) {
                copy = std::make_shared<MetadataNode>(child->m_key, child->m_value);
                pending.emplace_back(child.get(), copy.get());
            }
            target->m_private->put(copy);
        }
    }
    return root;
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
    return m_private->nodes.size();
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
    // Iterative: pending holds the nodes still to print and the closing
    // texts, so a deep tree prints without recursion.
    struct Step
    {
        MetadataNode const* node;
        char const* text;
    };
    std::string out;
    std::vector<Step> pending{{this, nullptr}};
    while (!pending.empty()) {
        Step const step = pending.back();
        pending.pop_back();
        if (step.node == nullptr) {
            out += step.text;
            continue;
        }
        if (step.text != nullptr)
            out += step.text;
        out += step.node->m_key;
        if (step.node->m_value)
            out += " = " + step.node->m_value->toString();
        auto const& children = step.node->m_private->nodes;
        if (children.empty())
            continue;
        out += " { ";
        pending.push_back({nullptr, " }"});
        for (size_t i = children.size(); i-- > 0;)
            pending.push_back({children[i].get(), i == 0 ? nullptr : ", "});
    }
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
