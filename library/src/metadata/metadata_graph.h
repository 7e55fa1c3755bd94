// The children of a metadata node, and the walk of the graph below a node
// (private to the library). A node may sit below several parents, so what
// is below a node is a graph without cycles, not always a tree: every walk
// visits each distinct node once and meets it again only as a link to the
// visit before, so that it costs the distinct nodes and their links, never
// the paths through them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "quelbo/metadata.h"
#include "util/keyed_hash.h"

namespace quelbo::metadata_detail {

// The children of a node in insertion order, with an index by key, and the
// lists that hold the node itself (its parents), so that a cycle test can
// search upwards as well as downwards.
//
// A removed child leaves an empty slot, so that no later child moves; the
// slots are squeezed together once the empty ones outnumber the children
// and the iterators of the list together, and the iterators (which
// designate slots) move with them. Adding, finding and removing a child
// thus take constant time (amortized), however many iterators are held.
struct Children : std::enable_shared_from_this<Children>
{
    // The children; null: a child removed.
    std::vector<std::shared_ptr<MetadataNode>> slots;
    // Key to slot. The keys are those of the children themselves (a node's
    // key never changes).
    std::unordered_map<std::string_view, std::size_t, util::KeyedHash> index;
    std::size_t live = 0;
    // The children lists holding this list's node, each once (a list holds
    // a node under one key); a list takes its entries away as it lets its
    // children go.
    std::unordered_map<Children const*, std::weak_ptr<Children>> parents;
    // The iterators over this list, linked through their own fields.
    MetadataIteratorObject* iterators = nullptr;
    std::size_t iteratorCount = 0;

    Children() = default;
    Children(Children const&) = delete;
    Children& operator=(Children const&) = delete;
    ~Children();

    static Children& of(MetadataNode const& node) { return *node.m_private; }

    MetadataNode* find(std::string const& key) const
    {
        auto const it = index.find(key);
        return it == index.end() ? nullptr : slots[it->second].get();
    }
    std::shared_ptr<MetadataNode> const* findShared(std::string const& key) const
    {
        auto const it = index.find(key);
        return it == index.end() ? nullptr : &slots[it->second];
    }

    // The first slot from `from` on that holds a child (slots.size() when none).
    std::size_t nextLive(std::size_t from) const
    {
        while (from < slots.size() && !slots[from])
            ++from;
        return from;
    }

    // Puts a child in, replacing the one of the same key, without testing
    // for a cycle (MetadataNode::addChild tests first).
    void put(std::shared_ptr<MetadataNode> child);
    // Holds the same child nodes as other (this list being empty).
    void adopt(Children const& other);
    void remove(std::string const& key);
    // Is `descendant` this list or below it?
    bool reaches(Children const* descendant) const;

private:
    void link(MetadataNode const& child);
    void unlink(MetadataNode const& child) const;
    // Squeezes the empty slots out when they outnumber the children and iterators.
    void squeeze();
};

// Walks the graph below root in pre-order, each distinct node once:
// enter(node, number) at a node's first visit, where number counts the
// distinct nodes in the order of their first visits (the root is 0), then
// its children, then leave(node); again(node, number) where a node is met
// once more, with the number of its first visit, without going below it.
template <class Enter, class Again, class Leave>
void walk(MetadataNode const& root, Enter&& enter, Again&& again, Leave&& leave)
{
    std::unordered_map<MetadataNode const*, std::size_t> numbers;
    // Each entry: a node entered and the next of its slots to look at.
    std::vector<std::pair<MetadataNode const*, std::size_t>> stack;
    numbers.emplace(&root, 0);
    enter(root, std::size_t(0));
    stack.emplace_back(&root, 0);
    while (!stack.empty()) {
        auto& [node, slot] = stack.back();
        auto const& slots = Children::of(*node).slots;
        slot = Children::of(*node).nextLive(slot);
        if (slot == slots.size()) {
            leave(*node);
            stack.pop_back();
            continue;
        }
        MetadataNode const& child = *slots[slot++];
        auto const [at, first] = numbers.emplace(&child, numbers.size());
        if (!first) {
            again(child, at->second);
            continue;
        }
        enter(child, at->second);
        stack.emplace_back(&child, 0);
    }
}

} // namespace quelbo::metadata_detail
