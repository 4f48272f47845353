"""clifford_state_vector: the state of a flattened stabilizer tableau.

The module computes the result directly from the stabilizer group; it must
equal, bit for bit, the dense reference construction: M = product over the
stabilizer rows of (I + s*S), the first column of M whose squared norm
exceeds 1e-18, times 1/sqrt(squared norm). `reference_state_vector`
transcribes it. Every entry of every product is a Gaussian integer far below
2^53, so the products are exact in any summation order (numpy's matmul gives
the exact integers, checked below); the final float steps follow the
construction.
"""

import math
import random
import struct

import numpy as np
import pytest
import stim

import nimbic_native as nn

PAULI = {(1, 0): np.array([[0, 1], [1, 0]]), (0, 1): np.diag([1, -1]), (1, 1): np.array([[0, -1j], [1j, 0]])}


def row_operator(row, n):
    """s * S of a tableau row; entry pairs other than X, Z, Y pairs are I."""
    s = np.ones((1, 1), dtype=complex)
    for j in range(n):
        s = np.kron(s, PAULI.get((row[j], row[n + j]), np.eye(2)))
    return -s if row[2 * n] == 1 else s


def stabilizer_rows(flat, n):
    return [flat[k * (2 * n + 1):(k + 1) * (2 * n + 1)] for k in range(n, 2 * n)]


def scaled(column):
    """Column of exact Gaussian integers -> amplitudes, as the construction
    scales it (zeros are +0.0, the squared norm an exact integer)."""
    re, im = np.rint(column.real).astype(np.int64), np.rint(column.imag).astype(np.int64)
    assert np.array_equal(re, column.real) and np.array_equal(im, column.imag)
    norm2 = int((re * re + im * im).sum())
    assert 0 < norm2 < 2**53
    out = np.empty(2 * len(re))
    out[0::2], out[1::2] = re * (1.0 / math.sqrt(norm2)), im * (1.0 / math.sqrt(norm2))
    return out.tolist()


def reference_state_vector(flat, n):
    d = 1 << n
    m = np.eye(d, dtype=complex)
    for row in stabilizer_rows(flat, n):
        m = m @ (np.eye(d) + row_operator(row, n))
    nonzero = np.flatnonzero(np.abs(m).sum(axis=0))
    return scaled(m[:, nonzero[0]]) if nonzero.size else [0.0] * (2 * d)


def reference_column(flat, n, c):
    """Column c of the same product for larger n: the factors applied to e_c
    right to left, each Pauli string as a signed, phased permutation."""
    idx = np.arange(1 << n)
    v = (idx == c).astype(complex)
    for row in reversed(stabilizer_rows(flat, n)):
        x = z = y = 0
        for j in range(n):
            kind = (row[j], row[n + j])
            x |= (kind in ((1, 0), (1, 1))) << (n - 1 - j)
            z |= (kind in ((0, 1), (1, 1))) << (n - 1 - j)
            y += kind == (1, 1)
        odd = np.zeros(1 << n, dtype=np.int64)
        for b in range(n):
            odd ^= ((idx & z) >> b) & 1
        moved = np.zeros_like(v)
        moved[idx ^ x] = (1j ** y) * (-1 if row[2 * n] == 1 else 1) * (1 - 2 * odd) * v  # Y = i X Z
        v = v + moved
    return v


def bits(values):
    return struct.pack(f"<{len(values)}d", *values)


def flatten(destabilizers, stabilizers):
    """(x bits, z bits, sign bit) rows into the flattened layout, scratch row zero."""
    n = len(stabilizers)
    return [v for xs, zs, s in [*destabilizers, *stabilizers, ([0] * n, [0] * n, 0)] for v in [*xs, *zs, s]]


def pauli_row(p):
    xs, zs = p.to_numpy()
    return [int(v) for v in xs], [int(v) for v in zs], int(p.sign == -1)


def tableau_of(t):
    n = len(t)
    return flatten([pauli_row(t.x_output(k)) for k in range(n)], [pauli_row(t.z_output(k)) for k in range(n)])


def random_circuit(n, gates, rng):
    """Few-gate circuits give product states and small supports as well."""
    lines = [f"I {n - 1}"]
    for _ in range(gates):
        g = rng.choice(["H", "S", "S_DAG", "X", "Y", "Z", "CX", "CZ", "SWAP"] if n > 1 else ["H", "S", "X"])
        lines.append(f"{g} " + " ".join(map(str, rng.sample(range(n), 2 if g in ("CX", "CZ", "SWAP") else 1))))
    return stim.Tableau.from_circuit(stim.Circuit("\n".join(lines)))


