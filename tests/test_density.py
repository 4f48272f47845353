"""Density matrices: Kraus channels on NativeDensity (each kernel path against
numpy), measurement, the whole-matrix functions and their error handling."""

import pathlib
import subprocess
import sys

import numpy as np
import pytest

import nimbic_native as nn

PANIC = "panic in native code: "
ROOT = pathlib.Path(__file__).resolve().parent.parent
X = np.array([[0, 1], [1, 0]], dtype=complex)
Z = np.diag([1, -1]).astype(complex)
CNOT = np.eye(4, dtype=complex)[[0, 1, 3, 2]]


# ---- helpers -------------------------------------------------------------------

def flat(*ops):
    return np.concatenate([np.asarray(k, dtype=complex).ravel().view(np.float64) for k in ops]).tolist()


def as_matrix(floats):
    a = np.asarray(floats, dtype=np.float64).view(np.complex128)
    d = int(round(np.sqrt(a.size)))
    return a.reshape(d, d)


def random_rho(n, rng):
    a = rng.normal(size=(2**n, 2**n)) + 1j * rng.normal(size=(2**n, 2**n))
    rho = a @ a.conj().T
    return rho / np.trace(rho)


def random_kraus(d, m, rng, real=False):
    """m operators with sum K^dagger K = I (columns of a random isometry)."""
    a = rng.normal(size=(m * d, d)) + (0 if real else 1j) * rng.normal(size=(m * d, d))
    q, _ = np.linalg.qr(a)
    return [q[i * d:(i + 1) * d] for i in range(m)]


def embed(op, targets, n):
    """op on `targets` (first target = most significant operator bit), identity
    elsewhere; qubit 0 is the most significant bit of a basis index."""
    k = len(targets)
    full = np.kron(op, np.eye(2 ** (n - k)))  # acts on qubits (targets..., others...)
    order = list(targets) + [q for q in range(n) if q not in targets]
    back = list(np.argsort(order))
    t = full.reshape([2] * (2 * n)).transpose(back + [n + p for p in back])
    return t.reshape(2**n, 2**n)


def kraus_sum(rho, ops, targets, n):
    return sum(embed(k, targets, n) @ rho @ embed(k, targets, n).conj().T for k in ops)


def native(rho):
    n = int(np.log2(rho.shape[0]))
    obj = nn.NativeDensity(n)
    np.frombuffer(obj, dtype=np.complex128)[:] = rho.ravel()
    return obj


def applied(rho, ops, targets):
    obj = native(rho)
    obj.apply_channel(flat(*ops), len(ops), targets)
    return as_matrix(obj.density_matrix())


# ---- the four kernels against the plain sum of sandwiches -----------------------

KERNEL_CASES = [
    # (name, n, targets, operator factory)
    ("permutation X", 3, [1], lambda r: [X]),
    ("permutation on two targets, descending", 3, [2, 0], lambda r: [np.eye(4)[r.permutation(4)]]),
    ("permutation naming one column twice", 2, [0], lambda r: [np.array([[1, 0], [1, 0]])]),
    ("permutation on three targets", 4, [3, 0, 2], lambda r: [np.eye(8)[r.permutation(8)]]),
    ("single-qubit, most significant qubit", 3, [0], lambda r: random_kraus(2, 3, r)),
    ("single-qubit, middle qubit", 3, [1], lambda r: random_kraus(2, 2, r)),
    ("single-qubit, least significant qubit", 3, [2], lambda r: random_kraus(2, 3, r)),
    ("single-qubit, real operators", 4, [2], lambda r: random_kraus(2, 2, r, real=True)),
    ("single-qubit on a one-qubit matrix", 1, [0], lambda r: random_kraus(2, 2, r)),
    ("diagonal, two targets", 3, [0, 2], lambda r: [np.diag(r.normal(size=4) + 1j * r.normal(size=4)) for _ in range(3)]),
    ("diagonal, three targets", 4, [3, 1, 2], lambda r: [np.diag(r.normal(size=8) + 1j * r.normal(size=8)) for _ in range(2)]),
    ("diagonal, seven targets", 7, [6, 0, 5, 1, 4, 2, 3], lambda r: [np.diag(np.exp(1j * r.normal(size=128)))]),
    ("general, complex, two targets", 3, [2, 0], lambda r: random_kraus(4, 3, r)),
    ("general, real, two targets", 4, [1, 2], lambda r: random_kraus(4, 2, r, real=True)),
    ("general, one operator", 3, [1, 2], lambda r: random_kraus(4, 1, r)),
    ("general on every qubit", 2, [1, 0], lambda r: random_kraus(4, 2, r)),
    ("general, three targets, one operator", 4, [3, 0, 1], lambda r: random_kraus(8, 1, r)),
    ("general, five targets", 5, [4, 0, 3, 1, 2], lambda r: random_kraus(32, 2, r)),
    ("general, four targets, many operators", 5, [0, 4, 2, 3], lambda r: random_kraus(16, 5, r)),
]


