// Inverses of small matrices: an LU factorisation with partial pivoting in the
// order LAPACK's dgesv works, and an exact test that tells a singular matrix
// from one that is merely ill-conditioned.
#include "values/matrix_inverse.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <utility>

#include "quelbo/error.h"

namespace quelbo::detail {

namespace {

[[noreturn]] void singular()
{
    throw Error("Matrix: the matrix is singular and has no inverse");
}

// ------------------------------------------------------ exact singularity
//
// A finite double is an odd integer times a power of two. Multiplying a row by
// a power of two multiplies the determinant by a non-zero number, so a matrix
// is singular exactly when the integer matrix made by shifting each row until
// its smallest bit is bit 0 is singular. Its determinant is first taken
// modulo the prime 2^31 - 1, where 2^31 is 1: a matrix that is not singular
// almost always shows it there, at the cost of a few products, and one of
// small integers (a determinant below the prime) is decided there. Any other
// whose determinant vanishes there has it computed exactly: the n! products
// of the Leibniz formula, each a product of odd numbers shifted by the sum of
// their shifts, summed into two wide integers, one for each sign, which are
// equal exactly when the determinant is zero. That costs about as much
// whatever the entries, from subnormal numbers to the largest doubles.

// One element: odd * 2^shift, shifted within its row; zero when odd is 0.
struct Term
{
    uint64_t odd;
    int shift;
    bool negative;
};

// |x| = odd * 2^exponent, read off the bits of a finite x that is not zero.
Term termOf(double x, int& exponent)
{
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    int const biased = int(bits >> 52 & 0x7ff);
    uint64_t odd = bits & ((uint64_t(1) << 52) - 1);
    exponent = -1074;
    if (biased != 0) {
        odd |= uint64_t(1) << 52;
        exponent = biased - 1075;
    }
    int const zeros = __builtin_ctzll(odd);
    exponent += zeros;
    return {odd >> zeros, 0, (bits >> 63) != 0};
}

constexpr uint64_t kPrime = 2147483647u; // 2^31 - 1
constexpr int kPrimeBits = 31;

// odd * 2^shift modulo the prime: 2^shift is 2^(shift mod 31) there.
uint64_t residue(Term const& t)
{
    return (t.odd % kPrime << (t.shift % kPrimeBits)) % kPrime;
}

// Whether the determinant of the terms is zero modulo the prime. Each row step
// multiplies the determinant by the pivot, which is not zero: its vanishing is
// kept, and no inverse modulo the prime is needed.
template <std::size_t n>
bool vanishesModulo(Term const (&terms)[n][n])
{
    constexpr uint64_t p = kPrime;
    uint64_t m[n][n];
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < n; ++c) {
            uint64_t const v = residue(terms[r][c]);
            m[r][c] = terms[r][c].negative && v != 0 ? p - v : v;
        }
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t r = k;
        while (r < n && m[r][k] == 0)
            ++r;
        if (r == n)
            return true;
        std::swap(m[r], m[k]);
        for (std::size_t i = k + 1; i < n; ++i) {
            if (m[i][k] == 0)
                continue;
            for (std::size_t j = k + 1; j < n; ++j)
                m[i][j] = (m[k][k] * m[i][j] + (p * p - m[i][k] * m[k][j])) % p;
        }
    }
    return false;
}

int bitLength(uint64_t v)
{
    return 64 - __builtin_clzll(v);
}

// A shifted entry is below 2^(1024 + 1074); the rows' widest entries, each
// below 2^widest, bound each product by 2^bits, bits the sum of the rows'
// widest, and a sum of the n! <= 24 products by 2^(bits + 5).
constexpr std::size_t kEntryBits = 1024 + 1074;
constexpr std::size_t kSumLimbs = (kMostInvertedOrder * kEntryBits + 5) / 64 + 1;
// a product's odd part: at most four factors below 2^53 each
constexpr std::size_t kProductLimbs = 4;
static_assert(kMostInvertedOrder <= kProductLimbs, "a product fits its limbs");

// An unsigned integer below 2^(64 * used), in 64-bit limbs least significant
// first, with room for a shifted product at its top.
class WideSum
{
public:
    explicit WideSum(std::size_t used) : m_used(used) { std::fill(m_limb, m_limb + used + kProductLimbs + 1, 0); }

