// The ancestry of a view in the dependency graph (private to the library).
#pragma once
#include <unordered_set>

#include "quelbo/dependency_graph.h"

namespace quelbo::detail {

// The records a view descends from (its own included), and whether the graph
// cannot see all that the view shares (memory the library does not own, a
// view that does not say where its data come from). The records stay alive
// through the view while the set is used.
struct Ancestry
{
    std::unordered_set<ViewOriginExtension const*> records;
    bool incomplete = false;

    // What DependencyGraph::hasCommonAncestor answers for the two views.
    CommonAncestorStatus against(Ancestry const& other) const;
};

// Walked without recursion.
Ancestry ancestryOf(View& view);

} // namespace quelbo::detail
