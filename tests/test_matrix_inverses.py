"""Matrix inverses against numpy.linalg.inv: random, ill-conditioned and
exactly singular matrices of every class, transforms with extreme entries,
permutations and non-finite entries (M[r, c] = at(c, r))."""
import itertools
import math
import random
import re
from fractions import Fraction

import numpy as np
import pytest

from helpers import ldexp
from proxy import QuelboError, q
from test_matrices import KINDS, make, read

SINGULAR = "^Matrix: the matrix is singular and has no inverse$"


def dtype_of(elem):
    return np.float32 if elem == "float" else np.float64


def ours(name, a):
    return read(make(name, a).inverse(), a.shape[0])


def numpy_inverse(a):
    try:
        return np.linalg.inv(a.astype(np.float64))
    except np.linalg.LinAlgError:
        return None


def random_matrices(rng, n, dtype):
    """Gaussian and integer matrices, ill-conditioned ones up to a condition
    of 1e13 (1e6 in single precision), and rows scaled by powers of two."""
    top = 6 if dtype == np.float32 else 13
    for _ in range(60):
        yield rng.standard_normal((n, n))
        yield rng.integers(-20, 21, (n, n)).astype(float)
        u, _, v = np.linalg.svd(rng.standard_normal((n, n)))
        yield u @ np.diag(np.logspace(0, -rng.uniform(0, top), n)) @ v
        yield np.diag(2.0 ** rng.integers(-60, 60, n)) @ rng.standard_normal((n, n))


@pytest.mark.parametrize("name,n,elem", KINDS)
def test_inverses_agree_with_numpy_within_the_condition(name, n, elem):
    dtype = dtype_of(elem)
    eps = np.finfo(dtype).eps
    rng = np.random.default_rng(52 + n)
    for a in random_matrices(rng, n, dtype):
        a = a.astype(dtype)
        ref = numpy_inverse(a)
        if ref is None:
            continue
        cond = np.linalg.cond(a.astype(np.float64))
        got = ours(name, a)
        assert np.linalg.norm(got - ref) <= 8 * n * eps * cond * np.linalg.norm(ref), (a, got, ref)


def extreme_scales(rng, elem):
    low, high = (-37, 37) if elem == "float" else (-300, 300)
    fixed = [1e-300, 1e-16, 3e15, 1e16, 1e200, 1e300] if elem == "double" else [1e-37, 2.5e6, 3e6, 1e7, 1e37]
    return fixed + list(10.0 ** rng.uniform(low, high, 20))


@pytest.mark.parametrize("name,n,elem", KINDS)
def test_translations_scalings_and_permutations_invert_exactly(name, n, elem):
    dtype = dtype_of(elem)
    rng = np.random.default_rng(7 * n)
    for t in extreme_scales(rng, elem):
        offsets = (dtype(t) * rng.choice([-1, 1], n - 1)).astype(dtype)
        a = np.eye(n, dtype=dtype)
        a[:-1, -1] = offsets
        expected = np.eye(n)
        expected[:-1, -1] = -offsets
        assert (ours(name, a) == expected).all(), t
        assert (np.linalg.inv(a) == expected).all()
        diagonal = np.append(dtype(t) * rng.uniform(0.5, 2, n - 1), 1).astype(dtype)
        scaling = np.diag(diagonal)
        got = ours(name, scaling)
        assert (got == np.linalg.inv(scaling)).all(), t  # numpy in the matrix's own precision
        assert (np.diag(got) == (1 / diagonal.astype(np.float64)).astype(dtype)).all()
    for _ in range(10):
        p = np.eye(n, dtype=dtype)[rng.permutation(n)] * rng.choice([-1, 1], n)
        assert (ours(name, p) == p.T).all()


def rank_deficient(rng, n, elem):
    """Integer matrices of every rank below n, and the same with rows and
    columns scaled by powers of two (still exactly singular), some out to both
    ends of the double range, subnormal entries included."""
    for _ in range(100):
        rank = int(rng.integers(0, n))
        a = (rng.integers(-9, 10, (n, rank)) @ rng.integers(-9, 10, (rank, n))).astype(float)
        yield a
        yield np.diag(2.0 ** rng.integers(-60, 60, n)) @ a @ np.diag(2.0 ** rng.integers(-60, 60, n))
        ends = [-1070, 1010, -400, 900] if elem == "double" else [-140, 120, -60, 100]
        yield np.diag(2.0 ** np.array(ends[:n])) @ a
        yield a @ np.diag(2.0 ** np.array(ends[:n]))  # a row's entries 2000 bits apart


@pytest.mark.parametrize("name,n,elem", KINDS)
def test_exactly_singular_matrices_are_refused(name, n, elem):
    rng = np.random.default_rng(3 * n)
    matrices = list(rank_deficient(rng, n, elem))
    matrices.append(np.arange(1.0, n * n + 1).reshape(n, n))  # numpy answers with 1e16 entries
    if n == 3:
        matrices.append(np.array([[-7, 11, -24], [-21, 35, -14], [-18, 31, 17]], float))
    for a in matrices:
        a = a.astype(dtype_of(elem))
        with pytest.raises(QuelboError, match=SINGULAR):
            make(name, a).inverse()


