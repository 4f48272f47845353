"""The dense linear-algebra helpers: flat complex matrices, Pauli expansion,
determinant/inverse/solve, Jacobi eigen-decomposition and Kronecker
factorisation, against numpy and at their documented boundaries."""

import math
import struct
from functools import reduce

import numpy as np
import pytest

import nimbic_native as nn

RNG = np.random.default_rng(2024)
PAULIS = [np.eye(2), np.array([[0, 1], [1, 0]]), np.array([[0, -1j], [1j, 0]]), np.diag([1, -1])]
PANIC = "panic in native code: array.get: index out of range (i,a.len):"


def flat(m):
    return np.asarray(m, dtype=complex).view(float).ravel().tolist()


def mat(values, d):
    return np.array(values, dtype=float).view(complex).reshape(d, d)


def rand_c(*shape):
    return RNG.normal(size=shape) + 1j * RNG.normal(size=shape)


def bits(values):
    return struct.pack(f"<{len(values)}d", *values)


def string(j, n):
    """Pauli string j: base-4 digit w names the factor on basis bit w."""
    return reduce(np.kron, [PAULIS[(j >> (2 * w)) & 3] for w in reversed(range(n))], np.eye(1))


# ---- flat complex matrices ---------------------------------------------------


@pytest.mark.parametrize("d,e", [(1, 1), (2, 3), (5, 2)])
def test_products_against_numpy(d, e):
    a, b, c, v = rand_c(d, d), rand_c(d, d), rand_c(e, e), rand_c(d)
    np.testing.assert_allclose(mat(nn.matmul(flat(a), flat(b), d), d), a @ b, atol=1e-12)
    np.testing.assert_allclose(mat(nn.kron(flat(a), d, flat(c), e), d * e), np.kron(a, c), atol=1e-12)
    np.testing.assert_array_equal(mat(nn.dagger(flat(a), d), d), a.conj().T)
    mv = nn.matvec(flat(a), flat(v), d)
    np.testing.assert_allclose(np.array(mv).view(complex), a @ v, atol=1e-12)
    np.testing.assert_array_equal(mat(nn.add_scaled(flat(a), flat(b), d, -0.5), d), b * -0.5 + a)
    # Surplus floats are ignored.
    assert nn.matmul(flat(a) + [7.0], flat(b) + [8.0], d) == nn.matmul(flat(a), flat(b), d)


def test_signed_zeros_and_nan():
    assert bits(nn.dagger([0, 0, 0, 1, 0, 0, 0, 0], 2)) == bits([0.0, -0.0, 0.0, -0.0, 0.0, -1.0, 0.0, -0.0])
    inf, nan = math.inf, math.nan
    ident = [1.0, 0, 0, 0, 0, 0, 1, 0]
    out = nn.matmul([nan, 0, 0, 0, 0, 0, 1, 0], ident, 2)
    assert all(math.isnan(x) for x in out[:2]) and out[4:] == [0.0, 0.0, 1.0, 0.0]
    # Exactly-zero entries of a (either sign) skip b's row: no 0 * inf.
    for zero in (0.0, -0.0):
        out = nn.matmul([zero, zero, 1, 0, 0, 0, 1, 0], [inf, 0, 0, 0, 0, 0, 1, 0], 2)
        assert out == [0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0, 0.0]
    assert nn.add_scaled([1.5, -2, 3, 4, 5, 6, 7, 8], [1.5, -2, 3, 4, 5, 6, 7, 8], 2, -1.0) == [0.0] * 8
    x2 = [0, 0, 2, 0, 2, 0, 0, 0]
    assert nn.kron([0, 0, 1, 0, 1, 0, 0, 0], 2, [2.0, 0.0], 1) == x2


def test_identity_and_closeness_boundaries():
    ident = [1.0, 0, 0, 0, 0, 0, 1, 0]
    near = lambda eps: [1.0, 0, 0, 0, 0, 0, 1 + eps, 0]
    assert nn.is_identity_matrix(near(1e-13), 2, 1e-12) == 1
    assert nn.is_identity_matrix(near(1e-11), 2, 1e-12) == 0
    assert nn.is_identity_matrix([1.0, 0, math.nan, 0, 0, 0, 1, math.nan], 2, 1e-12) == 1
    # The scan stops at the first failing entry: a short list is no error then.
    assert nn.is_identity_matrix([1.0, 0, 0.5, 0], 2, 1e-12) == 0
    a = [0.5, 0.25, -1.0, 2.0]
    b = [0.5, 0.0, -1.0, 2.0]
    assert nn.matrix_allclose(a, b, 1, 0.25) == 1  # strict test
    assert nn.matrix_allclose(a, b, 1, 0.2499) == 0
    assert nn.matrix_allclose([math.nan, 0], [1.0, 0], 1, 0.0) == 1
    assert nn.matrix_allclose([2.0, 0.0], [0.0], 1, 0.5) == 0  # stops before b runs out
    assert nn.is_identity_matrix(ident, 2, 0.0) == 1