    // Adds odd * 2^shift, odd given in kProductLimbs limbs; the sum stays
    // below the bound.
    void add(uint64_t const (&odd)[kProductLimbs], std::size_t shift)
    {
        std::size_t const at = shift / 64;
        unsigned const bit = unsigned(shift % 64);
        unsigned __int128 carry = 0;
        for (std::size_t k = 0; k <= kProductLimbs; ++k) {
            uint64_t const low = k < kProductLimbs ? odd[k] << bit : 0;
            uint64_t const high = k > 0 && bit != 0 ? odd[k - 1] >> (64 - bit) : 0;
            carry += (unsigned __int128)m_limb[at + k] + (low | high);
            m_limb[at + k] = uint64_t(carry);
            carry >>= 64;
        }
        for (std::size_t k = at + kProductLimbs + 1; carry != 0; ++k) {
            carry += m_limb[k];
            m_limb[k] = uint64_t(carry);
            carry >>= 64;
        }
    }

    bool operator==(WideSum const& other) const { return std::equal(m_limb, m_limb + m_used, other.m_limb); }

private:
    uint64_t m_limb[kSumLimbs + kProductLimbs + 1];
    std::size_t m_used;
};

// The n! permutations of n columns, each with whether it is odd.
template <std::size_t n>
struct Permutation
{
    std::size_t column[n];
    bool odd;
};

constexpr std::size_t factorial(std::size_t n)
{
    return n <= 1 ? 1 : n * factorial(n - 1);
}

template <std::size_t n>
constexpr std::array<Permutation<n>, factorial(n)> permutations()
{
    std::array<Permutation<n>, factorial(n)> out{};
    std::size_t count = 0, codes = 1;
    for (std::size_t r = 0; r < n; ++r)
        codes *= n;
    for (std::size_t code = 0; code < codes; ++code) { // every n-tuple of columns
        Permutation<n> p{};
        unsigned seen = 0;
        for (std::size_t r = 0, rest = code; r < n; ++r, rest /= n) {
            p.column[r] = rest % n;
            seen |= 1u << p.column[r];
        }
        if (seen != (1u << n) - 1)
            continue; // a column twice
        for (std::size_t r = 0; r < n; ++r)
            for (std::size_t s = r + 1; s < n; ++s)
                p.odd ^= p.column[s] < p.column[r]; // an inversion
        out[count++] = p;
    }
    return out;
}

// Whether the determinant of the terms, each product below 2^bits, is
// exactly zero.
template <std::size_t n>
bool vanishesExactly(Term const (&terms)[n][n], std::size_t bits)
{
    static constexpr auto kPermutations = permutations<n>();
    std::size_t const used = (bits + 5) / 64 + 1;
    WideSum sums[2] = {WideSum(used), WideSum(used)}; // of the positive and of the negative products
    for (Permutation<n> const& p : kPermutations) {
        Term const* t[n];
        std::size_t shift = 0;
        bool negative = p.odd, zero = false;
        for (std::size_t r = 0; r < n; ++r) {
            t[r] = &terms[r][p.column[r]];
            zero = zero || t[r]->odd == 0;
            shift += std::size_t(t[r]->shift);
            negative ^= t[r]->negative;
        }
        if (zero)
            continue;
        // the odd parts' product: of two pairs (or of a pair and one), each below 2^106
        using Pair = unsigned __int128;
        Pair const first = Pair(t[0]->odd) * t[1]->odd;
        Pair const second = n == 4 ? Pair(t[2]->odd) * t[n - 1]->odd : Pair(t[n - 1]->odd);
        uint64_t const a0 = uint64_t(first), a1 = uint64_t(first >> 64);
        uint64_t const b0 = uint64_t(second), b1 = uint64_t(second >> 64);
        Pair const low = Pair(a0) * b0, middle = Pair(a0) * b1 + Pair(a1) * b0, high = Pair(a1) * b1;
        Pair const one = (low >> 64) + uint64_t(middle);
        Pair const two = (one >> 64) + (middle >> 64) + uint64_t(high);
        uint64_t const odd[kProductLimbs] = {uint64_t(low), uint64_t(one), uint64_t(two),
                                             uint64_t(two >> 64) + uint64_t(high >> 64)};
        sums[negative].add(odd, shift);
    }
    return sums[0] == sums[1];
}

