// Reductions of a run of terms in fixed lanes: below L terms in the order of
// the terms; from L on, term i goes into partial result i % L, and the
// partial results are combined pairwise at the end. The order is the same on
// every machine, whatever width its vectors have, and the compiler runs the
// lanes a vector at a time. Sums of the dot product and of the norms use it.
#pragma once
#include <cstddef>

namespace quelbo::lanes {

// combine(r, term(i)) over i < n, from `start`; combine must give the same
// result in any order for the lanes to matter only to the rounding.
template <std::size_t L, class R, class Term, class Combine>
[[gnu::always_inline]] inline R reduce(std::size_t n, R start, Term term, Combine combine)
{
    static_assert(L != 0 && (L & (L - 1)) == 0, "lanes pair off to one");
    if (n < L) {
        R result = start;
        for (std::size_t i = 0; i < n; ++i)
            result = combine(result, term(i));
        return result;
    }
    R lane[L];
    for (std::size_t j = 0; j < L; ++j)
        lane[j] = start;
    std::size_t i = 0;
    for (; i + L <= n; i += L) {
        for (std::size_t j = 0; j < L; ++j)
            lane[j] = combine(lane[j], term(i + j));
    }
    for (std::size_t j = 0; i + j < n; ++j)
        lane[j] = combine(lane[j], term(i + j));
    for (std::size_t width = L / 2; width > 0; width /= 2) {
        for (std::size_t j = 0; j < width; ++j)
            lane[j] = combine(lane[j], lane[j + width]);
    }
    return lane[0];
}

// The sum of term(i) over i < n, from zero.
template <std::size_t L, class R, class Term>
[[gnu::always_inline]] inline R sum(std::size_t n, Term term)
{
    return reduce<L>(n, R(0), term, [](R a, R b) { return a + b; });
}

} // namespace quelbo::lanes
