"""clifford_state_vector: the state of a flattened stabilizer tableau.

The module computes the result directly from the stabilizer group; it must
equal, bit for bit, the dense reference construction: M = product over the
stabilizer rows of (I + s*S), the first column of M whose squared norm
exceeds 1e-18, times 1/sqrt(squared norm). `reference_state_vector` below
transcribes that construction. Every entry of every product is a Gaussian
integer far below 2^53, so the products are exact whatever the summation
order (numpy's complex matmul gives the exact integers, checked below); the
final steps (squared norm, reciprocal square root, one multiplication per
part) are then done in floats as the construction does them.
"""

import math
import random
import struct

import numpy as np
import pytest
import stim

import nimbic_native as nn

PAULI = {
    (1, 0): np.array([[0, 1], [1, 0]], dtype=complex),
    (0, 1): np.array([[1, 0], [0, -1]], dtype=complex),
    (1, 1): np.array([[0, -1j], [1j, 0]], dtype=complex),
}
IDENTITY = np.eye(2, dtype=complex)


def reference_state_vector(tableau, n):
    if n < 0:
        return []
    d = 1 << n
    width = 2 * n + 1
    m = np.eye(d, dtype=complex)
    for k in range(n, 2 * n):
        row = tableau[k * width:(k + 1) * width]
        s = np.ones((1, 1), dtype=complex)
        for j in range(n):
            s = np.kron(s, PAULI.get((row[j], row[n + j]), IDENTITY))
        sign = -1.0 if row[2 * n] == 1 else 1.0
        m = m @ (np.eye(d) + sign * s)
    re = np.rint(m.real).astype(np.int64)
    im = np.rint(m.imag).astype(np.int64)
    assert np.array_equal(re, m.real) and np.array_equal(im, m.imag)
    norms = (re * re + im * im).sum(axis=0)  # exact integers, below 2^53
    assert norms.max(initial=0) < 2**53
    nonzero = np.flatnonzero(norms)
    if nonzero.size == 0:
        return [0.0] * (2 * d)
    c = nonzero[0]
    scale = 1.0 / math.sqrt(float(norms[c]))
    out = np.empty(2 * d)
    out[0::2] = re[:, c].astype(float) * scale
    out[1::2] = im[:, c].astype(float) * scale
    return out.tolist()


def bits(values):
    return struct.pack(f"<{len(values)}d", *values)


def flatten(destabilizers, stabilizers, scratch=None):
    """Rows as (x bits, z bits, sign bit) into the flattened layout."""
    n = len(stabilizers)
    rows = list(destabilizers) + list(stabilizers)
    rows.append(scratch if scratch is not None else ([0] * n, [0] * n, 0))
    flat = []
    for xs, zs, sign in rows:
        flat += list(xs) + list(zs) + [sign]
    return flat


def pauli_row(p):
    xs, zs = p.to_numpy()
    return [int(v) for v in xs], [int(v) for v in zs], 1 if p.sign == -1 else 0


def tableau_of(t):
    n = len(t)
    return flatten([pauli_row(t.x_output(k)) for k in range(n)], [pauli_row(t.z_output(k)) for k in range(n)])


def random_circuit_tableau(n, gates, rng):
    """Few-gate circuits give product states and small supports as well."""
    lines = []
    for _ in range(gates):
        g = rng.choice(["H", "S", "S_DAG", "X", "Y", "Z", "CX", "CZ", "SWAP"])
        if g in ("CX", "CZ", "SWAP"):
            if n < 2:
                continue
            a, b = rng.sample(range(n), 2)
            lines.append(f"{g} {a} {b}")
        else:
            lines.append(f"{g} {rng.randrange(n)}")
    lines.append(f"I {n - 1}")
    return stim.Tableau.from_circuit(stim.Circuit("\n".join(lines)))


def stabilizer_rows(flat, n):
    width = 2 * n + 1
    return [flat[k * width:(k + 1) * width] for k in range(n, 2 * n)]