@pytest.mark.parametrize("name,n,targets,factory", KERNEL_CASES, ids=[c[0] for c in KERNEL_CASES])
def test_channel_equals_sum_of_sandwiches(name, n, targets, factory):
    rng = np.random.default_rng(sum(map(ord, name)))
    rho = random_rho(n, rng)
    ops = factory(rng)
    got = applied(rho, ops, targets)
    want = kraus_sum(rho, ops, targets, n)
    np.testing.assert_allclose(got, want, rtol=0, atol=1e-13)
    if "permutation" in name:
        assert np.array_equal(got, want)  # entries are only moved
    elif np.allclose(sum(k.conj().T @ k for k in ops), np.eye(len(ops[0]))):
        assert abs(np.trace(got) - 1) < 1e-13
        np.testing.assert_allclose(got, got.conj().T, atol=1e-14)


def test_diagonal_kernel_follows_the_documented_factors_exactly():
    # Real arithmetic one operation at a time (numpy's complex product may
    # fuse multiply-adds): F[i][j] = sum over k of K_k[i][i] * conj(K_k[j][j])
    # from 0 in operator order, then every entry times its factor.
    rng = np.random.default_rng(5)
    rho = random_rho(4, rng)
    ops = [np.diag(rng.normal(size=4) + 1j * rng.normal(size=4)) for _ in range(3)]
    fr, fi = np.zeros((4, 4)), np.zeros((4, 4))
    for k in ops:
        x, y = np.diag(k)[:, None], np.diag(k)[None, :]
        fr = fr + (x.real * y.real + x.imag * y.imag)
        fi = fi + (y.real * x.imag - y.imag * x.real)
    targets = [3, 1]
    pattern = [2 * ((b >> (3 - targets[0])) & 1) + ((b >> (3 - targets[1])) & 1) for b in range(16)]
    fr, fi = fr[np.ix_(pattern, pattern)], fi[np.ix_(pattern, pattern)]
    want = (rho.real * fr - rho.imag * fi) + 1j * (rho.real * fi + rho.imag * fr)
    assert np.array_equal(applied(rho, ops, targets), want)


def test_large_matrix_uses_the_same_kernels():
    # Big enough for huge pages and the multi-register walks.
    rng = np.random.default_rng(11)
    n = 9
    a = rng.normal(size=(2**n, 4)) + 1j * rng.normal(size=(2**n, 4))
    rho = a @ a.conj().T
    for ops, targets in [(random_kraus(2, 2, rng), [4]), (random_kraus(4, 4, rng), [8, 0]), ([X], [8])]:
        np.testing.assert_allclose(applied(rho, ops, targets), kraus_sum(rho, ops, targets, n), atol=1e-11)


# ---- dispatch boundaries ---------------------------------------------------------------

BELOW, ABOVE = 0.999e-9, 1.001e-9  # squares either side of the 1e-18 zero threshold
assert BELOW * BELOW <= 1e-18 < ABOVE * ABOVE