@pytest.mark.parametrize("name,n,elem", [k for k in KINDS if k[2] == "double"])
def test_a_zero_pivot_is_refused_as_numpy_refuses_it(name, n, elem):
    # not singular (3 * fl(1/3) != 1), but the elimination leaves a zero pivot
    a = np.eye(n)
    a[:2, :2] = [[3, 1], [1, 1 / 3]]
    assert numpy_inverse(a) is None
    with pytest.raises(QuelboError, match=SINGULAR):
        make(name, a).inverse()
    # a few bits away from singular: inverted, as numpy inverts it
    a = np.arange(1.0, n * n + 1).reshape(n, n) + 2.0 ** -40 * np.eye(n)
    ref = numpy_inverse(a)
    assert np.linalg.norm(ours(name, a) - ref) <= 8 * n * 2.0 ** -52 * np.linalg.cond(a) * np.linalg.norm(ref)


@pytest.mark.parametrize("name,n,elem", KINDS)
def test_non_finite_entries_give_nan_entries(name, n, elem):
    rng = np.random.default_rng(n)
    for bad in (np.nan, np.inf, -np.inf):
        for _ in range(5):
            a = rng.standard_normal((n, n)) + 3 * np.eye(n)
            a[tuple(rng.integers(0, n, 2))] = bad
            assert np.isnan(ours(name, a.astype(dtype_of(elem)))).all()
    assert np.isnan(np.linalg.inv(np.full((n, n), np.nan))).all()


@pytest.mark.parametrize("name,n,elem", [k for k in KINDS if k[2] == "double"])
def test_a_determinant_that_large_primes_divide_is_not_taken_for_zero(name, n, elem):
    # triangular: the determinant is the product of the diagonal, here of the
    # largest primes below 2**31
    a = np.triu(np.random.default_rng(n).integers(-9, 10, (n, n))).astype(float)
    np.fill_diagonal(a, [2147483647, 2147483629, 2147483587, 2147483579][:n])
    ref = numpy_inverse(a)
    assert np.linalg.norm(ours(name, a) - ref) <= 8 * n * 2.0 ** -52 * np.linalg.cond(a) * np.linalg.norm(ref)


def entry(rng):
    """Zero, or a number of up to 53 bits at any place from 2^-1074 to 2^1000 (where no
    elimination step overflows), each entry at its own."""
    if rng.random() < 0.15:
        return 0.0
    bits = rng.choice([53, rng.randint(1, 53)])
    return rng.choice([-1, 1]) * math.ldexp(rng.getrandbits(bits) | 1 << (bits - 1), rng.randint(-1074, 1000 - bits))


def determinant(a):
    n = len(a)
    total = Fraction(0)
    for p in itertools.permutations(range(n)):
        term = Fraction(-1 if sum(p[s] < p[r] for r in range(n) for s in range(r + 1, n)) % 2 else 1)
        for r in range(n):
            term *= Fraction(a[r][p[r]])
        total += term
    return total


def far_apart_matrices(rng, n):
    """Matrices whose entries lie far apart, rows and columns shuffled: a row made of the others
    (a multiple of one by a power of two, or a sum of two carrying from one into the other); one
    of two rows of disjoint supports and their sum but for a zero of it replaced by 2147483647
    times a power of two (a determinant that the first prime of the exact test divides, seldom
    zero); a triangular one of that prime and small entries."""
    a = [[entry(rng) for _ in range(n)] for _ in range(n)]
    kind = rng.choice(["multiple", "carried", "divided", "narrow"])
    k, m = rng.randint(-60, 60), rng.randint(-60, 60)
    if kind == "multiple":
        a[n - 1] = [-ldexp(x, k) for x in a[0]]
    elif kind == "carried":  # parts of 52 - d bits, the second d places up: every sum exact
        for c in range(n):
            e, d = rng.randint(-1074, 900), rng.randint(0, 20)
            a[0][c], a[1][c] = (rng.choice([-1, 1]) * math.ldexp(rng.getrandbits(52 - d), e + up)
                                for up in (0, d))
        a[n - 1] = [x + y for x, y in zip(a[0], a[1])]
    elif kind == "divided":
        for c in range(n):  # each column of one of the two rows at most, the first of neither
            a[rng.randrange(2)][c] = 0.0
        a[0][0] = a[1][0] = 0.0
        a[n - 1] = [ldexp(x, k) + ldexp(y, m) for x, y in zip(a[0], a[1])]
        a[n - 1][0] = math.ldexp(2147483647, rng.randint(-1074, 960))
    else:
        a = [[math.ldexp(2147483647 if r == c == 0 else rng.choice([-1, 1]) if r == c else
                         rng.randint(-9, 9) if c > r else 0, k) for c in range(n)] for r in range(n)]
    if not all(abs(x) < 2.0 ** 1000 for row in a for x in row):  # exact below
        return far_apart_matrices(rng, n)
    rows, cols = rng.sample(range(n), n), rng.sample(range(n), n)
    return np.array([[a[r][c] for c in cols] for r in rows])


@pytest.mark.parametrize("name,n,elem", [k for k in KINDS if k[2] == "double"])
def test_refused_exactly_when_the_determinant_is_zero(name, n, elem):
    rng = random.Random(n)
    for _ in range(300):
        a = far_apart_matrices(rng, n)
        try:
            make(name, a).inverse()
            refused = False
        except QuelboError as e:
            assert re.match(SINGULAR, str(e))
            refused = True
        if determinant(a) == 0:
            assert refused, a
        elif numpy_inverse(a) is not None:  # else a zero pivot, refused as numpy refuses it
            assert not refused, a