@pytest.mark.parametrize("dim", [0, -3])
def test_empty_dimensions(dim):
    assert nn.matmul([], [], dim) == nn.kron([], dim, [], 2) == nn.kron([1.0, 0], 1, [], dim) == []
    assert nn.dagger([], dim) == nn.matvec([], [], dim) == nn.add_scaled([], [], dim, 2.0) == []
    assert nn.is_identity_matrix([], dim, 0.0) == nn.matrix_allclose([], [], dim, 0.0) == 1


def first_missing_by_columns(length, d):
    for c in range(d):
        for r in range(d):
            for i in (2 * (r * d + c), 2 * (r * d + c) + 1):
                if i >= length:
                    return i


@pytest.mark.parametrize("call,index,length", [
    (lambda: nn.matmul([1.0] * 7, [0.0] * 8, 2), 7, 7),
    (lambda: nn.matmul([1.0] * 8, [0.0] * 5, 2), 5, 5),
    (lambda: nn.matmul([1.0, 0, 0, 0, 1, 0, 0, 0], [0.0] * 3, 2), 3, 3),  # row 1 of b never read...
    (lambda: nn.matmul([0.0, 0, 1, 0, 0, 0, 1, 0], [0.0] * 2, 2), 4, 2),  # ...row 0 never read
    (lambda: nn.kron([1.0], 1, [0.0] * 8, 2), 1, 1),
    (lambda: nn.kron([1.0] * 6, 2, [0.0] * 7, 2), 7, 7),  # a(0,0), then all of b
    (lambda: nn.kron([1.0] * 6, 2, [0.0] * 8, 2), 6, 6),
    (lambda: nn.matvec([1.0] * 5, [0.0] * 2, 2), 2, 2),  # vector entry 1 precedes matrix entry 2...
    (lambda: nn.matvec([1.0] * 3, [0.0] * 2, 2), 3, 3),  # ...matrix entry 1 precedes vector entry 1
    (lambda: nn.matvec([1.0] * 7, [0.0] * 4, 2), 7, 7),
    (lambda: nn.add_scaled([1.0] * 5, [0.0] * 6, 2, 1.0), 5, 5),
    (lambda: nn.add_scaled([1.0] * 7, [0.0] * 6, 2, 1.0), 6, 6),
    (lambda: nn.is_identity_matrix([1.0, 0, 0], 2, 0.1), 3, 3),
    (lambda: nn.is_identity_matrix([1.0, 0, 0.5], 2, 0.1), 3, 3),  # an entry is read whole
    (lambda: nn.matrix_allclose([1.0] * 8, [1.0] * 3, 2, 0.1), 3, 3),
    (lambda: nn.matmul([], [], 1 << 40), 0, 0),
    (lambda: nn.matrix_det([1.0] * 7, 2), 7, 7),
    (lambda: nn.matrix_inverse([1.0] * 7, 2), 7, 7),
    (lambda: nn.solve3([1.0] * 2, [1.0] * 3), 2, 2),  # read as m0 m1 m2 rhs0, m3 m4 m5 rhs1, ...
    (lambda: nn.solve3([1.0] * 3, []), 0, 0),
    (lambda: nn.solve3([1.0] * 9, [1.0] * 2), 2, 2),
    (lambda: nn.solve3([1.0] * 6, [1.0] * 3), 6, 6),
    (lambda: nn.jacobi_eig([1.0, 2, 3], 2), 3, 3),
    (lambda: nn.simultaneous_diag([1.0] * 4, [1.0] * 2, 2), 2, 2),
    (lambda: nn.simultaneous_diag([], [], 0), 0, 0),  # no first sorted index
    (lambda: nn.kron_factor([1.0] * 31), 31, 31),
    (lambda: nn.pauli_expansion([0.0] * 10, 31), 2**32, 10),
])
def test_short_inputs_raise_the_first_missing_read(call, index, length):
    with pytest.raises(RuntimeError) as err:
        call()
    assert str(err.value) == f"{PANIC}{index}, {length}"


@pytest.mark.parametrize("d", [1, 2, 4])
def test_column_scans_report_first_missing_read(d):
    n = d.bit_length() - 1
    for length in range(2 * d * d):
        for call in (nn.dagger, lambda m, _: nn.pauli_expansion(m, n)):
            with pytest.raises(RuntimeError) as err:
                call([0.0] * length, d)
            assert str(err.value) == f"{PANIC}{first_missing_by_columns(length, d)}, {length}"