@pytest.mark.parametrize("op,permutation", [
    ([[1, BELOW], [0, 1]], True),
    ([[1, ABOVE], [0, 1]], False),
    ([[1 + 2**-50, 0], [0, 1]], True),   # |x - 1| = 8.9e-16 <= 1e-15
    ([[1 + 2**-49, 0], [0, 1]], False),  # 1.8e-15
    ([[1 + 1e-15j, 0], [0, 1]], True),
    ([[1 + 2e-15j, 0], [0, 1]], False),
    ([[-1, 0], [0, 1]], False),          # a sign is no permutation
    ([[1, 0], [0, 1j]], False),
], ids=["small-entry", "entry-above-zero", "near-one", "off-one", "tiny-imag", "imag", "sign", "phase"])
def test_permutation_threshold(op, permutation):
    # The permutation kernel moves entries and takes the 1 as exact, so a
    # near-identity leaves rho untouched; the single-qubit kernel multiplies.
    rng = np.random.default_rng(3)
    rho = random_rho(2, rng)
    op = np.array(op, dtype=complex)
    got = applied(rho, [op], [1])
    assert np.array_equal(got, rho) == permutation
    if not permutation:
        np.testing.assert_allclose(got, kraus_sum(rho, [op], [1], 2), atol=1e-14)


@pytest.mark.parametrize("entry,diagonal", [(BELOW, True), (ABOVE, False), (1j * BELOW, True), (1j * ABOVE, False)])
def test_diagonal_threshold(entry, diagonal):
    rng = np.random.default_rng(4)
    rho = random_rho(3, rng)
    ops = [np.diag(rng.normal(size=4) + 0j) for _ in range(2)]
    ignored = applied(rho, ops, [0, 2])  # the diagonal kernel on exactly diagonal operators
    ops[1][3, 1] = entry                 # one small entry off the diagonal, in the last operator
    got = applied(rho, ops, [0, 2])
    if diagonal:
        assert np.array_equal(got, ignored)
    else:
        assert np.abs(got - ignored).max() > 1e-11
        np.testing.assert_allclose(got, kraus_sum(rho, ops, [0, 2], 3), atol=1e-14)


# ---- apply_channel: bad input, and nothing changes when it raises --------------

def test_early_returns_ignore_the_operators():
    obj = native(random_rho(2, np.random.default_rng(6)))
    before = obj.density_matrix()
    obj.apply_channel([1.0, 2.0, 3.0], 1, [])
    zero = nn.NativeDensity(0)
    zero.reset()
    zero.apply_channel([1.0], 1, [0])
    assert obj.density_matrix() == before and zero.density_matrix() == [1.0, 0.0]


@pytest.mark.parametrize("operators,count,targets,message", [
    (flat(X), 0, [0], "division by zero"),
    (flat(X), 0, [], "division by zero"),
    (flat(X, X), -1, [0], "operator dimension 1 does not match 1 targets"),
    (flat(np.eye(4)), 1, [0], "operator dimension 4 does not match 1 targets"),
    (flat(X), 1, [0, 1], "operator dimension 2 does not match 2 targets"),
    ([], 3, [1], "operator dimension 1 does not match 1 targets"),
    (flat(X), 1, [2], "qubit index out of range (q,n):2, 2"),
    (flat(X), 1, [-1], "qubit index out of range (q,n):-1, 2"),
    (flat(CNOT), 1, [1, 1], "duplicate qubit index (q):1"),
    (flat(X)[:7], 1, [0], "array.get: index out of range (i,a.len):7, 7"),
    (flat(X, X)[:15], 2, [1], "array.get: index out of range (i,a.len):15, 15"),
    # Six diagonal 4x4 operators cut inside the fourth one's diagonal entry
    # (2, 2): the analysis skips diagonals and fails at the next off-diagonal.
    ((flat(*[np.eye(4)] * 6))[:116], 6, [0, 1], "array.get: index out of range (i,a.len):118, 116"),
])
def test_apply_channel_errors_leave_rho_alone(operators, count, targets, message):
    obj = native(random_rho(2, np.random.default_rng(7)))
    before = obj.density_matrix()
    with pytest.raises(RuntimeError) as err:
        obj.apply_channel(operators, count, targets)
    assert str(err.value) == PANIC + message
    assert obj.density_matrix() == before


