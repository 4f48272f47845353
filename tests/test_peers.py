"""Cross-checks against peer simulators: random circuits run here and in
qiskit (quantum_info) and stim must agree. Selected with `pytest -m peers`
(`pip install '.[peers]'`); skipped when a peer is missing.

Qubit order: here qubit q is bit n-1-q of a basis index and the first target
is the most significant bit of a gate's index; qiskit makes qubit k bit k and
its first qarg the least significant. Mapping qubit q to qiskit qubit n-1-q
makes both amplitude arrays identical, and a gate's targets become the
reversed list of mapped qubits. stim numbers qubits like us and writes state
vectors big-endian on request."""
import math
import pathlib
import random
import re

import numpy
import pytest

import nimbic_native as nn

pytestmark = pytest.mark.peers
ATOL = 1e-10
README = pathlib.Path(__file__).resolve().parent.parent / "README.md"


def flat(m):
    return list(numpy.ascontiguousarray(m, dtype=complex).view(float).ravel())


def complex_of(values):
    return numpy.array(values, dtype=float).view(complex)


def qargs(targets, n):
    return [n - 1 - t for t in reversed(targets)]


def random_unitary(rng, k):
    d = 1 << k
    q, r = numpy.linalg.qr(rng.normal(size=(d, d)) + 1j * rng.normal(size=(d, d)))
    return q * (r.diagonal() / abs(r.diagonal()))


def random_kraus(rng, k, m):
    """m Kraus operators on k qubits: the blocks of a random isometry."""
    d = 1 << k
    v, _ = numpy.linalg.qr(rng.normal(size=(m * d, d)) + 1j * rng.normal(size=(m * d, d)))
    return [v[i * d:(i + 1) * d] for i in range(m)]


def random_targets(rng, n, k):
    return [int(t) for t in rng.choice(n, size=k, replace=False)]


@pytest.fixture(scope="module")
def qi():
    pytest.importorskip("qiskit")
    from qiskit import quantum_info
    return quantum_info


@pytest.fixture(scope="module")
def stim():
    return pytest.importorskip("stim")


@pytest.mark.parametrize("n, seed", [(1, 0), (3, 1), (5, 2), (7, 3)])
def test_state_vector_circuits_match_qiskit(qi, n, seed):
    rng = numpy.random.default_rng(seed)
    ours = nn.NativeState(n)
    ours.reset()
    as_list = ours.amplitudes()
    peer = qi.Statevector.from_int(0, 2**n)
    for _ in range(12):
        k = int(rng.integers(1, min(n, 3) + 1))
        targets, u = random_targets(rng, n, k), random_unitary(rng, k)
        ours.apply_gate(flat(u), targets)
        as_list = nn.apply_gate(as_list, flat(u), n, targets)
        peer = peer.evolve(qi.Operator(u), qargs(targets, n))
    numpy.testing.assert_allclose(complex_of(ours.amplitudes()), peer.data, atol=ATOL)
    numpy.testing.assert_allclose(complex_of(as_list), peer.data, atol=ATOL)
    for targets in ([0], [n - 1, 0], random_targets(rng, n, min(n, 3))):
        if len(set(targets)) < len(targets):
            continue
        expected = peer.probabilities(qargs(targets, n))
        numpy.testing.assert_allclose(ours.probabilities(targets), expected, atol=ATOL)
        numpy.testing.assert_allclose(nn.state_probabilities(ours.amplitudes(), targets, n), expected, atol=ATOL)


def readme_qiskit_recipe():
    """run_qiskit from the README's qiskit block, run as written (its own asserts included)."""
    blocks = re.findall(r"^```python\n(.*?)^```$", README.read_text(), flags=re.S | re.M)
    (code,) = [b for b in blocks if "def run_qiskit" in b]
    namespace = {"__name__": "readme"}
    exec(compile(code, str(README), "exec"), namespace)
    return namespace["run_qiskit"]


@pytest.mark.parametrize("n, seed", [(1, 50), (2, 51), (3, 52), (5, 53)])
def test_readme_qiskit_recipe_matches_statevector(qi, n, seed):
    from qiskit.circuit.random import random_circuit
    circuit = random_circuit(n, 10, max_operands=min(n, 3), seed=seed)
    state = readme_qiskit_recipe()(circuit)
    expected = qi.Statevector(circuit)
    numpy.testing.assert_allclose(complex_of(state.amplitudes()), expected.data, atol=ATOL)
    # The README's rule for target lists: qiskit's list, mapped and reversed.
    qiskit_qargs = [int(q) for q in numpy.random.default_rng(seed).permutation(n)[:min(n, 3)]]
    ours = [n - 1 - q for q in reversed(qiskit_qargs)]
    numpy.testing.assert_allclose(state.probabilities(ours), expected.probabilities(qiskit_qargs), atol=ATOL)


