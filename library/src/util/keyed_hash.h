// The hash of texts that come from outside (keys and names read from records,
// given by callers), for the library's hash tables (private to the library).
#pragma once
#include <cstddef>
#include <string_view>

namespace quelbo {
namespace util {

// SipHash-1-3 under a key drawn once per process: which texts fall together
// cannot be known beforehand, so texts chosen to collide (a hostile record's
// names) cannot make a table's lookups scan one another, as they can under
// a hash without a secret key.
struct KeyedHash
{
    // Not declared noexcept, so that the standard library's tables keep each
    // entry's hash beside it (libstdc++ does for such hashes) and never hash
    // an entry again to walk or grow a table.
    std::size_t operator()(std::string_view text) const;
};

} // namespace util
} // namespace quelbo
