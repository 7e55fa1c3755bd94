// Inverses of small matrices: an LU factorisation with partial pivoting in the
// order LAPACK's dgesv works, and an exact test that tells a singular matrix
// from one that is merely ill-conditioned.
#include "values/matrix_inverse.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "quelbo/error.h"

namespace quelbo::detail {

namespace {

constexpr std::size_t kN = kMostInvertedOrder;

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

struct Term
{
    uint64_t odd;   // the magnitude is odd * 2^exponent
    int exponent;
    bool negative;
};

Term termOf(double x)
{
    int e = 0;
    double const f = std::frexp(std::fabs(x), &e); // |x| = f * 2^e, f in [0.5, 1)
    uint64_t odd = uint64_t(std::ldexp(f, 53));
    int const zeros = __builtin_ctzll(odd);
    odd >>= zeros;
    return {odd, e - 53 + zeros, x < 0};
}

int bitLength(uint64_t v)
{
    return 64 - __builtin_clzll(v);
}

// The primes are above 2^31, so that each takes 31 bits off the bound and the
// product of two residues fits 64 bits.
constexpr int kPrimeBits = 31;
// Hadamard's bound for n <= 4: the product of the row norms, each below
// sqrt(n) times its largest element, so 2^4 above the largest elements' product.
constexpr int kBoundBits = 4;
// The most bits a row's largest integer takes: from 2^-1074 to below 2^1024.
constexpr int kRowBits = 1024 + 1074;
constexpr std::size_t kMostPrimes = (kN * kRowBits + kBoundBits) / kPrimeBits + 1;

// Primes just below 2^32, largest first: a sieve over a window below 2^32 with
// the primes below 2^16 (which holds about 700 of them, more than needed).
std::vector<uint32_t> const& primes()
{
    static std::vector<uint32_t> const list = [] {
        constexpr uint64_t top = uint64_t(1) << 32;
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

uint64_t powerOfTwo(int exponent, uint64_t p)
{
    if (exponent < 32)
        return (uint64_t(1) << exponent) % p;
    uint64_t result = 1, base = 2 % p;
    for (unsigned e = unsigned(exponent); e != 0; e >>= 1) {
        if (e & 1)
            result = result * base % p;
        base = base * base % p;
    }
    return result;
}

// Whether the determinant of m (residues modulo p) is zero modulo p. Each row
// step multiplies the determinant by the pivot, which is not zero: its
// vanishing is kept, and no inverse modulo p is needed.
bool vanishes(uint64_t m[kN][kN], std::size_t n, uint64_t p)
{
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
                m[i][j] = (m[k][k] * m[i][j] % p + (p - m[i][k] * m[k][j] % p)) % p;
        }
    }
    return false;
}

// a[r][c], finite.
bool exactlySingular(double const a[kN][kN], std::size_t n)
{
    Term terms[kN][kN];
    int lowest[kN];
    int bits = kBoundBits;
    for (std::size_t r = 0; r < n; ++r) {
        lowest[r] = INT_MAX;
        for (std::size_t c = 0; c < n; ++c)
            if (a[r][c] != 0.0) {
                terms[r][c] = termOf(a[r][c]);
                lowest[r] = std::min(lowest[r], terms[r][c].exponent);
            }
        if (lowest[r] == INT_MAX)
            return true; // a zero row
        int widest = 0;
        for (std::size_t c = 0; c < n; ++c)
            if (a[r][c] != 0.0)
                widest = std::max(widest, bitLength(terms[r][c].odd) + terms[r][c].exponent - lowest[r]);
        bits += widest;
    }
    std::size_t const needed = std::size_t(bits / kPrimeBits + 1);
    for (std::size_t i = 0; i < needed; ++i) {
        uint64_t const p = primes()[i];
        uint64_t m[kN][kN];
        for (std::size_t r = 0; r < n; ++r)
            for (std::size_t c = 0; c < n; ++c) {
                if (a[r][c] == 0.0) {
                    m[r][c] = 0;
                    continue;
                }
                Term const& t = terms[r][c];
                uint64_t const v = t.odd % p * powerOfTwo(t.exponent - lowest[r], p) % p;
                m[r][c] = t.negative && v != 0 ? p - v : v;
            }
        if (!vanishes(m, n, p))
            return false;
    }
    return true;
}

// -------------------------------------------------------------- LU solve

// dgetrf2 on an order of at most 4 is, operation for operation, this
// right-looking elimination: the first largest magnitude pivots, and the
// multipliers are scaled by the pivot's reciprocal unless it is subnormal.
// Returns false at a pivot that is exactly zero.
bool factorize(double lu[kN][kN], std::size_t piv[kN], std::size_t n)
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
void solveIdentity(double const lu[kN][kN], std::size_t const piv[kN], std::size_t n, double x[kN][kN])
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

void invertMatrix(double const* a, double* out, std::size_t n)
{
    double lu[kN][kN];
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < n; ++c) {
            lu[r][c] = a[c * n + r];
            if (!std::isfinite(lu[r][c])) {
                std::fill(out, out + n * n, std::numeric_limits<double>::quiet_NaN());
                return;
            }
        }
    std::size_t piv[kN];
    if (exactlySingular(lu, n) || !factorize(lu, piv, n))
        singular();
    double x[kN][kN];
    solveIdentity(lu, piv, n, x);
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < n; ++c)
            out[c * n + r] = x[r][c];
}

} // namespace quelbo::detail
