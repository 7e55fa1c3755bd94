// The inverse of a small square matrix, computed in double precision.
#pragma once
#include <cstddef>

namespace quelbo::detail {

// The largest order invertMatrix takes.
constexpr std::size_t kMostInvertedOrder = 4;

// Writes the inverse of the n x n matrix `a` (column-major, n 3 or 4) to
// `out`, as LAPACK's LU solve with partial pivoting gives it. Every element of
// `out` is NaN when an element of `a` is infinite or NaN. Throws Error when `a` is singular: exactly so (its determinant is zero,
// however its factorisation rounds), or when a pivot of the factorisation is
// exactly zero.
template <std::size_t n>
void invertMatrix(double const* a, double* out);

} // namespace quelbo::detail