def test_trailing_float_is_ignored():
    # 17 floats for 2 operators: 8 each, dimension 2; the last float is unused.
    rng = np.random.default_rng(8)
    rho, ops = random_rho(2, rng), random_kraus(2, 2, rng)
    obj = native(rho)
    obj.apply_channel(flat(*ops) + [123.0], 2, [0])
    np.testing.assert_allclose(as_matrix(obj.density_matrix()), kraus_sum(rho, ops, [0], 2), atol=1e-14)


@pytest.mark.parametrize("num_qubits,channel,amplitudes,setting,measuring", [
    (3, "32, 32", 8, "32, 32", "36, 32"),  # diagonal entry 2 of an 8 x 8 matrix is float 36
    (1, "8, 8", 2, "8, 8", "8, 8"),        # the 8 collapsed floats cannot cover the matrix
    (31, "32, 32", 1, "2, 2", "4294967298, 32"),
])
def test_matrix_that_does_not_match_num_qubits(num_qubits, channel, amplitudes, setting, measuring):
    obj = native(random_rho(2, np.random.default_rng(9)))
    before = obj.density_matrix()
    obj.num_qubits = num_qubits
    calls = [(lambda: obj.apply_channel(flat(X), 1, [0]), channel),
             (lambda: obj.set_from_amplitudes([0.5, 0.5] * amplitudes), setting),
             (lambda: obj.measure([0], 0.5), measuring)]
    for call, message in calls:
        with pytest.raises(RuntimeError) as err:
            call()
        assert str(err.value) == PANIC + "array.get: index out of range (i,a.len):" + message
    assert obj.density_matrix() == before


# ---- the class: construction and whole-matrix methods ---------------------------

def test_fresh_and_reset_states():
    one = nn.NativeDensity(1)
    assert one.density_matrix() == [0.0] * 8
    one.set_zero_state()
    assert one.density_matrix() == [1.0] + [0.0] * 7
    np.frombuffer(one)[:] = 0.25
    one.set_zero_state()  # only float 0 is written
    assert one.density_matrix() == [1.0] + [0.25] * 7
    one.reset()
    assert one.density_matrix() == [1.0] + [0.0] * 7


@pytest.mark.parametrize("n,channel_error", [
    (31, "array.get: index out of range (i,a.len):0, 0"),
    (64, "array.get: index out of range (i,a.len):0, 0"),
    (-1, None),  # no qubits: the channel returns before looking at anything
])
def test_counts_without_a_matrix_are_empty(n, channel_error):
    obj = nn.NativeDensity(n)
    obj.reset()
    obj.set_zero_state()
    obj.set_from_amplitudes([1.0, 0.0])
    assert obj.density_matrix() == []
    if channel_error is None:
        obj.apply_channel(flat(X), 1, [0])
    else:
        with pytest.raises(RuntimeError) as err:
            obj.apply_channel(flat(X), 1, [0])
        assert str(err.value) == PANIC + channel_error
    # Counts beyond 63 qubits (and negative ones) have no outcomes to read.
    if n == 31:
        with pytest.raises(RuntimeError, match=r"\(i,a.len\):0, 0$"):
            obj.probabilities([])
    else:
        assert obj.probabilities([]) == [0.0]


def test_thirty_qubits_is_a_memory_error():
    with pytest.raises(MemoryError):
        nn.NativeDensity(30)


@pytest.mark.parametrize("values", [
    [0.6, 0.0, 0.0, 0.8],
    [0.5, 0.1, -0.3, 0.2, 0.0, 0.7, 0.1, -0.2],
    [1.0, 2.0, 3.0],  # a trailing odd float is ignored
    [],
])
def test_state_to_density(values):
    g = len(values) // 2
    psi = np.asarray(values[:2 * g], dtype=float).view(complex)
    np.testing.assert_allclose(as_matrix(nn.state_to_density(values)), np.outer(psi, psi.conj()), atol=1e-15)
    assert len(nn.state_to_density(values)) == 2 * g * g


