"""Run one random Clifford circuit two ways and compare the states: as a
stabilizer tableau (clifford_tableau, then clifford_state_vector) and as a
dense state vector (NativeState, applying each gate's matrix)."""

import math
import random

import nimbic_native as nn


def flat(rows):
    """A complex matrix as the flat interleaved row-major list the module takes."""
    return [part for row in rows for z in row for part in (complex(z).real, complex(z).imag)]


r = 1 / math.sqrt(2)
# Instruction code -> matrix; for two-qubit codes operand a is the first target
# (the more significant bit of the matrix index), so CNOT's control is a.
MATRICES = {
    0: flat([[r, r], [r, -r]]),                        # H
    1: flat([[1, 0], [0, 1j]]),                        # S
    2: flat([[1, 0], [0, -1j]]),                       # S dagger
    3: flat([[0, 1], [1, 0]]),                         # X
    4: flat([[0, -1j], [1j, 0]]),                      # Y
    5: flat([[1, 0], [0, -1]]),                        # Z
    6: flat([[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 0, 1], [0, 0, 1, 0]]),   # CNOT
    7: flat([[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [0, 0, 0, -1]]),  # CZ
    8: flat([[1, 0, 0, 0], [0, 0, 1, 0], [0, 1, 0, 0], [0, 0, 0, 1]]),   # SWAP
}

n, gates = 6, 80
rng = random.Random(2024)
circuit = []
for _ in range(gates):
    code = rng.randrange(9)
    a, b = rng.sample(range(n), 2) if code >= 6 else (rng.randrange(n), 0)
    circuit.append((code, a, b))

tableau = nn.clifford_tableau([v for op in circuit for v in op], n)
stabilizer = nn.clifford_state_vector(tableau, n)

state = nn.NativeState(n)
state.reset()
for code, a, b in circuit:
    state.apply_gate(MATRICES[code], [a, b] if code >= 6 else [a])
dense = state.amplitudes()

# clifford_state_vector makes the first non-zero amplitude real and positive;
# give the dense state the same global phase before comparing.
amps = [complex(dense[2 * i], dense[2 * i + 1]) for i in range(2**n)]
first = next(z for z in amps if abs(z) > 1e-9)
amps = [z * abs(first) / first for z in amps]
expected = [complex(stabilizer[2 * i], stabilizer[2 * i + 1]) for i in range(2**n)]
deviation = max(abs(x - y) for x, y in zip(amps, expected))
support = sum(abs(z) > 1e-9 for z in expected)
print(f"{gates} random Clifford gates on {n} qubits")
print(f"stabilizer state: {support} non-zero amplitudes of magnitude {1 / math.sqrt(support):.6f}")
print(f"largest difference from the dense simulation: {deviation:.1e}")
assert deviation < 1e-12
