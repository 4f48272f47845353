"""Stabilizer tableau: gate updates, measurement, the flattened layout,
NativeTableau, clifford_tableau and the compiled clifford_run sampler."""

import functools
import random

import numpy as np
import pytest

import nimbic_native as nn

H, S, SDG, X, Y, Z, CNOT, CZ, SWAP, MEASURE = range(10)
TWO_QUBIT = (CNOT, CZ, SWAP)
M64 = (1 << 64) - 1


def panic(message):
    return pytest.raises(RuntimeError, match="^" + __import__("re").escape("panic in native code: " + message) + "$")


# ---- independent models ---------------------------------------------------------


def wyrand_units(seed, skip=0):
    """The generator of clifford_run: uniform draws after `skip` draws."""
    state = (seed & 0xFFFFFFFF) | (((seed >> 16) & 0xFFFFFFFF) << 32)
    state = (state + skip * 0x2D358DCCAA6C78A5) & M64
    while True:
        state = (state + 0x2D358DCCAA6C78A5) & M64
        t = state * (state ^ 0x8BB84B93962EACC9)
        yield ((((t >> 64) ^ t) & M64) >> 12) * 2.0**-52


def run_oracle(instructions, n, mask, reps, seed, first_rep=0):
    """The per-repetition procedure, gate by gate through NativeTableau."""
    ops = [instructions[i:i + 3] for i in range(0, len(instructions) - 2, 3)]
    m = sum(1 for op in ops if op[0] == MEASURE)
    draws = wyrand_units(seed, first_rep * m)
    out = []
    for _ in range(reps):
        t = nn.NativeTableau(n)
        k = 0
        for code, a, b in ops:
            if code != MEASURE:
                t.apply(code, a, b)
                continue
            bit = t.measure(a, next(draws))
            out.append(bit ^ mask[k] if k < len(mask) else bit)
            k += 1
    return out


def random_circuit(rng, n, length, measure_weight=3):
    codes = list(range(9)) + [MEASURE] * measure_weight + [11, -1]
    out = []
    for _ in range(length):
        code = rng.choice(codes)
        a, b = rng.randrange(n), rng.randrange(n)
        if code in TWO_QUBIT:
            if n < 2:
                code = H
            while n >= 2 and b == a:
                b = rng.randrange(n)
        out += [code, a, b]
    return out


PAULI = {(0, 0): np.eye(2), (1, 0): np.array([[0, 1], [1, 0]]), (1, 1): np.array([[0, -1j], [1j, 0]]),
         (0, 1): np.diag([1, -1])}
GATE_1Q = {H: np.array([[1, 1], [1, -1]]) / np.sqrt(2), S: np.diag([1, 1j]), SDG: np.diag([1, -1j]),
           X: PAULI[1, 0], Y: PAULI[1, 1], Z: PAULI[0, 1]}


def embed(n, ops):
    """The 2^n matrix of a tensor product (qubit 0 most significant)."""
    return functools.reduce(np.kron, [ops.get(q, np.eye(2)) for q in range(n)])


def gate_matrix(n, code, a, b):
    if code in GATE_1Q:
        return embed(n, {a: GATE_1Q[code]})
    dim = 2**n
    u = np.zeros((dim, dim), complex)
    for i in range(dim):
        ba, bb = (i >> (n - 1 - a)) & 1, (i >> (n - 1 - b)) & 1
        j, phase = i, 1
        if code == CNOT and ba:
            j = i ^ (1 << (n - 1 - b))
        elif code == CZ and ba and bb:
            phase = -1
        elif code == SWAP and ba != bb:
            j = i ^ (1 << (n - 1 - a)) ^ (1 << (n - 1 - b))
        u[j, i] = phase
    return u


def rows_of(flat, n):
    w = 2 * n + 1
    return [flat[i * w:(i + 1) * w] for i in range(w)]


def row_matrix(row, n):
    return (-1) ** row[2 * n] * embed(n, {q: PAULI[row[q], row[n + q]] for q in range(n)})


def fresh_flat(n):
    rows = [[0] * (2 * n + 1) for _ in range(2 * n + 1)]
    for i in range(n):
        rows[i][i] = 1
        rows[n + i][n + i] = 1
    return [v for row in rows for v in row]


