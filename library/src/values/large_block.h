// Large zero-filled blocks mapped on their own, aligned for and advised to
// use huge pages: filling them then costs far fewer page faults, and no
// pass is spent zeroing them.
#pragma once

#include <cstddef>
#include <memory>

namespace quelbo::detail {

// Blocks from this size on are worth mapping on their own.
constexpr std::size_t kLargeBlock = std::size_t(4) << 20;

// bytes of new zeroed memory aligned to 2 MiB, unmapped when the pointer's
// last owner is gone. std::bad_alloc when it cannot be had.
std::shared_ptr<unsigned char> allocateLargeBlock(std::size_t bytes);

} // namespace quelbo::detail
