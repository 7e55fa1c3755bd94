// The children lists of metadata nodes: slots in order with their index by
// key, the parents that hold each list, the squeeze of empty slots and the
// cycle test.
#include <new>
#include <unordered_set>
#include <vector>

#include "metadata/metadata_graph.h"

namespace quelbo {

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

} // namespace quelbo
