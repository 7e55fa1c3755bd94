// Where the transfers of a view touch memory (private to the library).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "quelbo/image_view.h"
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
class Reaching
{
public:
    virtual void reachInto(Reach& reach, std::vector<ImageView*>& through) = 0;

protected:
    ~Reaching() = default;
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