def valid_cases():
    rng = random.Random(1234)
    cases = []
    for n in range(1, 9):
        for rep in range(6 if n < 8 else 3):
            t = stim.Tableau.random(n) if rep % 2 else random_circuit_tableau(n, rng.randrange(0, 3 * n), rng)
            cases.append((n, tableau_of(t), t))
    return cases


VALID = valid_cases()


@pytest.mark.parametrize("n,flat,t", VALID, ids=[f"n{c[0]}-{i}" for i, c in enumerate(VALID)])
def test_valid_tableaux_match_reference_bit_for_bit_and_the_state(n, flat, t):
    out = nn.clifford_state_vector(flat, n)
    assert bits(out) == bits(reference_state_vector(flat, n))
    # Independently: stim's state vector up to the global phase, and every
    # stabilizer (numpy matrices) fixes the result.
    psi = np.array(out[0::2]) + 1j * np.array(out[1::2])
    expected = t.to_state_vector(endian="big")
    assert abs(abs(np.vdot(expected, psi)) - 1) < 1e-6  # stim works in complex64
    for row in stabilizer_rows(flat, n):
        s = np.ones((1, 1), dtype=complex)
        for j in range(n):
            s = np.kron(s, PAULI.get((row[j], row[n + j]), IDENTITY))
        sign = -1 if row[2 * n] else 1
        np.testing.assert_allclose(sign * (s @ psi), psi, atol=1e-12)
    first = np.flatnonzero(np.abs(psi) > 0)[0]
    assert psi[first].imag == 0 and psi[first].real > 0


def test_projector_column_agrees():
    """A numpy projector built from the generators (floats, halves included)
    names the same state and the same phase convention."""
    rng = random.Random(5)
    for n in (3, 5, 6):
        flat = tableau_of(random_circuit_tableau(n, 4 * n, rng))
        d = 1 << n
        proj = np.eye(d, dtype=complex)
        for row in stabilizer_rows(flat, n):
            s = np.ones((1, 1), dtype=complex)
            for j in range(n):
                s = np.kron(s, PAULI.get((row[j], row[n + j]), IDENTITY))
            proj = proj @ (np.eye(d) + (-1 if row[2 * n] else 1) * s) / 2
        col = proj[:, np.flatnonzero(np.linalg.norm(proj, axis=0) > 1e-9)[0]]
        col /= np.linalg.norm(col)
        out = nn.clifford_state_vector(flat, n)
        np.testing.assert_allclose(np.array(out[0::2]) + 1j * np.array(out[1::2]), col, atol=1e-12)


def invalid_cases():
    """Rows that anticommute, repeat, depend on each other consistently or
    not, contain identities, entries outside {0, 1} and odd sign entries."""
    rng = random.Random(99)
    cases = []
    for n in range(1, 8):
        for _ in range(4):  # random bits: mostly anticommuting rows
            stab = [([rng.randrange(2) for _ in range(n)], [rng.randrange(2) for _ in range(n)], rng.randrange(2))
                    for _ in range(n)]
            cases.append((n, flatten([([0] * n, [0] * n, 0)] * n, stab)))
        for _ in range(2):  # entries outside 0/1 denote I; signs other than 1 are +1
            stab = [([rng.choice([-1, 0, 1, 2]) for _ in range(n)], [rng.choice([-1, 0, 1, 2]) for _ in range(n)],
                     rng.choice([-1, 0, 1, 2])) for _ in range(n)]
            cases.append((n, flatten([([0] * n, [0] * n, 0)] * n, stab)))
        valid = [pauli_row(p) for p in (lambda t: [t.z_output(k) for k in range(n)])(stim.Tableau.random(n))]
        if n >= 2:
            # A repeated row (consistent), a repeated row with the other sign
            # (M = 0), and a row replaced by the product of two others.
            cases.append((n, flatten(valid, valid[:-1] + [valid[0]])))
            flipped = (valid[0][0], valid[0][1], 1 - valid[0][2])
            cases.append((n, flatten(valid, valid[:-1] + [flipped])))
            prod = stim.PauliString(n)
            for k in (0, 1):
                xs, zs, sign = valid[k]
                p = stim.PauliString.from_numpy(xs=np.array(xs, bool), zs=np.array(zs, bool))
                prod = prod * (-p if sign else p)
            cases.append((n, flatten(valid, valid[:-1] + [pauli_row(prod)])))
        # An identity row: +I doubles M, -I zeroes it.
        for sign in (0, 1):
            cases.append((n, flatten(valid, valid[:-1] + [([0] * n, [0] * n, sign)])))
    return cases


