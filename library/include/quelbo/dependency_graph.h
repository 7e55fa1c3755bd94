// The dependency graph: whether two views share an ancestor, and where views read.
#pragma once
#include <cstdint>
#include <memory>

#include "quelbo/export.h"
#include "quelbo/extension.h"

namespace quelbo {

class DataAccess;
class View;

enum class CommonAncestorStatus : int32_t
{
    // the two views don't share any ancestor
    SHARE_NO_ANCESTOR = 0,
    // the two views share at least one common ancestor
    SHARE_ANCESTOR = 1,
    // no answer can be given because the dependency graph is not complete
    UNDETERMINED = 2,
};

// The graph of where views come from: the view origin records, each naming
// the records of the views it was made from, and the records that stand for
// the stores views read and for memory the library does not own.
//
// A view counts among its own ancestors. Two views share an ancestor when
// their ancestor sets meet: a view derived from another, two views derived
// from one view, views over one store. When they do not meet and either view
// reads (directly or through its ancestors) memory the library does not own
// (a caller buffer, a numpy array, memory behind a raw pointer), or comes
// from a view that does not say where its data come from (an UNKNOWN or
// COMPOSITE origin without parents, as a multi-image view whose frames
// change), the answer is UNDETERMINED: the graph cannot see what they share.
class QUELBO_API DependencyGraph
{
public:
    // Error for an empty view.
    static CommonAncestorStatus hasCommonAncestor(std::shared_ptr<View> view1, std::shared_ptr<View> view2);

    // Where the data of a view come from, besides the views its record
    // names as parents: the views that read a store or memory the library
    // does not own say so once made, and the graph keeps it beside their
    // record (as long as the record lives).
    //
    // The view of `record` reads `store`. Views over the same store (the
    // same accessor object, or the same resource of the same storage: by the
    // storage's source, and a file by its identity on the file system
    // whatever path reaches it) share one store record while it is in use;
    // its display name is "Store" and the resource identifier, if any. The
    // record of an accessor over another (a window of a store, a store over
    // a stream, a stream over a store) leads to that one's, so that views
    // over either share an ancestor; memory lent by a caller counts as
    // memory the library does not own.
    static void recordStore(std::shared_ptr<ViewOriginExtension> const& record,
                            std::shared_ptr<DataAccess> const& store, ViewDataOrigin origin);
    // The view of `record` reads memory the library does not own.
    static void recordForeignMemory(std::shared_ptr<ViewOriginExtension> const& record);
    // The same for the view itself, without making its record (see View).
    static void recordForeignMemory(View& view);
    // The record of what the view of `record` reads (a store, or the mark of
    // memory not owned); empty when it said nothing.
    static std::shared_ptr<ViewOriginExtension> sourceOf(ViewOriginExtension const& record);
};

} // namespace quelbo
