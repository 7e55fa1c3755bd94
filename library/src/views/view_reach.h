// Where the transfers of a view touch memory (private to the library).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "quelbo/export.h"
#include "quelbo/image_view.h"
#include "util/in_turn.h"
#include "views/view_parts.h"

namespace quelbo::detail {

// Addresses [begin, end).
struct ByteSpan
{
    uintptr_t begin = 0;
    uintptr_t end = 0;

    bool meets(ByteSpan const& other) const { return begin < other.end && other.begin < end; }
};

// The memory the transfers of a view may read or write: spans of addresses,
// and whether those are all they touch. A view that reaches a store without
// memory, a file, a device or a view of a kind that does not say where it
// reads touches bytes no span shows: its reach is not complete.
struct Reach
{
    std::vector<ByteSpan> spans;
    bool complete = true;

    bool meets(ByteSpan const& span) const;
    bool meets(Reach const& other) const;
};

// Views that reach memory through other views, or through a store, say how:
// they add the spans they touch themselves to `reach` (or mark it
// incomplete), and the views they reach through to `through`.
// Such a view passes its transfers on, by calls of its own, to views that
// may pass them on again: it knows how many views a transfer passes through
// in turn (its depth, itself included), and a view deeper than
// util::kMostInTurn is never made, so that every transfer fits in the stack
// of any thread.
class QUELBO_API Reaching
{
public:
    virtual void reachInto(Reach& reach, std::vector<ImageView*>& through) = 0;
    size_t depth() const { return m_depth; }

protected:
    ~Reaching() = default;
    // Records that the view's transfers call those of `to` (of every view
    // of `to`); Error, naming the view, when that makes it too deep.
    void passesTo(char const* name, std::vector<ImageView*> const& to);
    void passesTo(char const* name, ImageView& to) { passesTo(name, std::vector<ImageView*>{&to}); }

private:
    size_t m_depth = 1;
};

// The depth of any view: 0 for one that calls no other view.
QUELBO_API size_t depthOf(ImageView& view);

// While a transfer whose caller's buffer was found apart from all the memory
// it reaches (or was copied apart) runs on a thread, the buffers it hands on
// to the views it reaches are parts of that buffer or scratches of its own:
// those views need not check them again.
class CheckedTransfer
{
public:
    CheckedTransfer() : m_outer(s_active) { s_active = true; }
    ~CheckedTransfer() { s_active = m_outer; }
    CheckedTransfer(CheckedTransfer const&) = delete;
    CheckedTransfer& operator=(CheckedTransfer const&) = delete;
    static bool active() { return s_active; }

private:
    static inline thread_local bool s_active = false;
    bool m_outer;
};

// The addresses of the samples of a view with memory access, within `box`
// (all of them without one); empty when the box holds no sample.
ByteSpan spanOf(ImageView& view, RegionXu64 const* box = nullptr);

// The memory a view's transfers reach, walked without recursion.
Reach reachOf(ImageView& view);

// The addresses of `bytes` bytes at `at`.
inline ByteSpan spanOf(const void* at, size_t bytes)
{
    return ByteSpan{uintptr_t(at), uintptr_t(at) + bytes};
}

// A transfer of `bytes` between a caller's buffer and a view, made by
// move(buffer): when the buffer is `shared` with memory the transfer reaches,
// through a copy of it, as if the source had been copied first (numpy's rule).
template <class Byte, class Move>
void moveApart(Byte* buffer, size_t bytes, bool shared, Move const& move)
{
    if (!shared)
        return move(buffer);
    Scratch copy(bytes);
    if constexpr (std::is_const_v<Byte>) {
        std::memcpy(copy.data(), buffer, bytes);
        move(static_cast<Byte*>(copy.data()));
    } else {
        move(copy.data());
        std::memcpy(buffer, copy.data(), bytes);
    }
}

} // namespace quelbo::detail