INVALID = invalid_cases()


@pytest.mark.parametrize("n,flat", INVALID, ids=[f"n{c[0]}-{i}" for i, c in enumerate(INVALID)])
def test_other_tableaux_match_reference_bit_for_bit(n, flat):
    assert bits(nn.clifford_state_vector(flat, n)) == bits(reference_state_vector(flat, n))


def reference_column(flat, n, c):
    """Column c of the same product, (I + g_1)...(I + g_n) e_c, by applying
    the factors to a vector (right to left); exact Gaussian integers."""
    d = 1 << n
    idx = np.arange(d)
    v = np.zeros(d, dtype=complex)
    v[c] = 1
    for row in reversed(stabilizer_rows(flat, n)):
        x = z = y = 0
        for j in range(n):
            pauli = PAULI.get((row[j], row[n + j]))
            bit = 1 << (n - 1 - j)
            if pauli is not None:
                x |= bit if row[j] == 1 else 0
                z |= bit if row[n + j] == 1 else 0
                y += row[j] == 1 and row[n + j] == 1
        phase = (1j ** y) * (-1 if row[2 * n] == 1 else 1)  # sign * Y = i X Z per Y factor
        moved = np.zeros(d, dtype=complex)
        masked = idx & z
        odd = np.zeros(d, dtype=np.int64)
        for b in range(n):
            odd ^= (masked >> b) & 1
        moved[idx ^ x] = phase * (1 - 2 * odd) * v
        v = v + moved
    return v


def scaled_column(v):
    norm2 = int(sum(int(a) ** 2 for a in v.real) + sum(int(b) ** 2 for b in v.imag))
    assert norm2 < 2**53
    scale = 1.0 / math.sqrt(float(norm2))
    out = np.empty(2 * len(v))
    out[0::2] = v.real * scale
    out[1::2] = v.imag * scale
    return (out + 0.0).tolist()  # integer-valued zeros are +0.0


@pytest.mark.parametrize("n", [10, 13, 16])
def test_larger_registers_match_the_column_bit_for_bit(n):
    rng = random.Random(n)
    valid = tableau_of(random_circuit_tableau(n, 3 * n, rng))
    out = nn.clifford_state_vector(valid, n)
    c = next(i for i in range(1 << n) if out[2 * i] or out[2 * i + 1])  # lowest support index
    assert bits(out) == bits(scaled_column(reference_column(valid, n, c)))
    zero = ([0] * n, [0] * n, 0)
    rows = [([rng.randrange(2) for _ in range(n)], [rng.randrange(2) for _ in range(n)], rng.randrange(2))
            for _ in range(n)]
    other = flatten([zero] * n, rows)
    c = 0
    while not np.any(col := reference_column(other, n, c)):
        c += 1
    assert bits(nn.clifford_state_vector(other, n)) == bits(scaled_column(col))