def test_results_too_large_raise_memory_error():
    big = [0.5] * (2 * 512 * 512)
    with pytest.raises(MemoryError):
        nn.kron(big, 512, big, 512)  # 2^37 floats
    for n in (-(1 << 24), -(1 << 63)):
        with pytest.raises(MemoryError):
            nn.matrix_inverse([], n)  # 2n^2 zeros
    assert nn.matrix_inverse([], -3) == [0.0] * 18
    assert nn.pauli_expansion([], 32) == nn.pauli_expansion([], -1) == []


# ---- Pauli expansion -----------------------------------------------------------


@pytest.mark.parametrize("matrix,n,expected", [
    ([2.5, -1.0], 0, {0: 2.5 - 1j}),
    (np.eye(2), 1, {0: 1}),
    (PAULIS[1], 1, {1: 1}),
    (PAULIS[3], 1, {3: 1}),
    (PAULIS[2], 1, {2: 1}),  # tr(P M) / 2^n: Y has coefficient +1
    (-PAULIS[2], 1, {2: -1}),
    (np.kron(PAULIS[3], np.eye(2)), 2, {12: 1}),
    (np.kron(np.eye(2), PAULIS[3]), 2, {3: 1}),
    (np.kron(PAULIS[1], PAULIS[2]), 2, {6: 1}),
    (np.kron(PAULIS[2], PAULIS[2]), 2, {10: 1}),
    ([[0, 1], [0, 0]], 1, {1: 0.5, 2: 0.5j}),
])
def test_pauli_expansion_layout(matrix, n, expected):
    out = nn.pauli_expansion(matrix if n == 0 else flat(matrix), n)
    want = np.zeros(4**n, dtype=complex)
    for j, v in expected.items():
        want[j] = v
    np.testing.assert_array_equal(np.array(out).view(complex), want)


@pytest.mark.parametrize("n", [1, 2, 3, 5])
def test_pauli_expansion_reconstructs_random_matrices(n):
    d = 1 << n
    m = rand_c(d, d)
    coef = np.array(nn.pauli_expansion(flat(m), n)).view(complex)
    direct = np.array([np.trace(string(j, n) @ m) / d for j in range(4**n)])
    scale = np.linalg.norm(m)
    assert np.max(np.abs(coef - direct)) <= 1e-13 * scale
    recon = sum(c * string(j, n) for j, c in enumerate(coef))
    np.testing.assert_allclose(recon, m, atol=1e-12 * scale)


@pytest.mark.parametrize("bad", [[(1, 2, math.inf)], [(0, 0, math.nan)], [(0, 1, -math.inf), (3, 2, math.inf)],
                                 [(0, 0, math.inf), (1, 1, -math.inf)]])
def test_pauli_expansion_non_finite_entries_like_the_direct_sum(bad):
    """The direct sum weighs every entry by every string, zero weights too, so
    0 * inf spreads NaN; numpy's complex products do the same."""
    n, d = 2, 4
    m = rand_c(d, d)
    for r, c, v in bad:
        m[r, c] = complex(v, 0.5)
    out = np.array(nn.pauli_expansion(flat(m), n))
    weights = np.array([string(j, n).T for j in range(4**n)])  # P_j[c][r] weighs M[r][c]
    with np.errstate(invalid="ignore"):
        direct = (weights * m).reshape(4**n, -1).sum(axis=1)
    expected = direct.view(float) / d  # a real division, as the module divides each part
    for test in (np.isnan, np.isposinf, np.isneginf):
        np.testing.assert_array_equal(test(out), test(expected))


# ---- determinant, inverse, solve -------------------------------------------------


def reference_det(m, n):
    """The determinant's elimination as documented, in Python floats: pivots
    by modulus (strictly larger wins), rows with an exact zero skipped."""
    a = [[complex(m[2 * (r * n + c)], m[2 * (r * n + c) + 1]) for c in range(n)] for r in range(n)]
    modulus = lambda x: math.sqrt(x.real * x.real + x.imag * x.imag)
    mul = lambda x, y: complex(x.real * y.real - x.imag * y.imag, x.real * y.imag + x.imag * y.real)
    det = 1 + 0j
    for k in range(n):
        p = max(range(k, n), key=lambda i: (modulus(a[i][k]), -i))
        if modulus(a[p][k]) < 1e-14:
            return [0.0, 0.0]
        a[k], a[p] = a[p], a[k]
        det = -mul(det, a[k][k]) if p != k else mul(det, a[k][k])
        m2 = a[k][k].real * a[k][k].real + a[k][k].imag * a[k][k].imag
        inv = complex(a[k][k].real / m2, -a[k][k].imag / m2)
        for j in range(k + 1, n):
            if a[j][k] != 0:
                f = mul(a[j][k], inv)
                a[j] = a[j][:k + 1] + [a[j][c] - mul(f, a[k][c]) for c in range(k + 1, n)]
    return [det.real, det.imag]


