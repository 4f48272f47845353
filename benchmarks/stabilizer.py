"""Throughput of the stabilizer functions against their output floor and stim.

The result of `clifford_run` and `clifford_tableau` is a Python list, so
building it is the floor: for N entries, `list(bytes(N))` (a list of N cached
small ints), measured in the same run. stim (the `bench` extra) samples the
same circuits. Every figure is the best of several repeats; the script prints
ratios, not absolute targets.

    python benchmarks/stabilizer.py [--repeats 9]
"""

import argparse
import random

import nimbic_native as nn
from timing import best_times

try:
    import stim
except ImportError:  # the ratios to stim are then skipped
    stim = None

H, S, SDG, X, Y, Z, CNOT, CZ, SWAP, MEASURE = range(10)
STIM_NAMES = {H: "H", S: "S", SDG: "S_DAG", X: "X", Y: "Y", Z: "Z", CNOT: "CX", CZ: "CZ", SWAP: "SWAP",
              MEASURE: "M"}



def to_stim(ops):
    circuit = stim.Circuit()
    for code, a, b in ops:
        circuit.append(STIM_NAMES[code], [a, b] if code in (CNOT, CZ, SWAP) else [a])
    return circuit


def flatten(ops):
    return [v for op in ops for v in op]


def surface_code_memory(distance=5, rounds=5):
    """Rotated surface-code Z memory: data on a d x d grid, one ancilla per
    stabilizer, H / CNOT / measurement only (ancillas are measured again
    without reset, so later rounds report running parities)."""
    data = {(x, y): y * distance + x for x in range(distance) for y in range(distance)}
    stabs = []  # (kind, data qubits)
    for i in range(-1, distance):
        for j in range(-1, distance):
            qs = [data[p] for p in ((i, j), (i + 1, j), (i, j + 1), (i + 1, j + 1)) if p in data]
            kind = "X" if (i + j) % 2 == 0 else "Z"
            if len(qs) == 4 or (len(qs) == 2 and ((kind == "X" and j in (-1, distance - 1))
                                                 or (kind == "Z" and i in (-1, distance - 1)))):
                stabs.append((kind, qs))
    ancilla = {k: distance * distance + k for k in range(len(stabs))}
    ops = []
    for _ in range(rounds):
        for k, (kind, qs) in enumerate(stabs):
            if kind == "X":
                ops.append((H, ancilla[k], 0))
        for k, (kind, qs) in enumerate(stabs):
            for q in qs:
                ops.append((CNOT, ancilla[k], q) if kind == "X" else (CNOT, q, ancilla[k]))
        for k, (kind, qs) in enumerate(stabs):
            if kind == "X":
                ops.append((H, ancilla[k], 0))
        ops.extend((MEASURE, ancilla[k], 0) for k in range(len(stabs)))
    ops.extend((MEASURE, q, 0) for q in range(distance * distance))
    return ops, distance * distance + len(stabs)


def random_clifford(rng, n, gates, measurements):
    ops = []
    for _ in range(gates):
        code = rng.choice([H, S, SDG, X, Y, Z, CNOT, CNOT, CZ, SWAP])
        a = rng.randrange(n)
        b = rng.randrange(n - 1)
        b += b >= a
        ops.append((code, a, b if code in (CNOT, CZ, SWAP) else 0))
    for _ in range(measurements):
        ops.insert(rng.randrange(len(ops) + 1), (MEASURE, rng.randrange(n), 0))
    return ops


def report(name, ours, floor, peer, peer_name):
    line = f"{name:<46} ours {ours * 1e3:9.2f} ms  floor {floor * 1e3:8.2f} ms  ours/floor {ours / floor:5.2f}"
    if peer is not None:
        line += f"  ours/{peer_name} {ours / peer:5.2f}"
    print(line, flush=True)


def bench_run(name, ops, n, reps, repeats):
    instructions = flatten(ops)
    m = sum(1 for op in ops if op[0] == MEASURE)
    fns = [lambda: nn.clifford_run(instructions, n, [], reps, 12345), lambda: list(bytes(reps * m))]
    if stim is not None:
        sampler = to_stim(ops).compile_sampler(seed=1)
        fns.append(lambda: sampler.sample(reps))
    ours, floor, *peer = best_times(fns, repeats)
    peer = peer[0] if peer else None
    report(f"{name} ({n} q, {m} meas, {reps} reps)", ours, floor, peer, "stim")


def bench_tableau(rng, n, gates, repeats):
    ops = [op for op in random_clifford(rng, n, gates, 0)]
    instructions = flatten(ops)
    fns = [lambda: nn.clifford_tableau(instructions, n), lambda: list(bytes((2 * n + 1) ** 2))]
    if stim is not None:
        circuit = to_stim(ops)
        fns.append(lambda: stim.Tableau.from_circuit(circuit))
    ours, floor, *peer = best_times(fns, repeats)
    peer = peer[0] if peer else None
    report(f"clifford_tableau ({n} q, {gates} gates)", ours, floor, peer, "stim.Tableau")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeats", type=int, default=9)
    args = parser.parse_args()
    rng = random.Random(2024)
    ops, n = surface_code_memory()
    bench_run("clifford_run surface code d=5", ops, n, 100_000, args.repeats)
    bench_run("clifford_run random Clifford", random_clifford(rng, 200, 2000, 200), 200, 10_000, args.repeats)
    bench_tableau(rng, 500, 10_000, args.repeats)


if __name__ == "__main__":
    main()