def test_set_from_amplitudes():
    rng = np.random.default_rng(12)
    psi = rng.normal(size=8) + 1j * rng.normal(size=8)
    obj = nn.NativeDensity(2)
    obj.set_from_amplitudes(psi[:4].view(np.float64).tolist())
    assert obj.density_matrix() == nn.state_to_density(psi[:4].view(np.float64).tolist())
    # More than 2^n amplitudes: |psi><psi| of the leading four.
    obj.set_from_amplitudes(psi.view(np.float64).tolist())
    assert obj.density_matrix() == nn.state_to_density(psi[:4].view(np.float64).tolist())
    before = obj.density_matrix()
    with pytest.raises(RuntimeError) as err:  # three amplitudes give 18 floats, 32 needed
        obj.set_from_amplitudes(psi[:3].view(np.float64).tolist())
    assert str(err.value) == PANIC + "array.get: index out of range (i,a.len):18, 18"
    assert obj.density_matrix() == before


# ---- measurement ------------------------------------------------------------------

def projector(targets, outcome, n):
    keep = [all(((b >> (n - 1 - t)) & 1) == ((outcome >> (len(targets) - 1 - p)) & 1)
                for p, t in enumerate(targets)) for b in range(2**n)]
    return np.diag(np.array(keep, dtype=float))


@pytest.mark.parametrize("targets", [[2, 0], [1], [0, 1, 2], []])
def test_probabilities_and_collapse_against_projectors(targets):
    n = 3
    rho = random_rho(n, np.random.default_rng(13))
    flat_rho = rho.ravel().view(np.float64).tolist()
    probs = nn.density_probabilities(flat_rho, targets, n)
    assert native(rho).probabilities(targets) == probs
    want = [np.trace(projector(targets, o, n) @ rho).real for o in range(2 ** len(targets))]
    np.testing.assert_allclose(probs, want, atol=1e-15)
    for outcome in range(2 ** len(targets)):
        p = projector(targets, outcome, n)
        got = as_matrix(nn.density_collapse(flat_rho, targets, outcome, n))
        np.testing.assert_allclose(got, p @ rho @ p / want[outcome], atol=1e-14)


def test_collapse_of_an_impossible_outcome_is_zero():
    mixed = [0.5, 0, 0, 0, 0, 0, 0.5, 0]
    assert nn.density_collapse(mixed, [0], 1, 1) == [0.0] * 6 + [1.0, 0.0]
    for outcome in (-1, 2):
        assert nn.density_collapse(mixed, [0], outcome, 1) == [0.0] * 8
    assert nn.density_collapse([0.5, 0, 0, 0, 0, 0, 0.0, 0], [0], 1, 1) == [0.0] * 8


@pytest.mark.parametrize("targets,u,outcome", [
    ([0, 1], 0.0, 1), ([0, 1], 0.999, 1), ([1, 0], 0.3, 2), ([1], 0.7, 1), ([0], 0.2, 0),
])
def test_measure_basis_state(targets, u, outcome):
    obj = nn.NativeDensity(2)
    obj.set_from_amplitudes([0, 0, 1, 0, 0, 0, 0, 0])  # |01>: qubit 1 set
    assert obj.measure(targets, u) == outcome
    assert obj.density_matrix() == nn.state_to_density([0, 0, 1, 0, 0, 0, 0, 0])


def test_measure_draws_and_collapses():
    rng = np.random.default_rng(14)
    rho = random_rho(3, rng)
    probs = [np.trace(projector([2, 0], o, 3) @ rho).real for o in range(4)]
    for u in (0.0, 0.35, 0.8, 0.99999, 1.5, -0.1):
        obj = native(rho)
        outcome = obj.measure([2, 0], u)
        running = np.cumsum(probs)
        assert outcome == (int(np.argmax(running > u)) if (running > u).any() else 3)
        np.testing.assert_allclose(as_matrix(obj.density_matrix()),
                                   as_matrix(nn.density_collapse(rho.ravel().view(np.float64).tolist(),
                                                                 [2, 0], outcome, 3)), atol=0)