// a[r][c], finite.
template <std::size_t n>
bool exactlySingular(double const (&a)[n][n])
{
    Term terms[n][n];
    std::size_t bits = 0;
    for (std::size_t r = 0; r < n; ++r) {
        int exponents[n] = {};
        int lowest = INT_MAX;
        for (std::size_t c = 0; c < n; ++c) {
            terms[r][c] = Term{0, 0, false};
            if (a[r][c] != 0.0) {
                terms[r][c] = termOf(a[r][c], exponents[c]);
                lowest = std::min(lowest, exponents[c]);
            }
        }
        if (lowest == INT_MAX)
            return true; // a zero row
        int widest = 0;
        for (std::size_t c = 0; c < n; ++c)
            if (terms[r][c].odd != 0) {
                terms[r][c].shift = exponents[c] - lowest;
                widest = std::max(widest, bitLength(terms[r][c].odd) + terms[r][c].shift);
            }
        bits += std::size_t(widest);
    }
    if (!vanishesModulo(terms))
        return false;
    // Hadamard's bound for n <= 4, the product of the row norms (each below
    // sqrt(n) times the row's widest entry), is below 2^(bits + 4): where the
    // prime exceeds it, a determinant that vanishes modulo the prime is zero
    return bits + 4 < kPrimeBits || vanishesExactly(terms, bits);
}

// -------------------------------------------------------------- LU solve

// dgetrf2 on an order of at most 4 is, operation for operation, this
// right-looking elimination: the first largest magnitude pivots, and the
// multipliers are scaled by the pivot's reciprocal unless it is subnormal.
// Returns false at a pivot that is exactly zero.
template <std::size_t n>
bool factorize(double (&lu)[n][n], std::size_t (&piv)[n])
{
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t p = k;
        for (std::size_t i = k + 1; i < n; ++i)
            if (std::fabs(lu[i][k]) > std::fabs(lu[p][k]))
                p = i;
        piv[k] = p;
        if (lu[p][k] == 0.0)
            return false;
        std::swap(lu[p], lu[k]);
        double const pivot = lu[k][k];
        if (std::fabs(pivot) >= std::numeric_limits<double>::min()) {
            double const reciprocal = 1.0 / pivot;
            for (std::size_t i = k + 1; i < n; ++i)
                lu[i][k] *= reciprocal;
        } else {
            for (std::size_t i = k + 1; i < n; ++i)
                lu[i][k] /= pivot;
        }
        for (std::size_t j = k + 1; j < n; ++j)
            for (std::size_t i = k + 1; i < n; ++i)
                lu[i][j] -= lu[i][k] * lu[k][j];
    }
    return true;
}

// dgetrs on the identity: the row swaps, then the two triangular solves of
// dtrsm, column by column, skipping zeros as it does.
template <std::size_t n>
void solveIdentity(double const (&lu)[n][n], std::size_t const (&piv)[n], double (&x)[n][n])
{
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < n; ++c)
            x[r][c] = r == c ? 1.0 : 0.0;
    for (std::size_t k = 0; k < n; ++k)
        std::swap(x[k], x[piv[k]]);
    for (std::size_t j = 0; j < n; ++j) {
        for (std::size_t k = 0; k < n; ++k)
            if (x[k][j] != 0.0)
                for (std::size_t i = k + 1; i < n; ++i)
                    x[i][j] -= x[k][j] * lu[i][k];
        for (std::size_t k = n; k-- > 0;)
            if (x[k][j] != 0.0) {
                x[k][j] /= lu[k][k];
                for (std::size_t i = 0; i < k; ++i)
                    x[i][j] -= x[k][j] * lu[i][k];
            }
    }
}

} // namespace

template <std::size_t n>
void invertMatrix(double const* a, double* out)
{
    double lu[n][n];
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < n; ++c) {
            lu[r][c] = a[c * n + r];
            if (!std::isfinite(lu[r][c])) {
                std::fill(out, out + n * n, std::numeric_limits<double>::quiet_NaN());
                return;
            }
        }
    std::size_t piv[n];
    if (exactlySingular(lu) || !factorize(lu, piv))
        singular();
    double x[n][n];
    solveIdentity(lu, piv, x);
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < n; ++c)
            out[c * n + r] = x[r][c];
}

template void invertMatrix<3>(double const*, double*);
template void invertMatrix<4>(double const*, double*);

} // namespace quelbo::detail
