// Inverses of small matrices: an LU factorisation with partial pivoting in the
// order LAPACK's dgesv works, and an exact test that tells a singular matrix
// from one that is merely ill-conditioned.
#include "values/matrix_inverse.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

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
// its smallest bit is bit 0 is singular. That integer determinant is below
// 2^bits (Hadamard's bound on the rows), so it is zero exactly when it is zero
// modulo primes whose product is at least 2^bits; a matrix that is not
// singular almost always shows it modulo the first prime.

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

int bitLength(uint64_t v)
{
    return 64 - __builtin_clzll(v);
}

// The primes lie between 2^30 and 2^31: each takes 30 bits off the bound, and a
// sum of two products of residues fits 64 bits.
constexpr int kPrimeBits = 30;
// Hadamard's bound for n <= 4: the product of the row norms, each below
// sqrt(n) times its largest element, so 2^4 above the largest elements' product.
constexpr int kBoundBits = 4;
// The most bits a row's largest integer takes: from 2^-1074 to below 2^1024.
constexpr int kRowBits = 1024 + 1074;
constexpr std::size_t kMostPrimes = (kMostInvertedOrder * kRowBits + kBoundBits) / kPrimeBits + 1;

// Primes just below 2^31, largest first: a sieve over a window below 2^31 with
// the primes below 2^16 (which holds about 750 of them, more than needed).
std::vector<uint32_t> const& primes()
{
    static std::vector<uint32_t> const list = [] {
        constexpr uint64_t top = uint64_t(1) << 31;
        constexpr uint64_t window = 1 << 14;
        std::vector<bool> small(1 << 16, true);
        std::vector<bool> composite(window, false);
        for (uint64_t q = 2; q < small.size(); ++q) {
            if (!small[q])
                continue;
            for (uint64_t m = q * q; m < small.size(); m += q)
                small[m] = false;
            for (uint64_t m = (top - window + q - 1) / q * q; m < top; m += q)
                composite[m - (top - window)] = true;
        }
        std::vector<uint32_t> out;
        for (uint64_t i = window; i-- > 0 && out.size() < kMostPrimes;)
            if (!composite[i])
                out.push_back(uint32_t(top - window + i));
        return out;
    }();
    return list;
}

// The largest of them, known to the compiler, for the first (and most often
// the only) pass.
struct LargestPrime
{
    static constexpr uint64_t p = 2147483647u; // 2^31 - 1
};

struct GivenPrime
{
    uint64_t p;
};

// odd * 2^shift modulo the prime: one reduction where the product fits 64
// bits, as it does unless the row's elements lie far apart.
template <class Prime>
uint64_t residue(Term const& t, Prime prime)
{
    uint64_t const p = prime.p;
    if (t.odd == 0 || bitLength(t.odd) + t.shift < 64) // the shift is below 64 bits
        return (t.odd << t.shift) % p;
    uint64_t result = t.odd % p, base = 2;
    for (unsigned e = unsigned(t.shift); e != 0; e >>= 1) {
        if (e & 1)
            result = result * base % p;
        base = base * base % p;
    }
    return result;
}

// Whether the determinant of the terms is zero modulo the prime. Each row step
// multiplies the determinant by the pivot, which is not zero: its vanishing is
// kept, and no inverse modulo the prime is needed.
template <std::size_t n, class Prime>
bool vanishesModulo(Term const (&terms)[n][n], Prime prime)
{
    uint64_t const p = prime.p;
    uint64_t m[n][n];
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < n; ++c) {
            uint64_t const v = residue(terms[r][c], prime);
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

// a[r][c], finite.
template <std::size_t n>
bool exactlySingular(double const (&a)[n][n])
{
    Term terms[n][n];
    int bits = kBoundBits;
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
        bits += widest;
    }
    if (!vanishesModulo(terms, LargestPrime()))
        return false;
    std::size_t const needed = std::size_t(bits / kPrimeBits + 1);
    for (std::size_t i = 1; i < needed; ++i) // primes()[0] is the largest prime
        if (!vanishesModulo(terms, GivenPrime{primes()[i]}))
            return false;
    return true;
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