class RefTableau:
    """The documented update rules on plain lists, with checked accesses;
    used on tableaux whose count was reassigned, where the rows no longer form
    a valid stabilizer state."""

    def __init__(self, x, z, r, n):
        self.x, self.z, self.r, self.n = list(x), list(z), list(r), n
        self.odd = 0  # rowsums of anticommuting rows (odd phase exponent)

    @staticmethod
    def _check(arr, i, op):
        if not 0 <= i < len(arr):
            raise RuntimeError(f"panic in native code: array.{op}: index out of range (i,a.len):{i}, {len(arr)}")

    def get(self, arr, i):
        self._check(arr, i, "get")
        return arr[i]

    def set(self, arr, i, v):
        self._check(arr, i, "set")
        arr[i] = v

    def cnot(self, a, b):
        x, z, r, n = self.x, self.z, self.r, self.n
        for i in range(2 * n):
            xa, zb, xb, za = self.get(x, i * n + a), self.get(z, i * n + b), self.get(x, i * n + b), self.get(z, i * n + a)
            self.set(r, i, self.get(r, i) ^ (xa & zb & (xb ^ za ^ 1)))
            self.set(x, i * n + b, xb ^ xa)
            self.set(z, i * n + a, za ^ zb)

    def one(self, kind, a):
        x, z, r, n = self.x, self.z, self.r, self.n
        for i in range(2 * n):
            xa, za = self.get(x, i * n + a), self.get(z, i * n + a)
            ri = self.get(r, i)
            if kind == "h":
                self.set(r, i, ri ^ (xa & za))
                self.set(x, i * n + a, za)
                self.set(z, i * n + a, xa)
            elif kind == "s":
                self.set(r, i, ri ^ (xa & za))
                self.set(z, i * n + a, za ^ xa)
            else:
                self.set(r, i, ri ^ (za if kind == "x" else xa))

    def apply(self, code, a, b):
        steps = {H: [("h", a)], S: [("s", a)], SDG: [("s", a)] * 3, X: [("x", a)], Y: [("x", a), ("z", a)],
                 Z: [("z", a)], CNOT: [("c", a, b)], CZ: [("h", b), ("c", a, b), ("h", b)],
                 SWAP: [("c", a, b), ("c", b, a), ("c", a, b)]}.get(code, [])
        for step in steps:
            self.cnot(step[1], step[2]) if step[0] == "c" else self.one(*step)

    def rowsum(self, h, i):
        x, z, r, n = self.x, self.z, self.r, self.n
        acc = 2 * self.get(r, h) + 2 * self.get(r, i)
        for j in range(n):
            x1, z1, x2, z2 = self.get(x, i * n + j), self.get(z, i * n + j), self.get(x, h * n + j), self.get(z, h * n + j)
            acc += 0 if x1 == z1 == 0 else (z2 - x2) if x1 == z1 == 1 else z2 * (2 * x2 - 1) if x1 == 1 else x2 * (1 - 2 * z2)
        self.odd += acc & 1
        self.set(r, h, 1 if acc & 3 else 0)
        for j in range(n):
            self.set(x, h * n + j, self.get(x, h * n + j) ^ self.get(x, i * n + j))
            self.set(z, h * n + j, self.get(z, h * n + j) ^ self.get(z, i * n + j))

    def measure(self, a, u):
        x, z, r, n = self.x, self.z, self.r, self.n
        for p in range(n, 2 * n):
            if self.get(x, p * n + a) == 1:
                for k in range(2 * n):
                    if k != p and self.get(x, k * n + a) == 1:
                        self.rowsum(k, p)
                for j in range(n):
                    self.set(x, (p - n) * n + j, self.get(x, p * n + j))
                    self.set(z, (p - n) * n + j, self.get(z, p * n + j))
                self.set(r, p - n, self.get(r, p))
                for j in range(n):
                    self.set(x, p * n + j, 0)
                    self.set(z, p * n + j, 0)
                self.set(z, p * n + a, 1)
                self.set(r, p, 0 if u < 0.5 else 1)
                return self.r[p]
        for j in range(n):
            self.set(x, 2 * n * n + j, 0)
            self.set(z, 2 * n * n + j, 0)
        self.set(r, 2 * n, 0)
        for i in range(n):
            if self.get(x, i * n + a) == 1:
                self.rowsum(2 * n, n + i)
        return self.get(r, 2 * n)

    def flat(self):
        n = self.n
        out = []
        for i in range(2 * n + 1):
            out += [self.get(self.x, i * n + j) for j in range(n)] + [self.get(self.z, i * n + j) for j in range(n)]
            out.append(self.get(self.r, i))
        return out


def raw_arrays(t, n0):
    """x, z and r of a NativeTableau built with n0 qubits, read back through
    the flattened layout with the count it was built with."""
    saved = t.num_qubits
    t.num_qubits = n0
    rows = rows_of(t.stabilizer_tableau(), n0)
    t.num_qubits = saved
    return ([v for row in rows for v in row[:n0]], [v for row in rows for v in row[n0:2 * n0]],
            [row[2 * n0] for row in rows])


# ---- layout and gate updates ---------------------------------------------------------


@pytest.mark.parametrize("n", [0, 1, 2, 5])
def test_fresh_and_reset_tableau_is_zero_state(n):
    t = nn.NativeTableau(n)
    assert t.stabilizer_tableau() == fresh_flat(n)
    if n:
        for code, a, b in [(H, 0, 0), (S, n - 1, 0), (MEASURE, 0, 0)]:
            t.apply(code, a, b)
        t.measure(0, 0.9)
        t.measure(0, 0.1)  # deterministic: fills the scratch row
        assert t.stabilizer_tableau() != fresh_flat(n)
    t.reset()
    assert t.stabilizer_tableau() == fresh_flat(n)


