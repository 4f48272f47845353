"""State-vector kernels, measurement and NativeState methods.

Two independent references:
- `operator`: the full 2^n x 2^n matrix built with numpy.kron (qubit 0 the most
  significant bit), compared within rounding;
- `documented`: a numpy transcription of the kernels' order of operations
  (which gate entries multiply which amplitudes, in which order the products
  are summed), compared bit for bit. numpy's elementwise float64 operations
  round exactly like scalar code, so any vector path that reorders, fuses or
  mixes lanes shows up here. States of one or two qubits take the scalar
  kernels and larger ones the vector kernels on CPUs that have them; the
  target lists cover the lowest and highest qubits, which take separate
  vector paths.
"""
import math
import os
import re

import numpy
import pytest

import nimbic_native as nn

rng = numpy.random.default_rng(20240611)
RT = 1 / math.sqrt(2)


def flat(m):
    return list(numpy.ascontiguousarray(m, dtype=complex).view(float).ravel())


def cplx(floats):
    return numpy.asarray(floats, dtype=float).view(complex)


def bits(floats):
    return numpy.asarray(floats, dtype=float).view(numpy.uint64)


def random_state(n):
    return list(rng.normal(size=2 << n))


def random_gate(k):
    d = 1 << k
    return flat(rng.normal(size=(d, d)) + 1j * rng.normal(size=(d, d)))


def permutation_gate(rows, d, signs=None):
    m = numpy.zeros((d, d), dtype=complex)
    for r, c in enumerate(rows):
        m[r, c] = 1.0 if signs is None else signs[r]
    return flat(m)


CNOT = permutation_gate([0, 1, 3, 2], 4)
SWAP = permutation_gate([0, 2, 1, 3], 4)
CZ = permutation_gate([0, 1, 2, 3], 4, [1, 1, 1, -1])
TOFFOLI = permutation_gate([0, 1, 2, 3, 4, 5, 7, 6], 8)


# ---------------------------------------------------------------- references

def operator(gate, n, targets):
    """Full matrix of `gate` on `targets`: permute the targets to the front."""
    k = len(targets)
    g = numpy.asarray(gate[:2 << (2 * k)], dtype=float).view(complex).reshape(1 << k, 1 << k)
    full = numpy.kron(g, numpy.eye(1 << (n - k)))
    order = list(targets) + [q for q in range(n) if q not in targets]
    inverse = numpy.argsort(order)
    shape = [2] * (2 * n)
    axes = list(inverse) + [n + a for a in inverse]
    return full.reshape(shape).transpose(axes).reshape(1 << n, 1 << n)


def signed_permutation(g):
    perm, sign = [], []
    for row in g:
        nz = [c for c, z in enumerate(row) if z.real * z.real + z.imag * z.imag > 1e-18]
        if len(nz) != 1:
            return None
        z = row[nz[0]]
        if abs(z.imag) > 1e-15 or abs(abs(z.real) - 1) > 1e-12:
            return None
        perm.append(nz[0])
        sign.append(-1.0 if z.real < 0 else 1.0)
    return perm, sign


def documented(state, gate, n, targets):
    """apply_gate in the documented order of operations, vectorised over groups."""
    k = len(targets)
    d = 1 << k
    g = numpy.asarray(gate[:2 * d * d], dtype=float).view(complex).reshape(d, d)
    if k == 2 and targets[0] == targets[1] + 1:  # descending pair: exchanged gate
        g = g[[0, 2, 1, 3]][:, [0, 2, 1, 3]]
        targets = [targets[1], targets[0]]
    amp = numpy.array(state, dtype=float)[:2 << n].reshape(-1, 2)
    offs = [sum(1 << (n - 1 - t) for p, t in enumerate(targets) if (j >> (k - 1 - p)) & 1) for j in range(d)]
    mask = offs[-1]
    every = numpy.arange(1 << n, dtype=numpy.int64)
    bases = every[(every & mask) == 0]
    idx = bases[:, None] | numpy.array(offs, dtype=numpy.int64)[None, :]
    ar, ai = amp[idx, 0], amp[idx, 1]
    out = amp.copy()
    sp = signed_permutation(g) if k >= 2 else None
    for r in range(d):
        if sp is not None:
            re, im = sp[1][r] * ar[:, sp[0][r]], sp[1][r] * ai[:, sp[0][r]]
        elif k == 1:
            re = (g[r, 0].real * ar[:, 0] - g[r, 0].imag * ai[:, 0]) + (g[r, 1].real * ar[:, 1] - g[r, 1].imag * ai[:, 1])
            im = (g[r, 0].real * ai[:, 0] + g[r, 0].imag * ar[:, 0]) + (g[r, 1].real * ai[:, 1] + g[r, 1].imag * ar[:, 1])
        else:
            re = numpy.zeros(len(bases))
            im = numpy.zeros(len(bases))
            for c in range(d):
                re = re + (g[r, c].real * ar[:, c] - g[r, c].imag * ai[:, c])
                im = im + (g[r, c].real * ai[:, c] + g[r, c].imag * ar[:, c])
        out[idx[:, r], 0], out[idx[:, r], 1] = re, im
    return out.ravel()


