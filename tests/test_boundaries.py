"""Boundaries that no other test reached: tableau pivots at 64-bit word
edges, the reconstruction's general path with several Z-only generators,
extreme rewritten qubit counts and the last qubit count density_collapse
accepts."""
import random

import pytest

import nimbic_native as nn
from test_state_vector_reconstruction import bits, flatten, reference_state_vector

H, CNOT, MEASURE = 0, 6, 9
OOM = "panic in native code: memory allocation failure"


@pytest.mark.parametrize("q", [63, 64, 65, 127, 128])
@pytest.mark.parametrize("spare", [0, 1, 70])  # qubits above q
def test_random_measurement_pivots_at_word_edges(q, spare):
    n, reps = q + 1 + spare, 64
    # The pivot is stabilizer row q, measuring q twice or, after a CNOT, 0 then q.
    for prefix, a in (([H, q, 0], q), ([H, q, 0, CNOT, q, 0], 0)):
        out = nn.clifford_run(prefix + [MEASURE, a, 0, MEASURE, q, 0], n, [], reps, q)
        assert all(out[2 * r] == out[2 * r + 1] for r in range(reps))
        assert set(out) == {0, 1}
    out = nn.clifford_run([H, 64, 0, MEASURE, 64, 0, MEASURE, 64, 0], 65, [], 6, 1)
    assert all(out[2 * r] == out[2 * r + 1] for r in range(6))


def test_several_z_only_generators_match_the_reference():
    rng = random.Random(5)
    for _ in range(600):  # random rows, at least two of them without an X part
        n = rng.randrange(2, 6)
        rows = [([0] * n if k < rng.randrange(2, n + 1) else [rng.randrange(2) for _ in range(n)],
                 [rng.randrange(2) for _ in range(n)], rng.randrange(2)) for k in range(n)]
        rng.shuffle(rows)
        flat = flatten([([0] * n, [0] * n, 0)] * n, rows)
        assert bits(nn.clifford_state_vector(flat, n)) == bits(reference_state_vector(flat, n)), (n, flat)


@pytest.mark.parametrize("n", [2**63 - 1, -2**63, -2**63 + 1])
def test_flattened_tableau_of_impossible_count_is_memory_error(n):
    t = nn.NativeTableau(2)
    t.num_qubits = n
    with pytest.raises(MemoryError) as err:
        t.stabilizer_tableau()
    assert str(err.value) == OOM


def test_density_collapse_at_63_qubits():
    r, dim = 2**62, 2**63  # the first diagonal entry of outcome 1 of qubit 0
    with pytest.raises(RuntimeError) as err:
        nn.density_collapse([], [0], 1, 63)
    assert str(err.value) == f"panic in native code: array.get: index out of range (i,a.len):{2 * (r * dim + r)}, 0"
    with pytest.raises(MemoryError) as err:
        nn.density_collapse([], [], 1, 63)  # no outcome to read: the result alone
    assert str(err.value) == OOM
    assert nn.density_collapse([], [0], 1, 64) == []