@pytest.mark.parametrize("ops, n, expected", [
    ([(H, 0, 0)], 1, [0, 1, 0, 1, 0, 0, 0, 0, 0]),
    ([(H, 0, 0), (Z, 0, 0)], 1, [0, 1, 0, 1, 0, 1, 0, 0, 0]),
    ([(S, 0, 0), (H, 0, 0), (S, 0, 0)], 1, [1, 0, 0, 1, 1, 0, 0, 0, 0]),
    ([(H, 0, 0), (CNOT, 0, 1)], 2, [0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0]),
])
def test_documented_gate_updates(ops, n, expected):
    t = nn.NativeTableau(n)
    for op in ops:
        t.apply(*op)
    assert t.stabilizer_tableau() == expected
    assert nn.clifford_tableau([v for op in ops for v in op], n) == expected


@pytest.mark.parametrize("seed", range(12))
def test_every_row_is_the_conjugated_pauli(seed):
    """Row i of U|0..0>'s tableau, sign included, is U X_i U^dag
    (destabilizers) or U Z_i U^dag (stabilizers), for every gate code."""
    rng = random.Random(seed)
    n = rng.randint(1, 3)
    instructions = random_circuit(rng, n, 25, measure_weight=0)
    t = nn.NativeTableau(n)
    u = np.eye(2**n)
    for i in range(0, len(instructions), 3):
        t.apply(*instructions[i:i + 3])
        if 0 <= instructions[i] <= 8:
            u = gate_matrix(n, *instructions[i:i + 3]) @ u
    flat = t.stabilizer_tableau()
    assert flat == nn.clifford_tableau(instructions, n)
    rows = rows_of(flat, n)
    for i in range(2 * n):
        start = embed(n, {i % n: PAULI[1, 0] if i < n else PAULI[0, 1]})
        np.testing.assert_allclose(row_matrix(rows[i], n), u @ start @ u.conj().T, atol=1e-12)
    assert rows[2 * n] == [0] * (2 * n + 1)


@pytest.mark.parametrize("ops", [[(H, 0, 0)] * 2, [(S, 1, 0)] * 4, [(S, 0, 0), (SDG, 0, 0)],
                                 [(CZ, 0, 2), (CZ, 2, 0)], [(SWAP, 1, 2)] * 2, [(9, 0, 0), (10, 1, 1), (42, 0, 0), (-1, 2, 2)]])
def test_inverse_pairs_and_no_ops_restore_the_tableau(ops):
    start = [(H, 0, 0), (S, 0, 0), (CNOT, 0, 1), (H, 2, 0), (Y, 1, 0)]
    t = nn.NativeTableau(3)
    for op in start:
        t.apply(*op)
    t.measure(1, 0.3)
    before = t.stabilizer_tableau()
    for op in ops:
        t.apply(*op)
    assert t.stabilizer_tableau() == before


def test_packed_and_plain_tableaux_agree_on_wide_registers():
    rng = random.Random(5)
    for n in (63, 64, 65, 129):
        instructions = random_circuit(rng, n, 600, measure_weight=0)
        t = nn.NativeTableau(n)
        for i in range(0, len(instructions), 3):
            t.apply(*instructions[i:i + 3])
        assert nn.clifford_tableau(instructions + [0, 1], n) == t.stabilizer_tableau()


def plain_layout_object(n0):
    """A tableau of n0 qubits that works on the plain layout of its buffers
    for good: built one qubit larger and used with count n0, which reads the
    leading part of its buffers just as the buffers of n0 qubits are read."""
    t = nn.NativeTableau(n0 + 1)
    t.num_qubits = n0
    t.reset()
    return t


@pytest.mark.parametrize("n0", [16, 17, 40, 63, 64, 65, 70, 129])
def test_working_form_follows_the_row_procedure(n0):
    """Objects of 16 qubits or more keep a packed working form: gates,
    measurements (random and determined, a few qubits favoured), reads and
    reassigned counts give what the row procedure on the buffers gives."""
    rng = random.Random(n0)
    t, ref = nn.NativeTableau(n0), plain_layout_object(n0)
    count = n0
    for step in range(200):
        kind = rng.random()
        qubit = lambda: rng.randrange(min(count, 3)) if rng.random() < 0.5 else rng.randrange(count)
        if kind < 0.02:
            count = t.num_qubits = ref.num_qubits = rng.choice([n0, rng.randint(1, n0 - 1)])
        elif kind < 0.5:
            code, a, b = rng.randrange(9), qubit(), qubit()
            if code not in TWO_QUBIT or a != b:
                t.apply(code, a, b)
                ref.apply(code, a, b)
        elif kind < 0.9:
            a, u = qubit(), rng.random()
            assert t.measure(a, u) == ref.measure(a, u), step
        else:
            assert t.stabilizer_tableau() == ref.stabilizer_tableau(), step
            if count <= 16:
                assert t.state_vector() == ref.state_vector()
    t.num_qubits = ref.num_qubits = n0
    assert t.stabilizer_tableau() == ref.stabilizer_tableau()