RNG = random.Random(1234)
VALID = [(n, random_circuit(n, RNG.randrange(3 * n), RNG) if rep % 2 else stim.Tableau.random(n))
         for n in range(1, 9) for rep in range(6 if n < 8 else 3)]


@pytest.mark.parametrize("n,t", VALID, ids=[f"n{c[0]}-{i}" for i, c in enumerate(VALID)])
def test_valid_tableaux_match_reference_bit_for_bit(n, t):
    flat = tableau_of(t)
    out = nn.clifford_state_vector(flat, n)
    assert bits(out) == bits(reference_state_vector(flat, n))
    psi = np.array(out[0::2]) + 1j * np.array(out[1::2])
    assert abs(abs(np.vdot(t.to_state_vector(endian="big"), psi)) - 1) < 1e-6  # stim works in complex64


def test_projector_column_agrees():
    """A float projector prod (I + s S)/2 names the same state, and its first
    non-zero column the same global phase."""
    for n in (3, 5, 6):
        flat = tableau_of(random_circuit(n, 4 * n, RNG))
        proj = np.eye(1 << n)
        for row in stabilizer_rows(flat, n):
            proj = proj @ (np.eye(1 << n) + row_operator(row, n)) / 2
        col = proj[:, np.flatnonzero(np.linalg.norm(proj, axis=0) > 1e-9)[0]]
        out = nn.clifford_state_vector(flat, n)
        np.testing.assert_allclose(np.array(out[0::2]) + 1j * np.array(out[1::2]), col / np.linalg.norm(col),
                                   atol=1e-12)


def invalid_cases():
    """Rows that anticommute, repeat, depend on each other consistently or
    not, identity rows, entries outside {0, 1} and odd sign entries."""
    rng = random.Random(99)
    cases = []
    for n in range(1, 8):
        zero = [([0] * n, [0] * n, 0)] * n
        for values in ([0, 1], [0, 1], [0, 1], [-1, 0, 1, 2]):
            cases.append((n, flatten(zero, [tuple([rng.choice(values) for _ in range(n)] for _ in range(2))
                                             + (rng.choice(values),) for _ in range(n)])))
        valid = [pauli_row(stim.Tableau.random(n).z_output(k)) for k in range(n)]
        a = stim.PauliString.from_numpy(xs=np.array(valid[0][0], bool), zs=np.array(valid[0][1], bool))
        keep = valid[max(0, n - 2)]  # a row that stays
        b = stim.PauliString.from_numpy(xs=np.array(keep[0], bool), zs=np.array(keep[1], bool))
        for last in [valid[0], (*valid[0][:2], 1 - valid[0][2]), pauli_row(a * b), ([0] * n, [0] * n, 0),
                     ([0] * n, [0] * n, 1)]:
            cases.append((n, flatten(zero, valid[:-1] + [last])))
    return cases


INVALID = invalid_cases()


@pytest.mark.parametrize("n,flat", INVALID, ids=[f"n{c[0]}-{i}" for i, c in enumerate(INVALID)])
def test_other_tableaux_match_reference_bit_for_bit(n, flat):
    assert bits(nn.clifford_state_vector(flat, n)) == bits(reference_state_vector(flat, n))


@pytest.mark.parametrize("n", [10, 13, 16, 20])  # 20: the work is split over threads
def test_larger_registers_match_the_column_bit_for_bit(n):
    rng = random.Random(n)
    valid = tableau_of(random_circuit(n, 3 * n, rng))
    out = nn.clifford_state_vector(valid, n)
    c = next(i for i in range(1 << n) if out[2 * i] or out[2 * i + 1])  # lowest support index
    assert bits(out) == bits(scaled(reference_column(valid, n, c)))
    rows = [tuple([rng.randrange(2) for _ in range(n)] for _ in range(2)) + (rng.randrange(2),) for _ in range(n)]
    other = flatten([([0] * n, [0] * n, 0)] * n, rows)
    c = 0
    while not np.any(col := reference_column(other, n, c)):
        c += 1
    assert bits(nn.clifford_state_vector(other, n)) == bits(scaled(col))


R = 1 / math.sqrt(2)
V = 2.0 * (1 / math.sqrt(8.0))  # column entry 2 of a squared norm 8