def sequential_probabilities(state, n, targets):
    """Each outcome's probability summed strictly in increasing basis index."""
    amp = numpy.asarray(state, dtype=float)[:2 << n].reshape(-1, 2)
    p = amp[:, 0] * amp[:, 0] + amp[:, 1] * amp[:, 1]
    i = numpy.arange(1 << n)
    o = numpy.zeros(1 << n, dtype=numpy.int64)
    for t in targets:
        o = (o << 1) | ((i >> (n - 1 - t)) & 1)
    return [numpy.cumsum(p[o == m])[-1] if (o == m).any() else 0.0 for m in range(1 << len(targets))]


# ------------------------------------------------------------- gate kernels

GATE_CASES = [
    # (n, targets): one target at the top, middle and bottom; adjacent pairs
    # both ways at both ends; non-adjacent pairs; three targets incl. qubit n-1.
    *[(n, [t]) for n in (1, 2, 3, 6, 9) for t in sorted({0, n // 2, n - 1})],
    *[(n, p) for n in (2, 3, 5, 8) for p in ([0, 1], [1, 0], [n - 2, n - 1], [n - 1, n - 2])],
    *[(n, p) for n in (3, 5, 8) for p in ([0, n - 1], [n - 1, 0], [1, n - 2 if n > 3 else 2])],
    (3, [0, 1, 2]), (3, [2, 0, 1]), (4, [3, 1, 0]), (6, [1, 4, 2]), (6, [5, 0, 3]), (8, [2, 3, 4]),
    (5, [4, 0, 2, 1]),
]


@pytest.mark.parametrize("n, targets", GATE_CASES)
def test_dense_gates_match_operator_and_documented_order(n, targets):
    state, gate = random_state(n), random_gate(len(targets))
    expected = documented(state, gate, n, targets)
    out = nn.apply_gate(state, gate, n, targets)
    assert numpy.array_equal(bits(out), bits(expected))
    numpy.testing.assert_allclose(cplx(out), operator(gate, n, targets) @ cplx(state), rtol=0, atol=1e-12)
    s = nn.NativeState(n)
    s.set_amplitudes(state)
    s.apply_gate(gate, targets)
    assert numpy.array_equal(bits(s.amplitudes()), bits(expected))


@pytest.mark.parametrize("n, targets", [
    (20, [0]), (20, [13]), (20, [19]), (20, [0, 1]), (20, [14, 13]), (20, [18, 19]), (20, [0, 2]),
    (20, [19, 5]), (20, [0, 1, 2]), (20, [3, 19, 12]), (20, [7, 0, 19, 11]),
])
def test_big_states_match_documented_order(n, targets):
    """States big enough for the kernels to split their work between threads."""
    s = nn.NativeState(n)
    view = numpy.frombuffer(s, dtype=float)
    view[:] = rng.normal(size=view.size)
    state = view.copy()
    k = len(targets)
    gates = [random_gate(k)] + ([{2: CNOT, 3: TOFFOLI, 4: permutation_gate(range(15, -1, -1), 16)}[k]] if k > 1 else [])
    for gate in gates:
        view[:] = state
        s.apply_gate(gate, targets)
        assert numpy.array_equal(bits(view), bits(documented(state, gate, n, targets)))


@pytest.mark.parametrize("gate, k", [(CNOT, 2), (SWAP, 2), (CZ, 2), (TOFFOLI, 3),
                                     (permutation_gate([3, 2, 0, 1], 4, [-1, 1, -1, 1]), 2)])
@pytest.mark.parametrize("n", [3, 4, 7])
def test_signed_permutations_move_amplitudes(gate, k, n):
    for targets in ([n - 1, n - 2, 0][:k], [0, 1, 2][:k], [n - 2, n - 1, 0][:k], [0, n - 1, 1][:k]):
        state = random_state(n)
        out = nn.apply_gate(state, gate, n, targets)
        assert numpy.array_equal(bits(out), bits(documented(state, gate, n, targets)))
        # A signed permutation moves amplitudes exactly: same multiset of |values|.
        assert sorted(numpy.abs(out)) == sorted(numpy.abs(state))
        numpy.testing.assert_allclose(cplx(out), operator(gate, n, targets) @ cplx(state), atol=1e-12)


@pytest.mark.parametrize("gate, targets, factor", [
    (flat(0.5 * numpy.eye(2)), [1], 0.5),           # single target: always multiplies
    (flat(0.5 * numpy.eye(4)), [1, 2], 0.5),        # adjacent: not unit magnitude -> dense
    (flat(0.5 * numpy.eye(4)), [0, 2], 0.5),        # general kernel, same rule
    (flat(0.5 * numpy.eye(8)), [0, 1, 2], 0.5),
    (flat(numpy.diag([1 + 1e-11, 1, 1, 1])), [1, 2], None),   # just outside the unit tolerance
    (flat(numpy.diag([1 + 5e-13, 1, 1, 1])), [1, 2], 1.0),    # inside: moved, not multiplied
    (flat(numpy.diag([1, 1, 1, 1j])), [0, 1], None),          # imaginary entry -> dense
    (flat(numpy.diag([-1, 1, 1, -1])), [0, 2], 1.0),
])
def test_permutation_shortcut_needs_real_unit_entries(gate, targets, factor):
    n = 3
    state = random_state(n)
    out = nn.apply_gate(state, gate, n, targets)
    assert numpy.array_equal(bits(out), bits(documented(state, gate, n, targets)))
    numpy.testing.assert_allclose(cplx(out), operator(gate, n, targets) @ cplx(state), atol=1e-12)
    if factor is not None:
        assert numpy.array_equal(numpy.abs(out), numpy.abs(numpy.array(state)) * factor)


def test_tiny_entries_next_to_one():
    small = numpy.array([[1, 1e-10, 0, 0], [0, 1, 0, 0], [0, 0, 0, 1], [0, 0, 1, 0]], dtype=complex)
    state = random_state(2)
    cnot = nn.apply_gate(state, CNOT, 2, [0, 1])
    assert nn.apply_gate(state, flat(small), 2, [0, 1]) == cnot  # 1e-10 counts as zero
    small[0, 1] = 1e-8
    dense = nn.apply_gate(state, flat(small), 2, [0, 1])
    assert dense != cnot
    numpy.testing.assert_allclose(cplx(dense), small @ cplx(state), atol=1e-15)


def test_descending_pair_is_exchanged_gate():
    n, gate, state = 4, random_gate(2), random_state(4)
    swapped = numpy.asarray(gate).view(complex).reshape(4, 4)[[0, 2, 1, 3]][:, [0, 2, 1, 3]]
    assert nn.apply_gate(state, gate, n, [2, 1]) == nn.apply_gate(state, flat(swapped), n, [1, 2])


def controlled(k, control_bits, values, block):
    """The identity on 2^k rows except `block` on the rows whose gate bits
    `control_bits` equal `values`."""
    d = 1 << k
    rows = [i for i in range(d) if i & control_bits == values]
    m = numpy.eye(d, dtype=complex)
    m[numpy.ix_(rows, rows)] = block
    return flat(m)


def unsigned_zeros(floats):
    return bits(numpy.asarray(floats, dtype=float) + 0.0)


def structured_gates(k):
    d = 1 << k
    gates = [flat(numpy.diag(numpy.exp(1j * rng.normal(size=d)))),                 # diagonal
             controlled(k, (d - 1) >> 1 << 1, (d - 1) >> 1 << 1, rng.normal(size=(2, 2)) + 0j),  # controls above
             controlled(k, 1, 0, rng.normal(size=(d // 2, d // 2)) + 1j),           # anti-control, lowest gate bit
             controlled(k, d - 1, d - 2, [[numpy.exp(0.4j)]]),                      # controlled phase
             permutation_gate(list(range(d - 2)) + [d - 1, d - 2], d),              # multi-controlled X
             permutation_gate(list(range(d)), d, [1.0] * (d - 1) + [-1.0])]         # multi-controlled Z
    if k == 1:
        gates += [flat([[0, 1], [1, 0]]), flat([[0, -1], [1, 0]]), flat([[1, 0], [0, 1j]])]
    return gates


@pytest.mark.parametrize("n, targets", [
    (1, [0]), (3, [2]), (5, [0]), (5, [4, 3]), (5, [3, 4]), (6, [5, 0]), (6, [0, 5, 4]), (7, [6, 5, 4]),
    (7, [2, 6, 0]), (20, [19]), (20, [18, 19]), (20, [19, 10]), (20, [0, 19, 17]), (20, [3, 12]),
])
def test_structured_gates_give_documented_bits(n, targets):
    """Controls, diagonals and moved rows: the documented bits for every
    non-zero amplitude (a zero's sign may differ), threads or not."""
    state = numpy.random.default_rng(n).normal(size=2 << n)
    s = nn.NativeState(n)
    view = numpy.frombuffer(s, dtype=float)
    for gate in structured_gates(len(targets)):
        view[:] = state
        s.apply_gate(gate, targets)
        assert numpy.array_equal(unsigned_zeros(view), unsigned_zeros(documented(state, gate, n, targets)))


def near_misses(gate, count):
    """`gate` with one entry changed so that it just loses its structure: a
    1 gains an imaginary part, a zero becomes 0.5 or 0.5i, any other entry
    moves by 0.5i (the results are no longer unitary; the engine computes on
    them)."""
    m = numpy.asarray(gate, dtype=float).view(complex).copy()
    entries = list(range(len(m)))
    out = []
    for e in entries if len(entries) <= count else rng.choice(entries, size=count, replace=False):
        for step in (0.5, 0.5j) if m[e] == 0 else (0.5j,):
            changed = m.copy()
            changed[e] += step
            out.append(list(changed.view(float)))
    return out


@pytest.mark.parametrize("n, targets", [(1, [0]), (3, [2]), (5, [0]), (5, [4, 3]), (6, [5, 0]), (7, [2, 6, 0])])
def test_gates_one_entry_off_their_structure_take_the_dense_bits(n, targets):
    """Structure detection looks at both parts of every entry: a gate one entry
    away from a diagonal, controlled, permutation or identity gate gives the
    documented bits of the dense product."""
    k = len(targets)
    state = numpy.random.default_rng(n + 100).normal(size=2 << n)
    identity = flat(numpy.eye(1 << k))
    for gate in [g for base in structured_gates(k) + [identity] for g in near_misses(base, 12)]:
        got = nn.apply_gate(list(state), gate, n, targets)
        assert numpy.array_equal(unsigned_zeros(got), unsigned_zeros(documented(state, gate, n, targets)))
    # The two named cases: entry 1+1i is not 1; [[0, 1], [1, 0.5]] is no swap.
    assert nn.apply_gate([0, 0, 1, 0], [1, 0, 0, 0, 0, 0, 1, 1], 1, [0]) == [0, 0, 1, 1]
    assert nn.apply_gate([0, 0, 1, 0], [0, 0, 1, 0, 1, 0, 0.5, 0], 1, [0]) == [1, 0, 0.5, 0]


def test_thread_count_leaves_every_bit():
    """One CPU or all of them (the kernels split their work over the CPUs the
    process may use): the same bits for gates, probabilities and measurement."""
    cpus = os.sched_getaffinity(0)
    if len(cpus) < 2:
        pytest.skip("needs two CPUs")
    n = 21
    state = list(numpy.random.default_rng(5).normal(size=2 << n) * 2.0 ** -10)
    gates = [(random_gate(1), [20]), (random_gate(2), [3, 17]), (CNOT, [20, 2]),
             (flat(numpy.diag(numpy.exp(1j * numpy.arange(8)))), [0, 20, 9])]
    results = []
    for allowed in ({min(cpus)}, cpus):
        os.sched_setaffinity(0, allowed)
        try:
            s = nn.NativeState(n)
            s.set_amplitudes(state)
            for gate, targets in gates:
                s.apply_gate(gate, targets)
            probs = s.probabilities([20, 0]) + nn.state_probabilities(state, [], n)
            results.append((s.amplitudes(), probs, s.measure([7], 0.4), s.amplitudes()))
        finally:
            os.sched_setaffinity(0, cpus)
    assert results[0] == results[1]


def test_sliced_function_and_unsliced_method_agree():
    """Module functions work in slices (so that Ctrl-C can stop them between
    slices); methods, which never stop, split the work once: same bits."""
    n = 21
    state = list(numpy.random.default_rng(6).normal(size=2 << n))
    for gate, targets in [(random_gate(1), [20]), (random_gate(2), [9, 4]), (random_gate(3), [20, 0, 11]),
                          (CNOT, [20, 19]), (flat(numpy.diag(numpy.exp(1j * numpy.arange(4)))), [3, 20])]:
        s = nn.NativeState(n)
        s.set_amplitudes(state)
        s.apply_gate(gate, targets)
        assert nn.apply_gate(state, gate, n, targets) == s.amplitudes()


@pytest.mark.parametrize("n, gate, targets", [(0, [], [0]), (-3, [], [5, 5]), (3, [], [])])
def test_early_returns_check_nothing(n, gate, targets):
    state = random_state(2)
    assert nn.apply_gate(state, gate, n, targets) == state


def panic(message):
    return pytest.raises(RuntimeError, match="^" + re.escape("panic in native code: " + message) + "$")


@pytest.mark.parametrize("n, gate_len, targets, message", [
    (1, 7, [0], "array.get: index out of range (i,a.len):7, 7"),
    (2, 31, [1, 0], "array.get: index out of range (i,a.len):31, 31"),
    (3, 30, [0, 2], "array.get: index out of range (i,a.len):30, 30"),
    (3, 127, [0, 1, 2], "array.get: index out of range (i,a.len):127, 127"),
    (3, 0, [2], "array.get: index out of range (i,a.len):0, 0"),
    (2, 8, [2], "qubit index out of range (q,n):2, 2"),
    (2, 8, [-1], "qubit index out of range (q,n):-1, 2"),
    (3, 128, [1, 2, 1], "duplicate qubit index (q):1"),
    (3, 32, [0, 0], "duplicate qubit index (q):0"),
    (3, 32, [0, 7], "qubit index out of range (q,n):7, 3"),
])
def test_bad_gates_and_targets_raise_before_any_write(n, gate_len, targets, message):
    state = random_state(n)
    gate = random_gate(len(targets))[:gate_len]
    with panic(message):
        nn.apply_gate(state, gate, n, targets)
    s = nn.NativeState(n)
    s.set_amplitudes(state)
    with panic(message):
        s.apply_gate(gate, targets)
    assert s.amplitudes() == state


@pytest.mark.parametrize("length", [0, 7, 15])
def test_short_state_raises(length):
    with panic(f"array.get: index out of range (i,a.len):{length}, {length}"):
        nn.apply_gate([0.5] * length, random_gate(1), 3, [2])


def test_longer_state_keeps_its_tail():
    state = random_state(2) + [7.0, 8.0]
    out = nn.apply_gate(state, random_gate(1), 2, [1])
    assert out[8:] == [7.0, 8.0] and out[:8] != state[:8]


# --------------------------------------------------------------- measurement

@pytest.mark.parametrize("n, targets", [(1, [0]), (3, []), (3, [2]), (4, [0, 3]), (4, [3, 0]),
                                        (5, [2, 4, 0]), (6, [5]), (6, [0]), (12, [3]), (12, [9, 2])])
def test_probabilities_and_collapse(n, targets):
    state = random_state(n)
    probs = nn.state_probabilities(state, targets, n)
    assert probs == sequential_probabilities(state, n, targets)
    s = nn.NativeState(n)
    s.set_amplitudes(state)
    assert s.probabilities(targets) == probs
    psi = cplx(state)
    for m in range(len(probs)):
        out = cplx(nn.collapse_state(state, targets, m, n))
        keep = numpy.array([all(((i >> (n - 1 - t)) & 1) == ((m >> (len(targets) - 1 - p)) & 1)
                                for p, t in enumerate(targets)) for i in range(1 << n)])
        numpy.testing.assert_allclose(out, numpy.where(keep, psi / math.sqrt(probs[m]), 0), atol=1e-14)
        assert (out[~keep] == 0).all()


@pytest.mark.parametrize("n, targets", [(14, []), (15, [14]), (16, [0, 15]), (17, [8, 2, 16])])
def test_large_probabilities_and_measure(n, targets):
    """Past 4096 groups an outcome's sum is regrouped by chunks: within a few
    ulps of the sequential sum, and still the very sum that collapse uses."""
    state = random_state(n)
    probs = nn.state_probabilities(state, targets, n)
    numpy.testing.assert_allclose(probs, sequential_probabilities(state, n, targets), rtol=1e-13, atol=0)
    for outcome in (0, len(probs) - 1):
        s = nn.NativeState(n)
        s.set_amplitudes(state)
        assert s.measure(targets, sum(probs[:outcome]) + probs[outcome] / 2) == outcome
        assert s.amplitudes() == nn.collapse_state(state, targets, outcome, n)


def test_measurement_orders_and_bell_state():
    ket01 = [0, 0, 1, 0, 0, 0, 0, 0]
    assert nn.state_probabilities(ket01, [0, 1], 2) == [0, 1, 0, 0]
    assert nn.state_probabilities(ket01, [1, 0], 2) == [0, 0, 1, 0]
    bell = [RT, 0, 0, 0, 0, 0, RT, 0]
    assert nn.state_probabilities(bell, [0], 2) == [RT * RT, RT * RT]
    collapsed = nn.collapse_state(bell, [0], 1, 2)
    assert collapsed[:6] == [0.0] * 6 and collapsed[7] == 0.0 and collapsed[6] == pytest.approx(1.0, abs=1e-15)
    assert nn.collapse_state([2, 0, 0, 0], [0], 0, 1) == [1, 0, 0, 0]
    assert nn.collapse_state([3, 4], [], 0, 0) == pytest.approx([0.6, 0.8], abs=1e-15)
    assert nn.collapse_state([3, 4], [], 1, 0) == [0.0, 0.0]


@pytest.mark.parametrize("outcome", [-1, 2, 5])
def test_collapse_onto_impossible_outcome_gives_zeros(outcome):
    assert nn.collapse_state([RT, 0, RT, 0], [0], outcome, 1) == [0.0] * 4
    assert nn.collapse_state([0, 0, 1, 0], [0], 0, 1) == [0.0] * 4  # zero probability


@pytest.mark.parametrize("probabilities, u, outcome", [
    ([0.5, 0.5], 0.5, 1), ([0.5, 0.5], 0.4999999999999999, 0), ([0, 1], 0.0, 1), ([0.3, 0.3], 0.9, 1),
    ([], 0.5, -1), ([0, 1], -0.1, 0), ([0.25, 0.25, 0.5], 0.5, 2), ([0.25, 0.25, 0.5], 0.49, 1),
    ([0.1, 0.2], float("nan"), 1),
])
def test_selection_boundaries(probabilities, u, outcome):
    assert nn.sample_outcome(probabilities, u) == outcome


@pytest.mark.parametrize("state, n, targets, outcome, message", [
    ([1.0, 0.0], 62, [], 0, "array.get: index out of range (i,a.len):2, 2"),
    ([0.5] * 5, 2, [1], 1, "array.get: index out of range (i,a.len):6, 5"),   # reads amplitude 3
    ([0.5] * 5, 2, [1], 0, "array.get: index out of range (i,a.len):5, 5"),   # imaginary part of amp 2
    ([0.5] * 4, 2, [0], 0, None),                                              # amplitudes 0, 1 suffice
    ([0.5] * 8, 2, [2], 0, "qubit index out of range (q,n):2, 2"),
    ([0.5] * 8, 2, [1, 1], 0, "duplicate qubit index (q):1"),
])
def test_measurement_input_errors(state, n, targets, outcome, message):
    if message is None:
        assert nn.collapse_state(state, targets, outcome, n) == [0.5] * 4 + [0.0] * 4
        with panic("array.get: index out of range (i,a.len):4, 4"):
            nn.state_probabilities(state, targets, n)
        return
    with panic(message):
        nn.collapse_state(state, targets, outcome, n)
    if "index out of range (i,a.len)" in message:
        message = f"array.get: index out of range (i,a.len):{len(state)}, {len(state)}"
    with panic(message):
        nn.state_probabilities(state, targets, n)


@pytest.mark.parametrize("n, targets", [(1, [0]), (3, [1]), (4, [3, 1]), (6, []), (6, [0]), (6, [5, 2, 0]),
                                        (12, [4]), (12, [1, 11])])
def test_measure_is_probabilities_sample_and_collapse(n, targets):
    state = random_state(n)
    for u in (0.0, 0.3, 0.77, 0.999999, 1e9):
        s = nn.NativeState(n)
        s.set_amplitudes(state)
        probs = nn.state_probabilities(state, targets, n)
        expected = nn.sample_outcome(probs, u * sum(probs))
        assert s.measure(targets, u * sum(probs)) == expected
        assert s.amplitudes() == nn.collapse_state(state, targets, expected, n)


def test_measure_zero_probability_and_rounding():
    s = nn.NativeState(1)
    s.set_zero_state()
    assert s.measure([0], 1.0) == 1 and s.amplitudes() == [0.0] * 4
    s.reset()
    assert s.measure([0], 0.999) == 0 and s.amplitudes() == [1.0, 0, 0, 0]


# --------------------------------------------------------------- NativeState

def test_state_methods():
    s = nn.NativeState(2)
    assert s.amplitudes() == [0.0] * 8
    s.set_zero_state()
    assert s.amplitudes() == [1.0] + [0.0] * 7
    s.set_amplitudes([0, 0, 1, 0])
    before = s.amplitudes()
    s.set_zero_state()
    assert s.amplitudes() == [1, 0, 1, 0, 0, 0, 0, 0] and before == [0, 0, 1, 0, 0, 0, 0, 0]
    s.reset()
    assert s.amplitudes() == [1.0] + [0.0] * 7
    one = nn.NativeState(1)
    one.set_amplitudes([0.5])
    assert one.amplitudes() == [0.5, 0, 0, 0]
    one.set_amplitudes([1, 2, 3, 4, 5, 6])
    assert one.amplitudes() == [1, 2, 3, 4]
    zero = nn.NativeState(0)
    zero.reset()
    assert zero.amplitudes() == [1.0, 0.0] and zero.probabilities([]) == [1.0]


@pytest.mark.parametrize("n", [-1, 62])
def test_empty_buffer(n):
    s = nn.NativeState(n)
    for method in (s.reset, s.set_zero_state, lambda: s.set_amplitudes([1.0])):
        method()
    assert s.amplitudes() == []
    if n < 0:  # early return: nothing is checked
        s.apply_gate([], [0])
    else:
        with panic("array.get: index out of range (i,a.len):0, 0"):
            s.apply_gate(random_gate(1), [0])
        with panic("array.get: index out of range (i,a.len):0, 0"):
            s.measure([0], 0.5)


def test_memory_error_for_impossible_state():
    with pytest.raises(MemoryError, match="^panic in native code: memory allocation failure$"):
        nn.NativeState(40)


def test_rewritten_num_qubits():
    s = nn.NativeState(3)
    state = random_state(3)
    s.set_amplitudes(state)
    s.num_qubits = 4  # buffer too short: everything raises, nothing changes
    for call in (lambda: s.apply_gate(random_gate(1), [0]), lambda: s.measure([0], 0.5),
                 lambda: s.probabilities([1])):
        with panic("array.get: index out of range (i,a.len):16, 16"):
            call()
    assert s.amplitudes() == state
    s.num_qubits = 2  # buffer too long: gates and probabilities use its head ...
    assert s.probabilities([0]) == nn.state_probabilities(state[:8], [0], 2)
    gate = random_gate(1)
    s.apply_gate(gate, [1])
    assert s.amplitudes() == nn.apply_gate(state[:8], gate, 2, [1]) + state[8:]
    after = s.amplitudes()
    with panic("array.get: index out of range (i,a.len):8, 8"):  # ... but measure cannot copy back
        s.measure([0], 0.5)
    assert s.amplitudes() == after


def test_amplitudes_is_a_copy():
    s = nn.NativeState(1)
    s.reset()
    before = s.amplitudes()
    s.apply_gate([0, 0, 1, 0, 1, 0, 0, 0], [0])
    assert before == [1, 0, 0, 0] and s.amplitudes() == [0, 0, 1, 0]
