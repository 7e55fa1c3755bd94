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
            b.spent = pos + k == b.offset + b.length;
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
        if (b.bytes.size() < b.length + k) { // grows by doubling, to kBlockBytes at most
            b.bytes.reserve(std::min(kBlockBytes, std::max(b.length + k, 2 * b.bytes.size())));
            b.bytes.resize(b.length + k);
        }
        copyBytes(b.bytes.data() + b.length, data, k);
        b.length += k;
        b.used = ++m_clock;
        b.spent = false;
        pos += k;
        data += k;
        n -= k;
    }
}

// The block that bytes at pos go on, else a new one: a block read to its
// end (its reader went on past it), else a block not made yet, else the
// least recently used, emptied.
ReceivedBlocks::Block& ReceivedBlocks::blockFor(std::size_t pos)
{
    for (Block& b : m_blocks)
        if (b.length && b.offset + b.length == pos && b.length < kBlockBytes)
            return b;
    auto const older = [](Block const& a, Block const& b) { return a.used < b.used; };
    auto chosen = m_blocks.end();
    for (auto b = m_blocks.begin(); b != m_blocks.end(); ++b)
        if (b->spent && (chosen == m_blocks.end() || older(*b, *chosen)))
            chosen = b;
    if (chosen == m_blocks.end() && m_blocks.size() < kBlocks)
        chosen = m_blocks.emplace(m_blocks.end());
    if (chosen == m_blocks.end())
        chosen = std::min_element(m_blocks.begin(), m_blocks.end(), older);
    chosen->offset = pos;
    chosen->length = 0;
    chosen->spent = false;
    return *chosen;
}

} // namespace quelbo::detail