# ---- measurement ---------------------------------------------------------------------


@pytest.mark.parametrize("n", [1, 5, 16, 20])  # from 16 qubits: the packed working form
@pytest.mark.parametrize("u, bit", [(0.49, 0), (0.5, 1), (0.0, 0), (float("nan"), 1), (7.0, 1), (-3.0, 0)])
def test_random_measurement_uses_u_and_moves_the_pivot(n, u, bit):
    q = n - 1
    t = nn.NativeTableau(n)
    t.apply(H, q, 0)
    assert t.measure(q, u) == bit
    # Destabilizer q: the former stabilizer +X_q; stabilizer q: (-1)^bit Z_q;
    # every other row that of |0...0>; scratch untouched.
    w = 2 * n + 1
    expected = [0] * (w * w)
    for r in range(n):
        expected[r * w + r] = 1
        expected[(n + r) * w + n + r] = 1
    expected[(n + q) * w + 2 * n] = bit
    assert t.stabilizer_tableau() == expected
    assert t.measure(q, 1 - bit) == bit
    assert t.stabilizer_tableau()[-w:] == [0] * (n + q) + [1] + [0] * (n - 1 - q) + [bit]


def test_determined_measurement_fills_only_the_scratch_row():
    t = nn.NativeTableau(2)
    assert t.measure(1, 0.7) == 0
    assert rows_of(t.stabilizer_tableau(), 2)[4] == [0, 0, 0, 1, 0]
    t.apply(X, 0, 0)
    before = rows_of(t.stabilizer_tableau(), 2)[:4]
    assert t.measure(0, 0.2) == 1
    rows = rows_of(t.stabilizer_tableau(), 2)
    assert rows[:4] == before and rows[4] == [0, 0, 1, 0, 1]
    t.apply(CNOT, 0, 1)  # gates never touch the scratch row
    assert rows_of(t.stabilizer_tableau(), 2)[4] == [0, 0, 1, 0, 1]


@pytest.mark.parametrize("seed", range(25))
def test_outcomes_are_possible_and_determined_ones_certain(seed):
    """Against a state vector collapsed along the same outcomes: every outcome
    has nonzero probability, and a measurement the tableau calls determined
    (it leaves the generator rows alone) has probability 1. This exercises the
    rowsum phases of products with Y factors."""
    rng = random.Random(seed)
    n = rng.randint(1, 4)
    instructions = random_circuit(rng, n, 40)
    t = nn.NativeTableau(n)
    psi = np.zeros(2**n, complex)
    psi[0] = 1
    for i in range(0, len(instructions), 3):
        code, a, b = instructions[i:i + 3]
        if code != MEASURE:
            t.apply(code, a, b)
            if 0 <= code <= 8:
                psi = gate_matrix(n, code, a, b) @ psi
            continue
        generators = t.stabilizer_tableau()[:2 * n * (2 * n + 1)]
        bit = t.measure(a, rng.random())
        keep = np.array([((k >> (n - 1 - a)) & 1) == bit for k in range(2**n)])
        p = np.sum(np.abs(psi[keep]) ** 2)
        assert p > 0.49
        if t.stabilizer_tableau()[:2 * n * (2 * n + 1)] == generators:
            assert p == pytest.approx(1)
        psi = np.where(keep, psi, 0) / np.sqrt(p)
        for row in rows_of(t.stabilizer_tableau(), n)[n:2 * n]:
            np.testing.assert_allclose(row_matrix(row, n) @ psi, psi, atol=1e-9)


# ---- bad input, reassigned counts ----------------------------------------------------------


