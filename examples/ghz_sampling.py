"""Sample a 10-qubit GHZ state with clifford_run: every shot's bits agree,
and about half the shots are all ones."""

import nimbic_native as nn

H, CNOT, MEASURE = 0, 6, 9
n = 10
circuit = [H, 0, 0]
for q in range(1, n):
    circuit += [CNOT, q - 1, q]
for q in range(n):
    circuit += [MEASURE, q, 0]

shots = 1000
bits = nn.clifford_run(circuit, n, [], shots, 2024)   # shots rows of n bits
rows = [bits[s * n:(s + 1) * n] for s in range(shots)]
assert all(len(set(row)) == 1 for row in rows), "GHZ bits agree within a shot"
ones = sum(row[0] for row in rows)
print(f"{shots} shots, {ones} all ones, {shots - ones} all zeros")
assert 400 < ones < 600
assert bits == nn.clifford_run(circuit, n, [], shots, 2024), "same seed, same shots"
