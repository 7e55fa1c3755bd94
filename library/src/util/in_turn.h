// How many objects may pass one call on in turn (private to the library).
#pragma once
#include <cstddef>

namespace quelbo::util {

// Objects that pass each call on to others that may pass it on again (views
// over views, stores over streams over stores) are never made past this many
// in turn, so that every call through them fits in the stack of any thread:
// a link costs at most some 4 KiB of stack (under the sanitizers), a call at
// the bound about 1 MiB, within the 8 MiB of a process's and Python's
// threads and the 2 MiB that threads get at least.
constexpr std::size_t kMostInTurn = 256;

} // namespace quelbo::util