@pytest.mark.parametrize("n, call, message", [
    (3, lambda t: t.apply(H, -1, 0), "array.get: index out of range (i,a.len):-1, 21"),
    (3, lambda t: t.apply(CNOT, 1, -2), "array.get: index out of range (i,a.len):-2, 21"),
    (3, lambda t: t.apply(CNOT, -5, -2), "array.get: index out of range (i,a.len):-5, 21"),
    (3, lambda t: t.apply(CZ, -1, 3), "qubit index out of range (q,n):3, 3"),
    (3, lambda t: t.apply(CZ, 3, -1), "array.get: index out of range (i,a.len):-1, 21"),
    (3, lambda t: t.apply(SWAP, 3, -1), "qubit index out of range (q,n):3, 3"),
    (3, lambda t: t.apply(S, 3, 99), "qubit index out of range (q,n):3, 3"),
    (3, lambda t: t.apply(CNOT, 2, 2), "duplicate qubit index (q):2"),
    (3, lambda t: t.measure(3, 0.5), "qubit index out of range (q,n):3, 3"),
    (3, lambda t: t.measure(-1, 0.5), "array.get: index out of range (i,a.len):-1, 21"),
    (3, lambda t: t.measure(-10, 0.5), "array.get: index out of range (i,a.len):-1, 21"),
    (3, lambda t: t.measure(-11, 0.5), "array.get: index out of range (i,a.len):-2, 21"),
    (20, lambda t: t.apply(CNOT, 1, -2), "array.get: index out of range (i,a.len):-2, 820"),
    (20, lambda t: t.apply(CZ, 20, -1), "array.get: index out of range (i,a.len):-1, 820"),
    (20, lambda t: t.apply(SWAP, 20, -1), "qubit index out of range (q,n):20, 20"),
    (20, lambda t: t.apply(CNOT, 7, 7), "duplicate qubit index (q):7"),
    (20, lambda t: t.measure(20, 0.5), "qubit index out of range (q,n):20, 20"),
    (20, lambda t: t.measure(-400, 0.5), "array.get: index out of range (i,a.len):-400, 820"),
    (20, lambda t: t.measure(-401, 0.5), "array.get: index out of range (i,a.len):-1, 820"),
])
def test_bad_operands_raise_and_change_nothing(n, call, message):
    t = nn.NativeTableau(n)  # 20 qubits: the working form
    for op in [(H, 0, 0), (CNOT, 0, 1), (S, 2, 0)]:
        t.apply(*op)
    t.measure(2, 0.1)  # leaves a scratch row
    before = t.stabilizer_tableau()
    with panic(message):
        call(t)
    assert t.stabilizer_tableau() == before


def test_ignored_operands_and_empty_registers():
    t = nn.NativeTableau(2)
    t.apply(H, 0, -7)  # b of one-qubit codes is not read
    t.apply(MEASURE, -3, 99)
    assert t.stabilizer_tableau() == nn.clifford_tableau([H, 0, -7, MEASURE, -3, 99], 2)
    empty = nn.NativeTableau(0)
    empty.apply(CNOT, 5, 5)
    assert empty.measure(-4, 0.9) == 0 and empty.stabilizer_tableau() == [0]


@pytest.mark.parametrize("n", [-1, -4])
def test_negative_count_builds_an_empty_object(n):
    t = nn.NativeTableau(n)
    t.reset()
    t.apply(H, 0, 0)
    assert t.stabilizer_tableau() == [0] * (2 * n + 1) ** 2
    with panic(f"array.set: index out of range (i,a.len):{2 * n}, 0"):
        t.measure(0, 0.5)


@pytest.mark.parametrize("seed", range(30))
def test_reassigned_count_follows_the_rules_or_raises_without_change(seed):
    """After num_qubits is reassigned, the methods read the buffers with the
    new count: a smaller count works on a leading part (rows that need not
    commute, so rowsum's nonzero-modulo-4 rule shows), a larger one raises the
    first index error before anything changes."""
    rng = random.Random(seed)
    n0 = rng.randint(1, 4)
    t = nn.NativeTableau(n0)
    for step in range(40):
        x, z, r = raw_arrays(t, n0)
        count = t.num_qubits
        ref = RefTableau(x, z, r, count)
        kind = rng.random()
        if kind < 0.1:
            t.num_qubits = rng.randint(0, n0 + 1)
            continue
        if kind < 0.55:
            code, a, b = rng.randrange(9), rng.randrange(max(count, 1)), rng.randrange(max(count, 1))
            if code in TWO_QUBIT and a == b:
                continue
            call, expect = (lambda: t.apply(code, a, b)), (lambda: ref.apply(code, a, b))
        elif kind < 0.9:
            a, u = rng.randrange(max(count, 1)), rng.random()
            call, expect = (lambda: t.measure(a, u)), (lambda: ref.measure(a, u))
        else:
            call, expect = t.stabilizer_tableau, ref.flat
        try:
            expected, error = expect(), None
        except RuntimeError as e:
            expected, error = None, str(e)
        if error is None:
            assert call() == expected
            assert raw_arrays(t, n0) == (ref.x, ref.z, ref.r)
        else:
            with pytest.raises(RuntimeError) as info:
                call()
            assert str(info.value) == error
            assert raw_arrays(t, n0) == (x, z, r)


def test_rowsum_of_anticommuting_rows_gives_sign_one():
    """A 3-qubit tableau read with count 2 holds rows that need not commute;
    a random measurement then multiplies a destabilizer by an anticommuting
    pivot, and the sign becomes 1 whatever the signs were (the exponent is
    odd, so nonzero modulo 4)."""
    rng = random.Random(1)
    found = 0
    for _ in range(300):
        t = nn.NativeTableau(3)
        for i in range(0, 24, 3):
            t.apply(*random_circuit(rng, 3, 1, measure_weight=0))
        t.num_qubits = 2
        x, z, r = raw_arrays(t, 3)
        ref = RefTableau(x, z, r, 2)
        a, u = rng.randrange(2), rng.random()
        try:
            expected = ref.measure(a, u)
        except RuntimeError:
            continue
        assert t.measure(a, u) == expected
        assert raw_arrays(t, 3) == (ref.x, ref.z, ref.r)
        found += ref.odd
    assert found >= 10


