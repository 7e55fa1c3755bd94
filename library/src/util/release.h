// Releasing what a dying object owned without recursion (private to the library).
#pragma once
#include <memory>
#include <vector>

#include "quelbo/export.h"

namespace quelbo {
namespace util {

// Lets go of an object owned by one that is being destroyed. Objects that
// own others of their kind (a view its source, an origin record its parents)
// hand them here from their destructors: the outermost release on a thread
// keeps a work list and lets go of its entries one at a time, and any
// release made meanwhile, by the destructors that those run, only joins the
// list. A chain of any length is then released with constant stack.
QUELBO_API void release(std::shared_ptr<void> owned) noexcept;

template <class T>
void release(std::vector<std::shared_ptr<T>>& owned) noexcept
{
    for (auto& p : owned)
        release(std::move(p));
    owned.clear();
}

template <class T>
void release(std::shared_ptr<T>& owned) noexcept
{
    release(std::shared_ptr<void>(std::move(owned)));
}

} // namespace util
} // namespace quelbo
