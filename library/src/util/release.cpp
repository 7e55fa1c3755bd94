// The work list of releases in progress on each thread.
#include "util/release.h"

namespace quelbo {
namespace util {

namespace {

// The list of the outermost release running on this thread, if any. It is a
// plain pointer, so that a release made while the thread ends finds either
// a list in use or none.
thread_local std::vector<std::shared_ptr<void>>* t_pending = nullptr;

} // namespace

void release(std::shared_ptr<void> owned) noexcept
{
    if (!owned)
        return;
    if (t_pending) {
        try {
            t_pending->push_back(std::move(owned));
        } catch (...) {
            // No room to wait: let go here (owned is still held).
        }
        return;
    }
    std::vector<std::shared_ptr<void>> pending;
    t_pending = &pending;
    owned.reset();
    while (!pending.empty()) {
        std::shared_ptr<void> next = std::move(pending.back());
        pending.pop_back();
        next.reset();
    }
    t_pending = nullptr;
}

} // namespace util
} // namespace quelbo