def test_reset_with_a_larger_count_raises_first_then_changes_nothing():
    t = nn.NativeTableau(2)
    t.apply(H, 1, 0)
    before = t.stabilizer_tableau()
    t.num_qubits = 3
    with panic("array.set: index out of range (i,a.len):13, 10"):
        t.reset()
    with panic("array.get: index out of range (i,a.len):10, 10"):
        t.stabilizer_tableau()
    t.num_qubits = 2
    assert t.stabilizer_tableau() == before
    t.num_qubits = 1  # a smaller count resets only what it addresses
    t.reset()
    t.num_qubits = 2
    assert t.stabilizer_tableau() == [1, 0, 0, 1, 0, 0, 0, 0, 0, 0] + [0] * 15


@pytest.mark.parametrize("instructions, n, message", [
    ([H, 0, 0, CNOT, 0, 2], 2, "qubit index out of range (q,n):2, 2"),
    ([H, 0, 0, CZ, 1, -1], 2, "array.get: index out of range (i,a.len):-1, 10"),
    ([SWAP, 1, 1], 2, "duplicate qubit index (q):1"),
    ([X, -3, 0], 3, "array.get: index out of range (i,a.len):-3, 21"),
    ([H, 0, 0], -1, "negative .len:-1"),
    ([], -3, "negative .len:-5"),
])
def test_clifford_tableau_errors(instructions, n, message):
    with panic(message):
        nn.clifford_tableau(instructions, n)


def test_clifford_tableau_ignores_measurements_partial_triples_and_unknown_codes():
    assert nn.clifford_tableau([MEASURE, -5, 0, 12, 9, 9, H], 2) == fresh_flat(2)
    assert nn.clifford_tableau([H, 4, 4], 0) == [0]


@pytest.mark.parametrize("instructions, n, reps, message", [
    ([H, 0, 0, MEASURE, 2, 0], 2, 5, "qubit index out of range (q,n):2, 2"),
    ([MEASURE, -1, 0], 2, 5, "array.get: index out of range (i,a.len):-1, 10"),
    ([MEASURE, -4, 0], 2, 5, "array.get: index out of range (i,a.len):-4, 10"),
    ([MEASURE, -5, 0], 2, 5, "array.get: index out of range (i,a.len):-1, 10"),
    ([MEASURE, 0, 0, CNOT, 0, 0], 2, 5, "duplicate qubit index (q):0"),
    ([MEASURE, 0, 0], -2, 5, "negative .len:-3"),
    ([MEASURE, 0, 0, MEASURE, 0, 0], 2, -3, "negative .len:-6"),
])
def test_clifford_run_errors(instructions, n, reps, message):
    with panic(message):
        nn.clifford_run(instructions, n, [], reps, 1)


def test_clifford_run_returns_at_once_without_measurements_or_repetitions():
    assert nn.clifford_run([H, -1, 0, CNOT, 5, 5, MEASURE], 2, [], 10, 3) == []
    assert nn.clifford_run([MEASURE, -1, 0], 2, [], 0, 3) == []
    assert nn.clifford_run([], 2, [], 10, 3) == []
    assert nn.clifford_run([H, 0, 0, MEASURE, 0, 0, H, 1, 0], 0, [1, 0], 3, 3) == [1, 1, 1]


# ---- clifford_run against the per-repetition procedure --------------------------------------


@pytest.mark.parametrize("seed", range(40))
def test_clifford_run_matches_the_oracle(seed):
    rng = random.Random(seed)
    n = rng.randint(1, 7)
    instructions = random_circuit(rng, n, rng.randint(1, 50)) + [1, 0][:rng.randint(0, 2)]
    m = sum(1 for i in range(0, len(instructions) - 2, 3) if instructions[i] == MEASURE)
    mask = [rng.choice([0, 1, 1, 2, 255]) for _ in range(rng.randint(0, m + 3))]
    reps = rng.choice([1, 3, 64, 65, 130])
    seed_value = rng.getrandbits(64) - (1 << 63)
    got = nn.clifford_run(instructions, n, mask, reps, seed_value)
    assert got == run_oracle(instructions, n, mask, reps, seed_value)
    # The generator's seed ignores bits 48..63.
    other = (seed_value ^ (rng.getrandbits(16) << 48)) & M64
    assert nn.clifford_run(instructions, n, mask, reps, other - (other >> 63 << 64)) == got


