"""Prepare a Bell state with NativeState, print its probabilities and a few
measurement outcomes drawn with a seeded random generator."""

import math
import random

import nimbic_native as nn

H = [1 / math.sqrt(2), 0.0, 1 / math.sqrt(2), 0.0,
     1 / math.sqrt(2), 0.0, -1 / math.sqrt(2), 0.0]
CNOT = [1, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 1, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 1, 0,
        0, 0, 0, 0, 1, 0, 0, 0]

state = nn.NativeState(2)
state.set_zero_state()
state.apply_gate(H, [0])
state.apply_gate(CNOT, [0, 1])
print("amplitudes   ", [round(a, 6) for a in state.amplitudes()])
print("P(q0 q1)     ", [round(p, 6) for p in state.probabilities([0, 1])])

rng = random.Random(7)
shots = []
for _ in range(8):
    bell = nn.NativeState(2)
    bell.set_amplitudes(state.amplitudes())
    first = bell.measure([0], rng.random())
    second = bell.measure([1], rng.random())
    shots.append(f"{first}{second}")
print("measurements ", " ".join(shots))
assert all(s in ("00", "11") for s in shots), "Bell pairs always agree"