@pytest.mark.parametrize("n, seed", [(1, 4), (2, 5), (4, 6)])
def test_density_channels_match_qiskit(qi, n, seed):
    rng = numpy.random.default_rng(seed)
    ours = nn.NativeDensity(n)
    ours.reset()
    peer = qi.DensityMatrix.from_int(0, 2**n)
    for step in range(10):
        k = int(rng.integers(1, min(n, 2) + 1))
        targets = random_targets(rng, n, k)
        # Gates, diagonal channels and general channels take different kernels.
        if step % 3 == 0:
            ops = [random_unitary(rng, k)]
        elif step % 3 == 1:
            p = rng.dirichlet(numpy.ones(2))
            phases = numpy.diag(numpy.exp(1j * rng.normal(size=1 << k)))
            ops = [math.sqrt(p[0]) * numpy.eye(1 << k), math.sqrt(p[1]) * phases]
        else:
            ops = random_kraus(rng, k, int(rng.integers(2, 5)))
        ours.apply_channel([x for op in ops for x in flat(op)], len(ops), targets)
        peer = peer.evolve(qi.Kraus(ops), qargs(targets, n))
    rho = complex_of(ours.density_matrix()).reshape(2**n, 2**n)
    numpy.testing.assert_allclose(rho, peer.data, atol=ATOL)
    for targets in ([0], list(range(n))[::-1]):
        numpy.testing.assert_allclose(ours.probabilities(targets), peer.probabilities(qargs(targets, n)), atol=ATOL)


@pytest.mark.parametrize("n, k, seed", [(3, 1, 7), (4, 2, 8), (5, 3, 9)])
def test_embedded_operators_and_whole_matrix_channels_match_qiskit(qi, n, k, seed):
    rng = numpy.random.default_rng(seed)
    targets, u = random_targets(rng, n, k), random_unitary(rng, k)
    embedded = complex_of(nn.embed_operator(flat(u), 1 << k, targets, n)).reshape(2**n, 2**n)
    expected = qi.Operator(numpy.eye(2**n)).compose(qi.Operator(u), qargs(targets, n)).data
    numpy.testing.assert_allclose(embedded, expected, atol=ATOL)
    rho = qi.random_density_matrix(2**n, seed=seed)
    ops = random_kraus(rng, n, 3)
    whole = nn.channel(flat(rho.data), [x for op in ops for x in flat(op)], 3, 2**n)
    numpy.testing.assert_allclose(complex_of(whole).reshape(2**n, 2**n), rho.evolve(qi.Kraus(ops)).data, atol=ATOL)


@pytest.mark.parametrize("n, seed", [(1, 10), (2, 11), (3, 12), (4, 13)])
def test_pauli_expansion_matches_qiskit(qi, n, seed):
    rng = numpy.random.default_rng(seed)
    m = rng.normal(size=(2**n, 2**n)) + 1j * rng.normal(size=(2**n, 2**n))
    ours = complex_of(nn.pauli_expansion(flat(m), n))
    # Digit w (base 4: I, X, Y, Z) of index j is the Pauli on basis bit w,
    # which is qiskit's qubit w: the rightmost letter of its label.
    peer = dict(qi.SparsePauliOp.from_operator(m).to_list())
    for j, c in enumerate(ours):
        label = "".join("IXYZ"[(j >> 2 * w) & 3] for w in reversed(range(n)))
        assert abs(c - peer.get(label, 0)) < ATOL, label


# Clifford instruction codes and their stim names.
H, S, SDG, X, Y, Z, CNOT, CZ, SWAP, MEASURE = range(10)
STIM_NAMES = ["H", "S", "S_DAG", "X", "Y", "Z", "CX", "CZ", "SWAP", "M"]


def random_clifford(rng, n, gates, measure_every=0):
    ops = []
    for i in range(gates):
        code = rng.randrange(9) if n > 1 else rng.randrange(6)
        a, b = rng.sample(range(n), 2) if code >= CNOT else (rng.randrange(n), 0)
        ops.append((code, a, b))
        if measure_every and i % measure_every == measure_every - 1:
            ops.append((MEASURE, rng.randrange(n), 0))
    return ops


def stim_circuit(stim, ops, invert=()):
    circuit, k = stim.Circuit(), 0
    for code, a, b in ops:
        if code == MEASURE:
            circuit.append("M", [stim.target_inv(a) if k < len(invert) and invert[k] else a])
            k += 1
        else:
            circuit.append(STIM_NAMES[code], [a, b] if code >= CNOT else [a])
    return circuit


def flatten(ops):
    return [v for op in ops for v in op]