def test_measure_falls_back_to_a_zero_probability_outcome():
    obj = nn.NativeDensity(1)
    obj.set_zero_state()
    assert obj.measure([0], 1.0) == 1  # u at the total: the last outcome
    assert obj.density_matrix() == [0.0] * 8


def test_large_matrix_measurement_keeps_the_documented_bits():
    # Large enough for the work to be split over threads on a machine with
    # several cores. |psi><psi|, probabilities (each a sum in increasing index
    # order) and the collapse (each kept entry times 1/p) are exact.
    rng = np.random.default_rng(17)
    n, targets, u = 10, [7, 2], 0.6
    re, im = rng.normal(size=2**n), rng.normal(size=2**n)
    obj = nn.NativeDensity(n)
    obj.set_from_amplitudes(np.column_stack([re, im]).ravel().tolist())
    got = np.frombuffer(obj, dtype=np.float64)
    assert np.array_equal(got[0::2], (re[:, None] * re + im[:, None] * im).ravel())
    assert np.array_equal(got[1::2], (re * im[:, None] - im * re[:, None]).ravel())
    before = got.copy()
    diag = before[0::2].reshape(2**n, 2**n).diagonal()
    outcome_of = np.array([2 * ((b >> (n - 1 - 7)) & 1) + ((b >> (n - 1 - 2)) & 1) for b in range(2**n)])
    want = [np.add.accumulate(diag[outcome_of == o])[-1] for o in range(4)]
    assert obj.probabilities(targets) == want
    assert nn.density_probabilities(before.tolist(), targets, n) == want
    outcome = obj.measure(targets, u)
    assert outcome == int(np.argmax(np.add.accumulate(want) > u))
    keep = np.outer(outcome_of == outcome, outcome_of == outcome).ravel().repeat(2)
    collapsed = np.where(keep, before * (1.0 / want[outcome]), 0.0)
    assert np.array_equal(got, collapsed)
    assert nn.density_collapse(before.tolist(), targets, outcome, n) == collapsed.tolist()


@pytest.mark.parametrize("call,message", [
    (lambda o: o.measure([2], 0.5), "qubit index out of range (q,n):2, 2"),
    (lambda o: o.measure([0, 0], 0.5), "duplicate qubit index (q):0"),
    (lambda o: o.probabilities([-1]), "qubit index out of range (q,n):-1, 2"),
])
def test_measurement_errors_leave_rho_alone(call, message):
    obj = native(random_rho(2, np.random.default_rng(15)))
    before = obj.density_matrix()
    with pytest.raises(RuntimeError) as err:
        call(obj)
    assert str(err.value) == PANIC + message
    assert obj.density_matrix() == before


@pytest.mark.parametrize("call,message", [
    (lambda: nn.density_probabilities([1.0] * 17, [0], 2), "array.get: index out of range (i,a.len):20, 17"),
    (lambda: nn.density_probabilities([], [], 0), "array.get: index out of range (i,a.len):0, 0"),
    # Outcome 1 of qubit 1 reads diagonal entry 1 (float 10) first.
    (lambda: nn.density_collapse([1.0] * 9, [1], 1, 2), "array.get: index out of range (i,a.len):10, 9"),
    # Outcome 0 has all its diagonal entries; entry (2, 2)'s imaginary part is missing.
    (lambda: nn.density_collapse([1.0] * 21, [1], 0, 2), "array.get: index out of range (i,a.len):21, 21"),
])
def test_measurement_functions_report_the_first_missing_float(call, message):
    with pytest.raises(RuntimeError) as err:
        call()
    assert str(err.value) == PANIC + message


# ---- whole-matrix functions -----------------------------------------------------

