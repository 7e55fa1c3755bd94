// The bytes an HTTP store received and may serve again (private to the
// library).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "values/large_block.h"

namespace quelbo::detail {

// Recently received bytes of a resource, in blocks that each hold bytes in
// a row: at most kBlocks of at most kBlockBytes. New bytes take the place
// of a block some read went through to its end, else of the least recently
// used block. A store keeps only bytes of the version it
// reads (every answer is held against the first one's validator), so a block
// is good for as long as the store lives, in a fork's child too.
class ReceivedBlocks
{
public:
    static constexpr std::size_t kBlockBytes = std::size_t(512) << 10;
    static constexpr std::size_t kBlocks = 8;

    // Copies what a block holds of [pos, pos + n) from pos on into dst: the
    // count, 0 when no block holds pos.
    std::size_t take(std::size_t pos, std::size_t n, uint8_t* dst);
    // Keeps n bytes received for pos.
    void keep(std::size_t pos, uint8_t const* data, std::size_t n);

private:
    struct Block
    {
        std::size_t offset = 0, length = 0;
        uint64_t used = 0;
        bool spent = false; // read to its end
        Bytes bytes;        // its size is the room it has
    };
    Block& blockFor(std::size_t pos);

    std::vector<Block> m_blocks;
    uint64_t m_clock = 0;
};

} // namespace quelbo::detail