def tied_and_near_singular(n):
    m = rand_c(n, n)
    if n > 1:
        m[1, 0] = m[0, 0] * 1j  # equal moduli: the earlier row stays
    return m


@pytest.mark.parametrize("n", [1, 2, 3, 4, 6])
def test_det_and_inverse_against_numpy_and_bit_exact(n):
    m = tied_and_near_singular(n)
    det = nn.matrix_det(flat(m), n)
    inv = nn.matrix_inverse(flat(m), n)
    np.testing.assert_allclose(complex(*det), np.linalg.det(m), rtol=1e-10)
    np.testing.assert_allclose(mat(inv, n), np.linalg.inv(m), rtol=1e-9, atol=1e-12)
    assert bits(det) == bits(reference_det(flat(m), n))
    assert nn.matrix_inverse(flat(m) + [5.0, 5.0], n) == inv


def test_det_inverse_pivot_threshold_and_dimensions():
    swap = flat([[0, 1], [1, 0]])
    assert nn.matrix_det(swap, 2) == [-1.0, 0.0] and nn.matrix_inverse(swap, 2) == swap
    assert nn.matrix_det([1e-14, 0.0], 1) == [1e-14, 0.0]  # "below" the threshold is singular
    assert nn.matrix_inverse([1e-14, 0.0], 1) == pytest.approx([1e14, 0.0])
    assert nn.matrix_det([9.9e-15, 0.0], 1) == [0.0, 0.0] and nn.matrix_inverse([9.9e-15, 0.0], 1) == []
    assert nn.matrix_det([0.0, 0.0], 1) == [0.0, 0.0] and nn.matrix_inverse([0.0, 0.0], 1) == []
    # Singular after elimination: rows (1, 2) and (2, 4).
    assert nn.matrix_det(flat([[1, 2], [2, 4]]), 2) == [0.0, 0.0]
    assert nn.matrix_det([], 0) == nn.matrix_det([], -2) == [1.0, 0.0] and nn.matrix_inverse([], 0) == []


def test_solve3():
    m = RNG.normal(size=(3, 3))
    rhs = RNG.normal(size=3)
    np.testing.assert_allclose(nn.solve3(m.ravel().tolist(), rhs.tolist()), np.linalg.solve(m, rhs), rtol=1e-10)
    assert nn.solve3([1.0, 0, 0, 0, 1, 0, 0, 0, 1], [0.25, -3.0, 7.5]) == [0.25, -3.0, 7.5]
    swapped = [[0.0, 2, 1], [3, 1, 0], [1, 0, 4]]
    np.testing.assert_allclose(nn.solve3(sum(swapped, []), [1.0, 2, 3]), np.linalg.solve(swapped, [1, 2, 3]))
    assert any(math.isnan(x) or math.isinf(x) for x in nn.solve3([0.0] * 9, [1.0, 1, 1]))


# ---- Jacobi eigen-decomposition ----------------------------------------------------


@pytest.mark.parametrize("n", [1, 2, 4, 7])
def test_jacobi_eig_against_numpy(n):
    s = RNG.normal(size=(n, n))
    s = s + s.T
    out = nn.jacobi_eig(s.ravel().tolist(), n)
    vals, q = np.array(out[:n]), np.array(out[n:]).reshape(n, n)
    np.testing.assert_allclose(np.sort(vals), np.linalg.eigh(s)[0], atol=1e-10)
    np.testing.assert_allclose(q.T @ q, np.eye(n), atol=1e-12)
    np.testing.assert_allclose(s @ q, q * vals, atol=1e-9)


def test_jacobi_eig_documented_results():
    assert nn.jacobi_eig([3.0, 0, 0, -1.0], 2) == [3.0, -1.0, 1.0, 0.0, 0.0, 1.0]
    assert nn.jacobi_eig([1.0, 0, 0, 0], 2) == [1.0, 0.0, 1.0, 0.0, 0.0, 1.0]  # unsorted
    out = nn.jacobi_eig([2.0, 1, 1, 2], 2)
    r = 1 / math.sqrt(1 + 1.0)
    np.testing.assert_allclose(out[:2], [1, 3], atol=1e-14)
    assert out[2:] == [r, r, -r, r]
    assert nn.jacobi_eig([], 0) == []
    assert nn.simultaneous_diag([2.5], [-4.0], 1) == [2.5, -4.0, 1.0]