def test_sandwich_and_channel_against_numpy():
    rng = np.random.default_rng(16)
    a = rng.normal(size=(3, 3)) + 1j * rng.normal(size=(3, 3))
    ops = [rng.normal(size=(3, 3)) + 1j * rng.normal(size=(3, 3)) for _ in range(3)]
    ops[1][:, 0] = 0  # zero entries are skipped
    np.testing.assert_allclose(as_matrix(nn.sandwich(flat(a), flat(ops[0]), 3)), ops[0] @ a @ ops[0].conj().T,
                               atol=1e-13)
    np.testing.assert_allclose(as_matrix(nn.channel(flat(a), flat(*ops), 3, 3)),
                               sum(k @ a @ k.conj().T for k in ops), atol=1e-13)
    assert nn.channel(flat(a), flat(*ops), 0, 3) == [0.0] * 18
    assert nn.sandwich(flat(a), flat(ops[0]), 0) == []
    dephase = flat(np.sqrt(0.5) * np.eye(2), np.sqrt(0.5) * Z)
    assert nn.channel([0.5, 0, 0.5, 0, 0.5, 0, 0.5, 0], dephase, 2, 2) == pytest.approx([0.5, 0, 0, 0, 0, 0, 0.5, 0])


def test_sandwich_reads_only_rows_it_needs():
    # u = diag(1, 0): row 1 of a is never read, so a may stop after row 0.
    assert nn.sandwich([2.0, 0.0, 3.0, 0.0], flat(np.diag([1, 0])), 2) == [2.0] + [0.0] * 7


@pytest.mark.parametrize("call,message", [
    (lambda: nn.sandwich(flat(np.eye(2)), flat(np.eye(2))[:5], 2), "array.get: index out of range (i,a.len):5, 5"),
    (lambda: nn.sandwich([1.0, 0.0, 2.0], flat(X), 2), "array.get: index out of range (i,a.len):4, 3"),
    (lambda: nn.channel(flat(np.eye(2)), flat(X, X)[:12], 2, 2),
     "array.slice: slice bounds out of range (lo,hi,a.len):8, 16, 12"),
    (lambda: nn.channel([], flat(X), 1, -2), "array.get: index out of range (i,a.len):0, 0"),
    (lambda: nn.embed_operator(flat(X), 3, [0], 2), "operator dimension 3 does not match 1 targets"),
    (lambda: nn.embed_operator(flat(CNOT), 4, [0], 2), "operator dimension 4 does not match 1 targets"),
    (lambda: nn.embed_operator(flat(X), 2, [2], 2), "qubit index out of range (q,n):2, 2"),
    # Read column by column: entry (1, 0) at float 4 is the first one missing.
    (lambda: nn.embed_operator([0.0, 0.0, 1.0], 2, [0], 1), "array.get: index out of range (i,a.len):4, 3"),
])
def test_whole_matrix_errors(call, message):
    with pytest.raises(RuntimeError) as err:
        call()
    assert str(err.value) == PANIC + message


@pytest.mark.parametrize("op,targets,n", [
    (X, [0], 2), (X, [1], 2), (CNOT, [1, 0], 2), (CNOT, [2, 0], 3),
    (np.arange(64).reshape(8, 8) * (1 + 0.5j), [1, 3, 0], 4), (np.array([[2.5j]]), [], 2),
])
def test_embed_operator(op, targets, n):
    got = as_matrix(nn.embed_operator(flat(op), len(op), targets, n))
    assert np.array_equal(got, embed(op, targets, n))


def test_huge_embedding_is_a_memory_error():
    with pytest.raises(MemoryError):
        nn.embed_operator(flat(X), 2, [0], 40)


# ---- module layout and the example ------------------------------------------------

def test_function_order():
    names = [n for n in vars(nn) if n in {
        "apply_gate", "state_to_density", "sandwich", "channel", "embed_operator", "state_probabilities",
        "collapse_state", "density_probabilities", "density_collapse", "sample_outcome"}]
    assert names == ["apply_gate", "state_to_density", "sandwich", "channel", "embed_operator",
                     "state_probabilities", "collapse_state", "density_probabilities", "density_collapse",
                     "sample_outcome"]
    assert [m for m in vars(nn.NativeDensity) if not m.startswith("_") and m != "num_qubits"] == [
        "set_from_amplitudes", "apply_channel", "reset", "set_zero_state", "density_matrix", "probabilities",
        "measure"]


def test_noisy_bell_example_runs():
    out = subprocess.run([sys.executable, str(ROOT / "examples" / "noisy_bell.py")], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
