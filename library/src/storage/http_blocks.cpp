// The bytes an HTTP store received, kept in a bounded set of blocks.
#include "storage/http_blocks.h"

#include <algorithm>

namespace quelbo::detail {

std::size_t ReceivedBlocks::take(std::size_t pos, std::size_t n, uint8_t* dst)
{
    for (Block& b : m_blocks) {
        if (pos >= b.offset && pos - b.offset < b.length) {
            std::size_t const k = std::min(n, b.length - (pos - b.offset));
            copyBytes(dst, b.bytes.data() + (pos - b.offset), k);
            b.used = ++m_clock;
            return k;
        }
    }
    return 0;
}

void ReceivedBlocks::keep(std::size_t pos, uint8_t const* data, std::size_t n)
{
    while (n) {
        Block& b = blockFor(pos);
        std::size_t const k = std::min(n, kBlockBytes - b.length);
        if (b.bytes.size() < b.length + k)
            b.bytes.resize(b.length + k);
        copyBytes(b.bytes.data() + b.length, data, k);
        b.length += k;
        b.used = ++m_clock;
        pos += k;
        data += k;
        n -= k;
    }
}

// The block that bytes at pos go on, else a new one: a block not made yet,
// or the least recently used, emptied.
ReceivedBlocks::Block& ReceivedBlocks::blockFor(std::size_t pos)
{
    for (Block& b : m_blocks)
        if (b.length && b.offset + b.length == pos && b.length < kBlockBytes)
            return b;
    if (m_blocks.size() < kBlocks)
        m_blocks.emplace_back();
    auto oldest = std::min_element(m_blocks.begin(), m_blocks.end(),
                                   [](Block const& a, Block const& b) { return a.used < b.used; });
    oldest->offset = pos;
    oldest->length = 0;
    return *oldest;
}

} // namespace quelbo::detail
