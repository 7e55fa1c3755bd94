// LazyShared: a shared object made when first asked for.
#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

namespace quelbo {

// A shared object made when first asked for: once, by whichever thread asks
// first; every later ask returns that same object. An object that nobody
// asks for is never made, so describing it is all its owner pays for.
template <class T>
class LazyShared
{
public:
    LazyShared() = default;
    // An object made already (possibly empty).
    explicit LazyShared(std::shared_ptr<T> made) : m_made(true), m_value(std::move(made)) {}
    LazyShared(LazyShared const&) = delete;
    LazyShared& operator=(LazyShared const&) = delete;

    // The object; make() (returning a std::shared_ptr<T>) makes it on the
    // first ask, under the lock, so it runs once.
    template <class Make>
    std::shared_ptr<T> const& get(Make const& make)
    {
        if (!m_made.load(std::memory_order_acquire)) {
            std::lock_guard<std::mutex> guard(m_making);
            if (!m_made.load(std::memory_order_relaxed)) {
                m_value = make();
                m_made.store(true, std::memory_order_release);
            }
        }
        return m_value;
    }

    // Replaces the object, made or not.
    void set(std::shared_ptr<T> value)
    {
        std::lock_guard<std::mutex> guard(m_making);
        m_value = std::move(value);
        m_made.store(true, std::memory_order_release);
    }

    // The object when made, else null; nothing is made.
    std::shared_ptr<T> const* made() const
    {
        return m_made.load(std::memory_order_acquire) ? &m_value : nullptr;
    }

    // visit(made()) under the lock that making takes, so that the object is
    // not made meanwhile.
    template <class Visit>
    void visit(Visit const& visit)
    {
        std::lock_guard<std::mutex> guard(m_making);
        visit(made());
    }

private:
    std::atomic<bool> m_made{false};
    std::mutex m_making;
    std::shared_ptr<T> m_value;
};

} // namespace quelbo
