"""Sample a distance-3 surface-code memory with clifford_run and decode it.

Nine data qubits on a 3 x 3 grid hold one logical qubit in |0>. Two rounds of
stabilizer measurements (each with fresh ancillas) surround an injected error:
a coin qubit in |+> controls an X (or Z) on one data qubit, so about half the
shots carry that error. The data are read out in the Z basis at the end; the
logical value is the parity of the top row.

A lookup decoder reads which stabilizers changed between the two rounds and
undoes the single error it points to. Without decoding, an X error on the top
row flips the logical value in half the shots; after decoding, never.
"""

import nimbic_native as nn

H, CNOT, CZ, MEASURE = 0, 6, 7, 9

# Data qubit (row, column) is qubit 3 * row + column:  0 1 2 / 3 4 5 / 6 7 8
Z_STABILIZERS = [(1, 2, 4, 5), (3, 4, 6, 7), (0, 3), (5, 8)]
X_STABILIZERS = [(0, 1, 3, 4), (4, 5, 7, 8), (1, 2), (6, 7)]
LOGICAL_Z = (0, 1, 2)
DATA, COIN = 9, 9
ROUND = len(Z_STABILIZERS) + len(X_STABILIZERS)   # measurements per round
NUM_QUBITS = DATA + 1 + 2 * ROUND


def syndrome_round(ancilla):
    """Measure every stabilizer once, Z type first, each with a fresh ancilla."""
    ops = []
    for support in Z_STABILIZERS:
        ops += [(CNOT, q, ancilla) for q in support] + [(MEASURE, ancilla, 0)]
        ancilla += 1
    for support in X_STABILIZERS:
        ops += [(H, ancilla, 0)] + [(CNOT, ancilla, q) for q in support] + [(H, ancilla, 0), (MEASURE, ancilla, 0)]
        ancilla += 1
    return ops


def memory_circuit(kind, qubit):
    """Round, error on `qubit` controlled by the coin, round, coin and data readout."""
    error = [(H, COIN, 0), (CNOT if kind == "X" else CZ, COIN, qubit)]
    ops = syndrome_round(DATA + 1) + error + syndrome_round(DATA + 1 + ROUND)
    ops += [(MEASURE, COIN, 0)] + [(MEASURE, q, 0) for q in range(DATA)]
    return [v for op in ops for v in op]


def lookup_table(stabilizers):
    """Syndrome -> a data qubit whose single error gives it."""
    table = {}
    for q in range(DATA):
        table.setdefault(tuple(int(q in s) for s in stabilizers), q)
    return table


def parity(bits, qubits):
    return sum(bits[q] for q in qubits) % 2


DECODE_X_ERRORS = lookup_table(Z_STABILIZERS)   # X errors flip Z stabilizers
shots = 2000
width = 2 * ROUND + 1 + DATA
print(f"{NUM_QUBITS} qubits, {width} measurements per shot, {shots} shots per row")
print("error  qubit  with error  detected  logical flips  after decoding")
for kind in ("X", "Z"):
    for qubit in range(DATA):
        bits = nn.clifford_run(memory_circuit(kind, qubit), NUM_QUBITS, [], shots, 100 + qubit)
        errors = detected = raw_flips = decoded_flips = 0
        for s in range(shots):
            shot = bits[s * width:(s + 1) * width]
            first, second = shot[:ROUND], shot[ROUND:2 * ROUND]
            coin, data = shot[2 * ROUND], shot[2 * ROUND + 1:]
            assert not any(first[:len(Z_STABILIZERS)]), "|0...0> satisfies every Z stabilizer"
            changed = tuple(a ^ b for a, b in zip(first, second))
            z_syndrome = changed[:len(Z_STABILIZERS)]
            # The readout repeats the last round's Z stabilizers.
            assert [parity(data, s) for s in Z_STABILIZERS] == list(second[:len(Z_STABILIZERS)])
            errors += coin
            detected += any(changed)
            assert any(changed) == bool(coin), "the syndrome shows exactly the shots with an error"
            logical = parity(data, LOGICAL_Z)
            raw_flips += logical
            if any(z_syndrome):
                logical ^= DECODE_X_ERRORS[z_syndrome] in LOGICAL_Z
            decoded_flips += logical
        print(f"{kind:>5}  {qubit:>5}  {errors / shots:>10.1%}  {detected / shots:>8.1%}"
              f"  {raw_flips / shots:>13.1%}  {decoded_flips / shots:>14.1%}")
        assert decoded_flips == 0
        assert 0.4 < errors / shots < 0.6
        assert (raw_flips > 0) == (kind == "X" and qubit in LOGICAL_Z)
print("every error detected and corrected")