@pytest.mark.parametrize("flat,n,expected", [
    ([], 0, [1.0, 0.0]),
    ([5, 6, 7], -3, []),
    ([1, 0, 0, 0, 1, 0, 0, 0, 0], 1, [1.0, 0.0, 0.0, 0.0]),
    ([0, 1, 0, 1, 0, 0, 0, 0, 0], 1, [R, 0.0, R, 0.0]),  # +X
    ([1, 0, 0, 0, 1, 1, 0, 0, 0], 1, [0.0, 0.0, 1.0, 0.0]),  # -Z: column 1
    ([0, 1, 0, 1, 1, 0, 0, 0, 0], 1, [R, 0.0, 0.0, R]),  # +Y
    (flatten([([1, 0], [0, 0], 0)] * 2, [([1, 1], [0, 0], 0), ([0, 0], [1, 1], 0)]), 2,
     [V, 0.0, 0.0, 0.0, 0.0, 0.0, V, 0.0]),  # Bell
    (flatten([([1, 0], [0, 0], 0)] * 2, [([1, 0], [0, 0], 0), ([0, 0], [1, 0], 0)]), 2,
     [V, 0.0, 0.0, 0.0, V, 0.0, 0.0, 0.0]),  # X and Z on qubit 0 anticommute
    (flatten([([1, 0], [0, 0], 0)] * 2, [([0, 0], [1, 0], 0), ([0, 0], [1, 0], 1)]), 2, [0.0] * 8),  # Z and -Z
])
def test_small_states(flat, n, expected):
    assert bits(nn.clifford_state_vector(flat, n)) == bits(expected)


def test_only_stabilizer_rows_are_read():
    n, width = 5, 11
    flat = tableau_of(stim.Tableau.random(n))
    expected = bits(nn.clifford_state_vector(flat, n))
    garbage = [RNG.randrange(-3, 4) for _ in range(n * width)] + flat[n * width:2 * n * width]
    assert bits(nn.clifford_state_vector(garbage + [9] * width, n)) == expected
    assert bits(nn.clifford_state_vector(garbage, n)) == expected  # no scratch row


def first_missing_read(length, n):
    """Row k is read as x_0, z_0, x_1, z_1, ..., then the sign."""
    for k in range(n, 2 * n):
        base = k * (2 * n + 1)
        reads = [i for j in range(n) for i in (base + j, base + n + j)] + [base + 2 * n]
        missing = [i for i in reads if i >= length]
        if missing:
            return missing[0]


@pytest.mark.parametrize("n", [1, 2, 3, 4])
def test_short_tableaux_raise_the_first_missing_read(n):
    full = tableau_of(stim.Tableau.random(n))
    for length in range(2 * n * (2 * n + 1)):
        with pytest.raises(RuntimeError) as err:
            nn.clifford_state_vector(full[:length], n)
        assert str(err.value).endswith(f"array.get: index out of range (i,a.len):{first_missing_read(length, n)}, "
                                       f"{length}")


def test_huge_registers_fail_at_once():
    for tableau, n, index in (([], 40, 3240), ([0] * 3250, 40, 3280), ([0] * 100, 64, 8256)):
        with pytest.raises(RuntimeError, match=rf"\(i,a.len\):{index}, {len(tableau)}$"):
            nn.clifford_state_vector(tableau, n)
    for tableau, n in ((tableau_of(stim.Tableau.random(40)), 40), ([0] * 100, 1 << 40), ([], (1 << 63) - 1)):
        with pytest.raises(MemoryError):
            nn.clifford_state_vector(tableau, n)


def test_native_tableau_state_vector_reads_its_own_tableau():
    rng = random.Random(11)
    for n in (1, 3, 5):
        t = nn.NativeTableau(n)
        for _ in range(30):
            code = rng.randrange(9)
            a = rng.randrange(n)
            b = rng.choice([q for q in range(n) if q != a] or [a]) if code >= 6 else 0
            if code >= 6 and n == 1:
                continue
            t.apply(code, a, b)
        t.measure(0, 0.3)  # leaves a scratch row that the reconstruction ignores
        expected = nn.clifford_state_vector(t.stabilizer_tableau(), n)
        assert t.state_vector() == expected
        assert math.isclose(sum(x * x for x in expected), 1.0)
    # a count rewritten beyond the buffers raises before anything is read
    t = nn.NativeTableau(2)
    t.num_qubits = 3
    with pytest.raises(RuntimeError, match="index out of range"):
        t.state_vector()
