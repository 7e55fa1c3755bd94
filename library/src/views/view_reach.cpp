// The memory that the transfers of a view reach.
#include "views/view_reach.h"

#include <algorithm>
#include <string>
#include <unordered_set>

#include "quelbo/error.h"

namespace quelbo::detail {

bool Reach::meets(ByteSpan const& span) const
{
    return std::any_of(spans.begin(), spans.end(), [&](ByteSpan const& s) { return s.meets(span); });
}

bool Reach::meets(Reach const& other) const
{
    return std::any_of(spans.begin(), spans.end(), [&](ByteSpan const& s) { return other.meets(s); });
}

ByteSpan spanOf(ImageView& view, RegionXu64 const* box)
{
    Indexer const& indexer = view.indexer();
    VectorXu64 const& shape = indexer.shape();
    // Byte strides are signed, as the indexer reads them.
    VectorXu64 const& strides = indexer.byteStride();
    int64_t low = 0, high = int64_t(indexer.dtype().byteCount());
    for (size_t d = 0; d < shape.size(); ++d) {
        uint64_t const origin = box ? box->origin().data()[d] : 0;
        uint64_t const size = box ? box->size().data()[d] : shape.data()[d];
        if (size == 0)
            return ByteSpan{};
        int64_t const stride = int64_t(strides.data()[d]);
        int64_t const first = stride * int64_t(origin), last = stride * int64_t(origin + size - 1);
        low += std::min(first, last);
        high += std::max(first, last);
    }
    uintptr_t const base = uintptr_t(view.bufferReadOnly());
    return ByteSpan{base + uintptr_t(low), base + uintptr_t(high)};
}

void Reaching::passesTo(char const* name, std::vector<ImageView*> const& to)
{
    size_t deepest = 0;
    for (ImageView* v : to)
        deepest = std::max(deepest, depthOf(*v));
    if (deepest >= util::kMostInTurn)
        throw Error(std::string("ImageView: the ") + name + " view would pass its transfers through more than " +
                    std::to_string(util::kMostInTurn) + " views in turn");
    m_depth = deepest + 1;
}

size_t depthOf(ImageView& view)
{
    auto* reaching = dynamic_cast<Reaching*>(&view);
    return reaching ? reaching->depth() : 0;
}

Reach reachOf(ImageView& view)
{
    Reach out;
    std::vector<ImageView*> todo{&view};
    // Views reached along several paths (a stack of one view twice) are
    // walked once. Until a view reaches through several, the walk is one
    // path, on which no view comes twice: it needs no record of them.
    std::unordered_set<ImageView*> seen;
    bool branched = false;
    while (!todo.empty()) {
        ImageView* v = todo.back();
        todo.pop_back();
        if (branched && !seen.insert(v).second)
            continue;
        if (v->support(ImageCapability::MEMORY_ACCESS)) {
            ByteSpan const span = spanOf(*v);
            if (span.begin != span.end)
                out.spans.push_back(span);
        } else if (auto* reaching = dynamic_cast<Reaching*>(v)) {
            size_t const before = todo.size();
            reaching->reachInto(out, todo);
            branched = branched || todo.size() > before + 1;
        } else {
            out.complete = false;
        }
    }
    return out;
}

} // namespace quelbo::detail