def test_simultaneous_diag_of_commuting_pair_with_degeneracy():
    n = 5
    q0 = np.linalg.qr(RNG.normal(size=(n, n)))[0]
    a = q0 @ np.diag([1.0, 2, 2, 2, -1]) @ q0.T
    b = q0 @ np.diag([0.5, 3, -1, 4, 0.25]) @ q0.T
    out = nn.simultaneous_diag(a.ravel().tolist(), b.ravel().tolist(), n)
    pairs = np.array(out[:2 * n]).reshape(n, 2)
    q = np.array(out[2 * n:]).reshape(n, n)
    np.testing.assert_allclose(q.T @ q, np.eye(n), atol=1e-10)
    for m, col in ((a, 0), (b, 1)):
        d = q.T @ m @ q
        # The sweeps stop once the squared off-diagonal sum is below 1e-14.
        np.testing.assert_allclose(d, np.diag(np.diag(d)), atol=1e-6)
        np.testing.assert_allclose(np.diag(d), pairs[:, col], atol=1e-12)
    assert sorted(zip(np.round(pairs[:, 0], 6), np.round(pairs[:, 1], 6))) == \
        sorted([(1.0, 0.5), (2.0, 3.0), (2.0, -1.0), (2.0, 4.0), (-1.0, 0.25)])


@pytest.mark.parametrize("gap,mixed", [(5e-10, True), (2e-9, False)])
def test_simultaneous_diag_cluster_width(gap, mixed):
    out = nn.simultaneous_diag([1.0, 0, 0, 1 + gap], [0.0, 1, 1, 0], 2)
    q = np.array(out[4:]).reshape(2, 2)
    r = 1 / math.sqrt(2)
    if mixed:
        np.testing.assert_allclose(q, [[r, r], [-r, r]], atol=1e-12)
        np.testing.assert_allclose(out[1:4:2], [-1, 1], atol=1e-9)
    else:
        assert q.tolist() == [[1.0, 0.0], [0.0, 1.0]]


# ---- Kronecker factorisation ---------------------------------------------------------


def test_kron_factor_documented_cases():
    i2, x = np.eye(2), PAULIS[1]
    assert nn.kron_factor(flat(np.eye(4))) == [1.0, 0.0] + flat(i2) * 2
    out = nn.kron_factor(flat(np.kron(x, i2)))
    assert out[:2] == [0.0, 1.0] and out[2:10] == [0, 0, 0, -1, 0, -1, 0, 0] and out[10:] == flat(i2)
    assert nn.kron_factor(flat(-np.eye(4))) == [1.0, -0.0] + flat(i2) + flat(-i2)
    g = nn.kron_factor([0.0] * 32)
    assert all(math.isnan(v) for v in g[:2]) and g[2:] == [0.0] * 16


def test_kron_factor_reconstructs_scaled_unitary_products():
    for _ in range(25):
        u1, u2 = (np.linalg.qr(rand_c(2, 2))[0] for _ in range(2))
        k = complex(*RNG.normal(size=2)) * 10 ** RNG.uniform(-3, 3)
        m = k * np.kron(u1, u2)
        out = nn.kron_factor(flat(m))
        g, a, b = complex(*out[:2]), mat(out[2:10], 2), mat(out[10:], 2)
        np.testing.assert_allclose(g * np.kron(a, b), m, atol=1e-12 * abs(k))
        np.testing.assert_allclose([np.linalg.det(a), np.linalg.det(b)], [1, 1], atol=1e-12)
        assert g.real >= 0


def test_kron_factor_reads_around_the_earliest_largest_entry():
    """Entries of modulus exactly 1 everywhere (not a product): the pivot is
    entry 0, so A comes from rows/columns 0 and 2 and B from 0 and 1, each
    divided by the principal root of its determinant."""
    units = np.array([1, -1, 1j, -1j])
    for _ in range(10):
        m = units[RNG.integers(0, 4, size=(4, 4))]
        out = nn.kron_factor(flat(m))
        a, b = mat(out[2:10], 2), mat(out[10:], 2)
        for got, raw in ((a, m[np.ix_([0, 2], [0, 2])]), (b, m[:2, :2])):
            det = np.linalg.det(raw)
            want = raw / np.sqrt(det) if abs(det) >= 1e-14 else raw
            assert np.allclose(got, want, atol=1e-12) or (got is a and np.allclose(got, -want, atol=1e-12))