@pytest.mark.parametrize("n", [64, 100])
def test_clifford_run_matches_the_oracle_on_wide_registers(n):
    """More than 64 qubits and more than 64 random outcomes per shot."""
    rng = random.Random(n)
    instructions = random_circuit(rng, n, 300, measure_weight=0)
    instructions += [v for q in rng.sample(range(n), n) for v in (MEASURE, q, 0)] + random_circuit(rng, n, 60)
    mask = [rng.randint(0, 1) for _ in range(50)]
    assert nn.clifford_run(instructions, n, mask, 3, -77) == run_oracle(instructions, n, mask, 3, -77)


@pytest.mark.parametrize("seed", range(8))
def test_clifford_run_matches_the_oracle_past_64_random_outcomes(seed):
    """Outcomes determined by random outcomes past the 64th (the second word
    of each outcome's dependence on the random draws): a few qubits, many
    measurements, most of them repeated or entangled with earlier ones."""
    rng = random.Random(seed)
    if seed == 0:  # one qubit: H, measure, 65 times, then measure again
        instructions, n = [H, 0, 0, MEASURE, 0, 0] * 65 + [MEASURE, 0, 0], 1
    else:
        n = rng.randint(1, 4)
        instructions = random_circuit(rng, n, rng.randint(1500, 2500), measure_weight=8)
    mask = [rng.randint(0, 1) for _ in range(rng.randint(0, 200))]
    reps = rng.choice([64, 65])
    got = nn.clifford_run(instructions, n, mask, reps, seed - 3)
    assert got == run_oracle(instructions, n, mask, reps, seed - 3)


@pytest.mark.parametrize("seed", range(6))
def test_clifford_run_matches_the_oracle_on_many_small_blocks(seed):
    """Twenty independent 3-qubit random circuits side by side, then every
    qubit measured twice: products of stabilizers whose phase exponents do
    not cancel (a Y times an X, and so on) turn up in some blocks, in random
    and in determined measurements."""
    rng = random.Random(seed)
    blocks = [random_circuit(rng, 3, 40, measure_weight=rng.choice([0, 1])) for _ in range(20)]
    instructions = []
    for step in range(40):
        for k, block in enumerate(blocks):
            code, a, b = block[3 * step:3 * step + 3]
            instructions += [code, 3 * k + a, 3 * k + b]
    instructions += [v for q in rng.sample(range(60), 60) * 2 for v in (MEASURE, q, 0)]
    assert nn.clifford_run(instructions, 60, [], 2, seed) == run_oracle(instructions, 60, [], 2, seed)


@pytest.mark.parametrize("circuit, a", [
    ([SDG, 1, 2, CNOT, 1, 0, H, 1, 2, CNOT, 2, 0, CNOT, 1, 2], 0),
    ([X, 2, 2, CNOT, 0, 2, H, 0, 2, CNOT, 2, 1, CZ, 1, 2, Y, 2, 1, CNOT, 0, 2], 1),
    ([CNOT, 2, 0, S, 0, 1, CNOT, 1, 0, SDG, 2, 2, H, 1, 0, CNOT, 1, 2], 0),
    ([CNOT, 0, 2, CNOT, 1, 2, H, 1, 0, CNOT, 1, 0, Z, 2, 0, X, 0, 2, Y, 1, 2], 2),
])
def test_determined_outcome_of_a_product_with_phase(circuit, a):
    """Circuits found by search whose determined measurement multiplies
    stabilizers with a net phase of -1 (exponent 2 modulo 4): the sign of the
    product, not just the XOR of the row signs, gives the outcome."""
    n = 3
    t = nn.NativeTableau(n)
    u = np.eye(2**n)
    for i in range(0, len(circuit), 3):
        t.apply(*circuit[i:i + 3])
        u = gate_matrix(n, *circuit[i:i + 3]) @ u
    rows = rows_of(t.stabilizer_tableau(), n)
    selected = [rows[n + i] for i in range(n) if rows[i][a] == 1]
    assert all(rows[n + i][a] == 0 for i in range(n))  # determined
    assert sum(row[2 * n] for row in selected) % 2 != t.measure(a, 0.5)
    probability_one = sum(abs(u[k, 0]) ** 2 for k in range(2**n) if (k >> (n - 1 - a)) & 1)
    bit = round(probability_one)
    assert abs(probability_one - bit) < 1e-12
    instructions = circuit + [MEASURE, a, 0]
    assert nn.clifford_run(instructions, n, [], 5, 9) == run_oracle(instructions, n, [], 5, 9) == [bit] * 5


@pytest.mark.parametrize("mask", [[-1], [1 << 40, 3], [0, -(1 << 63)]])
def test_wide_invert_mask_values_xor_as_integers(mask):
    instructions = [H, 0, 0, MEASURE, 0, 0, X, 1, 0, MEASURE, 1, 0, MEASURE, 1, 0]
    got = nn.clifford_run(instructions, 2, mask, 20, 99)
    assert got == run_oracle(instructions, 2, mask, 20, 99)
    assert any(v not in (0, 1) for v in got)