def exact_stabilizer_state(v):
    """stim's single-precision state vector made exact, with its first
    non-zero amplitude real and positive. A stabilizer state's non-zero
    amplitudes all have magnitude 1/sqrt(count) and phases that are multiples
    of i relative to each other, so rounding recovers it exactly."""
    v = numpy.asarray(v, dtype=complex)
    nonzero = abs(v) > 1e-3
    v = v / v[numpy.flatnonzero(nonzero)[0]]
    unit = numpy.round(v.real) + 1j * numpy.round(v.imag)
    assert (abs(unit[nonzero]) == 1).all() and (unit[~nonzero] == 0).all()
    return unit / math.sqrt(nonzero.sum())


def stim_rows(tableau, n):
    """Our flattened layout (x bits, z bits, sign per row) of stim's destabilizers and stabilizers."""
    rows = []
    for p in [tableau.x_output(q) for q in range(n)] + [tableau.z_output(q) for q in range(n)]:
        xs, zs = p.to_numpy()
        rows.append([int(v) for v in xs] + [int(v) for v in zs] + [int(p.sign == -1)])
    return rows


@pytest.mark.parametrize("n, seed", [(1, 20), (2, 21), (5, 22), (8, 23)])
def test_clifford_tableaux_and_states_match_stim(stim, n, seed):
    rng = random.Random(seed)
    ops = random_clifford(rng, n, 40 * n)
    expected = stim_circuit(stim, ops).to_tableau()
    flat_tableau = nn.clifford_tableau(flatten(ops), n)
    width = 2 * n + 1
    rows = [flat_tableau[r * width:(r + 1) * width] for r in range(2 * n)]
    assert rows == stim_rows(expected, n)
    native = nn.NativeTableau(n)
    for op in ops:
        native.apply(*op)
    assert native.stabilizer_tableau() == flat_tableau
    peer = exact_stabilizer_state(expected.to_state_vector(endian="big"))
    numpy.testing.assert_allclose(complex_of(nn.clifford_state_vector(flat_tableau, n)), peer, atol=ATOL)
    numpy.testing.assert_allclose(complex_of(native.state_vector()), peer, atol=ATOL)


@pytest.mark.parametrize("n, seed", [(3, 30), (6, 31)])
def test_tableau_measurement_matches_stim(stim, n, seed):
    rng = random.Random(seed)
    native, peer = nn.NativeTableau(n), stim.TableauSimulator()
    peer.set_num_qubits(n)
    for code, a, b in random_clifford(rng, n, 30 * n, measure_every=4):
        if code != MEASURE:
            native.apply(code, a, b)
            peer.do(stim_circuit(stim, [(code, a, b)]))
            continue
        determined = peer.peek_z(a)  # +1 / -1 when determined, 0 when random
        u = rng.random()
        outcome = native.measure(a, u)
        if determined:
            assert outcome == (determined == -1)
        else:
            assert outcome == (u >= 0.5)
        peer.postselect_z(a, desired_value=bool(outcome))
        numpy.testing.assert_allclose(complex_of(native.state_vector()),
                                      exact_stabilizer_state(peer.state_vector(endian="big")), atol=ATOL)


@pytest.mark.parametrize("n, seed", [(4, 40), (9, 41)])
def test_clifford_run_statistics_match_stim(stim, n, seed):
    rng = random.Random(seed)
    ops = random_clifford(rng, n, 20 * n, measure_every=3)
    ops += [(MEASURE, q, 0) for q in range(n)]
    m = sum(code == MEASURE for code, _, _ in ops)
    invert = [rng.randrange(2) for _ in range(m)]
    shots = 20000
    ours = numpy.array(nn.clifford_run(flatten(ops), n, invert, shots, seed), dtype=numpy.uint8).reshape(shots, m)
    peer = stim_circuit(stim, ops, invert).compile_sampler(seed=seed).sample(shots).astype(numpy.uint8)
    # Every bit, and the parity of every pair of bits, is either fixed or a
    # fair coin in a stabilizer circuit. stim tells which; fixed values must
    # match exactly, coins must be within 5 sigma of 1/2.
    columns = [ours[:, i] for i in range(m)] + [ours[:, i] ^ ours[:, j] for i in range(m) for j in range(i)]
    references = [peer[:, i] for i in range(m)] + [peer[:, i] ^ peer[:, j] for i in range(m) for j in range(i)]
    sigma = math.sqrt(0.25 / shots)
    random_seen = 0
    for ours_column, peer_column in zip(columns, references):
        p = peer_column.mean()
        if p in (0.0, 1.0):
            assert (ours_column == p).all()
        else:
            random_seen += 1
            assert abs(ours_column.mean() - 0.5) < 5 * sigma
            assert abs(p - 0.5) < 5 * sigma
    assert random_seen > 0