def test_anticommuting_and_contradicting_rows():
    # Stabilizers X and Z on qubit 0: M = ((I + X)(I + Z)) (x) I, column 0 is
    # (2, 0, 2, 0) with squared norm 8.
    zero = ([0, 0], [0, 0], 0)
    v = 2.0 * (1 / math.sqrt(8.0))
    out = nn.clifford_state_vector(flatten([zero, zero], [([1, 0], [0, 0], 0), ([0, 0], [1, 0], 0)]), 2)
    assert bits(out) == bits([v, 0.0, 0.0, 0.0, v, 0.0, 0.0, 0.0])
    # Z and -Z contradict each other: every column is zero.
    out = nn.clifford_state_vector(flatten([zero, zero], [([0, 0], [1, 0], 0), ([0, 0], [1, 0], 1)]), 2)
    assert bits(out) == bits([0.0] * 8)


def test_documented_small_states():
    r = 1 / math.sqrt(2)
    assert nn.clifford_state_vector([], 0) == [1.0, 0.0]
    assert nn.clifford_state_vector([1, 0, 0, 0, 1, 0, 0, 0, 0], 1) == [1.0, 0.0, 0.0, 0.0]
    assert nn.clifford_state_vector([0, 1, 0, 1, 0, 0, 0, 0, 0], 1) == [r, 0.0, r, 0.0]  # after H
    assert nn.clifford_state_vector([1, 0, 0, 0, 1, 1, 0, 0, 0], 1) == [0.0, 0.0, 1.0, 0.0]  # -Z
    y = nn.clifford_state_vector([0, 1, 0, 1, 1, 0, 0, 0, 0], 1)  # +Y
    assert bits(y) == bits([r, 0.0, 0.0, r])
    bell = nn.clifford_state_vector(tableau_of(stim.Tableau.from_circuit(stim.Circuit("H 0\nCX 0 1"))), 2)
    v = 2.0 * (1 / math.sqrt(8.0))
    assert bits(bell) == bits([v, 0.0, 0.0, 0.0, 0.0, 0.0, v, 0.0])
    assert nn.clifford_state_vector([5, 6, 7], -3) == []


def test_only_stabilizer_rows_are_read():
    rng = random.Random(3)
    n = 5
    flat = tableau_of(stim.Tableau.random(n))
    width = 2 * n + 1
    expected = bits(nn.clifford_state_vector(flat, n))
    garbage = [rng.randrange(-3, 4) for _ in range(n * width)] + flat[n * width:2 * n * width]
    assert bits(nn.clifford_state_vector(garbage + [9] * width, n)) == expected
    assert bits(nn.clifford_state_vector(garbage, n)) == expected  # no scratch row


def first_missing_read(length, n):
    """The reference reads row k as x_0, z_0, x_1, z_1, ..., then the sign."""
    width = 2 * n + 1
    for k in range(n, 2 * n):
        base = k * width
        for j in range(n):
            for index in (base + j, base + n + j):
                if index >= length:
                    return index
        if base + 2 * n >= length:
            return base + 2 * n
    return None


@pytest.mark.parametrize("n", [1, 2, 3, 4])
def test_short_tableaux_raise_the_first_missing_read(n):
    full = tableau_of(stim.Tableau.random(n))[: 2 * n * (2 * n + 1)]
    for length in range(len(full)):
        with pytest.raises(RuntimeError) as err:
            nn.clifford_state_vector(full[:length], n)
        assert str(err.value) == (f"panic in native code: array.get: index out of range (i,a.len):"
                                  f"{first_missing_read(length, n)}, {length}")


def test_huge_registers_fail_at_once():
    with pytest.raises(RuntimeError, match=r"\(i,a.len\):3240, 0$"):
        nn.clifford_state_vector([], 40)
    with pytest.raises(RuntimeError, match=r"\(i,a.len\):3280, 3250$"):
        nn.clifford_state_vector([0] * 3250, 40)
    full = tableau_of(stim.Tableau.random(40))
    with pytest.raises(MemoryError):
        nn.clifford_state_vector(full, 40)
    with pytest.raises(RuntimeError, match=r"\(i,a.len\):8256, 100$"):
        nn.clifford_state_vector([0] * 100, 64)
    for n in (1 << 40, (1 << 63) - 1):
        with pytest.raises(MemoryError):
            nn.clifford_state_vector([0] * 100, n)
