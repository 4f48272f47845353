"""A Bell pair whose qubits both decay: NativeDensity with gates applied as
one-operator channels, amplitude damping on each qubit, then the outcome
probabilities and a few seeded measurements."""

import math
import random

import nimbic_native as nn

s = 1 / math.sqrt(2)
H = [s, 0, s, 0, s, 0, -s, 0]
CNOT = [1, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 1, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 1, 0,
        0, 0, 0, 0, 1, 0, 0, 0]
gamma = 0.2
DAMPING = [1, 0, 0, 0, 0, 0, math.sqrt(1 - gamma), 0,   # K0 = [[1, 0], [0, sqrt(1-g)]]
           0, 0, math.sqrt(gamma), 0, 0, 0, 0, 0]       # K1 = [[0, sqrt(g)], [0, 0]]

rho = nn.NativeDensity(2)
rho.set_zero_state()
rho.apply_channel(H, 1, [0])
rho.apply_channel(CNOT, 1, [0, 1])
for qubit in (0, 1):
    rho.apply_channel(DAMPING, 2, [qubit])

probs = rho.probabilities([0, 1])
print("P(00, 01, 10, 11) =", [round(p, 6) for p in probs])

# |11> decays to |01> and |10> with probability g(1-g) each, to |00> with g^2.
expected = [0.5 + 0.5 * gamma**2, 0.5 * gamma * (1 - gamma), 0.5 * gamma * (1 - gamma), 0.5 * (1 - gamma) ** 2]
assert all(abs(p - e) < 1e-12 for p, e in zip(probs, expected)), probs
assert abs(sum(probs) - 1) < 1e-12, "damping keeps the trace"

rng = random.Random(3)
shots = []
for _ in range(10):
    shot = nn.NativeDensity(2)
    memoryview(shot)[:] = memoryview(rho)  # copy the noisy state, buffer to buffer
    shots.append(f"{shot.measure([0], rng.random())}{shot.measure([1], rng.random())}")
print("measurements     ", " ".join(shots))