def test_documented_run_examples():
    flip = [X, 0, 0, MEASURE, 0, 0, MEASURE, 0, 0]
    assert nn.clifford_run(flip, 1, [], 4, 0) == [1, 1] * 4
    assert nn.clifford_run(flip, 1, [1], 4, 0) == [0, 1] * 4
    assert nn.clifford_run(flip, 1, [0, 1, 1], 4, 0) == [1, 0] * 4
    coin = [H, 0, 0, MEASURE, 0, 0]
    bits = nn.clifford_run(coin, 1, [], 1000, 2024)
    assert bits == nn.clifford_run(coin, 1, [], 1000, 2024) == run_oracle(coin, 1, [], 1000, 2024)
    assert bits == nn.clifford_run(coin + [MEASURE, 0], 1, [], 1000, 2024)


@pytest.mark.parametrize("seed", range(4))
def test_seeded_shots_are_prefixes_and_a_new_measurement_moves_later_draws(seed):
    """A shorter run is the first rows of a longer one (the long run split
    over worker threads); a measurement added after the first column keeps
    the first shot's first column and changes later shots."""
    rng = random.Random(seed)
    n = 5
    instructions = random_circuit(rng, n, 40, measure_weight=0) + [v for q in range(n) for v in (MEASURE, q, 0)]
    m = n
    long = nn.clifford_run(instructions, n, [], (1 << 22) // m, seed)
    for reps in (1, 64, 65, 1000):
        assert nn.clifford_run(instructions, n, [], reps, seed) == long[:reps * m]
    extra = instructions[:-3 * (n - 1)] + [MEASURE, 0, 0] + instructions[-3 * (n - 1):]
    grown = nn.clifford_run(extra, n, [], 400, seed)
    assert grown[0] == long[0]
    later = [row[:1] + row[2:] for row in (grown[r * (m + 1):(r + 1) * (m + 1)] for r in range(1, 400))]
    assert later != [long[r * m:(r + 1) * m] for r in range(1, 400)]


def test_large_runs_split_over_threads_stay_exact():
    """Rows of a run large enough to be split over worker threads equal the
    oracle's rows at the same draw positions."""
    rng = random.Random(8)
    n = 6
    instructions = random_circuit(rng, n, 60)
    m = sum(1 for i in range(0, len(instructions), 3) if instructions[i] == MEASURE)
    reps = (1 << 22) // m + 37
    got = nn.clifford_run(instructions, n, [1], reps, 4321)
    for first in (0, 63, reps // 2 - 1, reps // 2 + 64, reps - 3):
        assert got[first * m:(first + 3) * m] == run_oracle(instructions, n, [1], 3, 4321, first_rep=first)


# ---- physical sanity ----------------------------------------------------------------------


def test_ghz_shots_agree_and_split_evenly():
    n = 12
    ghz = [H, 0, 0] + [v for q in range(1, n) for v in (CNOT, q - 1, q)]
    ghz += [v for q in range(n) for v in (MEASURE, q, 0)]
    shots = np.array(nn.clifford_run(ghz, n, [], 20000, 11)).reshape(-1, n)
    assert (shots == shots[:, :1]).all()
    assert abs(shots[:, 0].mean() - 0.5) < 0.02


def test_bell_pairs_correlate_and_random_bits_are_fair():
    bell = [H, 0, 0, CNOT, 0, 1, MEASURE, 0, 0, MEASURE, 1, 0]
    shots = np.array(nn.clifford_run(bell, 2, [], 20000, 5)).reshape(-1, 2)
    assert (shots[:, 0] == shots[:, 1]).all() and abs(shots.mean() - 0.5) < 0.02
    plus = [v for q in range(8) for v in (H, q, 0, MEASURE, q, 0)]
    bits = np.array(nn.clifford_run(plus, 8, [], 5000, 6)).reshape(-1, 8)
    assert np.all(np.abs(bits.mean(axis=0) - 0.5) < 0.03)
    assert abs(np.corrcoef(bits[:, 0], bits[:, 1])[0, 1]) < 0.05


def test_repeated_stabilizer_measurements_without_reset():
    """Z0Z1 and X0X1 of two qubits measured through ancillas 2 and 3 that are
    never reset: each round reports the ancilla's previous bit XOR the
    operator's value. Z0Z1 is +1 throughout; X0X1 is random once, then fixed,
    so its ancilla reads b, 0, b, 0."""
    ops = []
    for _ in range(4):
        ops += [CNOT, 0, 2, CNOT, 1, 2, H, 3, 0, CNOT, 3, 0, CNOT, 3, 1, H, 3, 0, MEASURE, 2, 0, MEASURE, 3, 0]
    shots = np.array(nn.clifford_run(ops, 4, [], 4000, 3)).reshape(-1, 4, 2)
    assert (shots[:, :, 0] == 0).all()
    b = shots[:, 0, 1]
    assert (shots[:, 2, 1] == b).all() and (shots[:, 1::2, 1] == 0).all()
    assert 0.45 < b.mean() < 0.55
