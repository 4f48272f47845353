"""Channel kernels of NativeDensity at n = 11 (a 64 MiB matrix).

Every case is measured in this run against two baselines:
  * memory: numpy's in-place `a *= 1.0000001` over the same 64 MiB, i.e. one
    read and one write of every float;
  * qulacs: DensityMatrix with the same Kraus operators as a CPTP gate,
    single-threaded.
Prints best-of-repeats times and the ratios ours / baseline.

    PYTHONPATH=build python benchmarks/density.py [--repeats R] [--qubits N]
"""

import argparse
import os

os.environ["OMP_NUM_THREADS"] = "1"  # before qulacs loads its OpenMP runtime

import time

import numpy as np

import nimbic_native as nn

try:
    import qulacs
    from qulacs.gate import CPTP, DenseMatrix
except ImportError:  # the memory baseline still runs
    qulacs = None

I2 = np.eye(2)
X = np.array([[0, 1], [1, 0]], dtype=complex)
Y = np.array([[0, -1j], [1j, 0]])
Z = np.diag([1.0, -1.0]).astype(complex)


def amplitude_damping(gamma):
    return [np.array([[1, 0], [0, np.sqrt(1 - gamma)]], dtype=complex),
            np.array([[0, np.sqrt(gamma)], [0, 0]], dtype=complex)]


def dephasing(p):
    return [np.sqrt(1 - p) * I2.astype(complex), np.sqrt(p) * Z]


def two_qubit_dephasing(p):
    paulis = [I2, Z]
    weights = [1 - 3 * p / 4] + [p / 4] * 3
    return [np.sqrt(w) * np.kron(a, b).astype(complex)
            for w, (a, b) in zip(weights, [(a, b) for a in paulis for b in paulis])]


def two_qubit_depolarizing(p):
    paulis = [I2, X, Y, Z]
    ops = []
    for i, a in enumerate(paulis):
        for j, b in enumerate(paulis):
            w = 1 - 15 * p / 16 if i == j == 0 else p / 16
            ops.append(np.sqrt(w) * np.kron(a, b).astype(complex))
    return ops


def flat(ops):
    return np.concatenate([np.ascontiguousarray(k, dtype=complex).view(np.float64).ravel()
                           for k in ops]).tolist()


def best_time(run, prepare, repeats):
    best = float("inf")
    for _ in range(repeats):
        prepare()
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--qubits", type=int, default=11)
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--qulacs-repeats", type=int, default=2)
    args = parser.parse_args()
    n = args.qubits
    dim = 2 ** n
    rng = np.random.default_rng(7)

    # A valid random density matrix, restored before every timed call so that
    # repeated channels never drive entries towards subnormal numbers.
    a = rng.normal(size=(dim, 64)) + 1j * rng.normal(size=(dim, 64))
    start_rho = a @ a.conj().T
    start_rho /= np.trace(start_rho).real

    rho = nn.NativeDensity(n)
    view = np.frombuffer(rho, dtype=np.complex128).reshape(dim, dim)

    def restore():
        view[:] = start_rho

    scratch = np.ascontiguousarray(start_rho).view(np.float64).ravel().copy()
    memory = best_time(lambda: scratch.__imul__(1.0000001), lambda: None, args.repeats)

    mid, lo = n // 2, n // 4
    cases = [
        # name, operators, targets, memory target, qulacs target
        ("amplitude damping, 1 qubit (single-qubit kernel)", amplitude_damping(0.1), [mid], 3.0, 1.0),
        ("amplitude damping on qubit 0", amplitude_damping(0.1), [0], None, None),
        ("amplitude damping on qubit n-1", amplitude_damping(0.1), [n - 1], None, None),
        ("dephasing, 1 qubit (single-qubit kernel)", dephasing(0.1), [mid], None, 1.0),
        ("dephasing, 2 qubits (diagonal kernel, d=4)", two_qubit_dephasing(0.1), [lo, mid], 1.5, None),
        ("X, 1 qubit (permutation kernel)", [X], [mid], 2.5, None),
        ("X on qubit n-1", [X], [n - 1], None, None),
        ("depolarizing, 2 qubits (general kernel, 16 ops)", two_qubit_depolarizing(0.1), [lo, mid], None, 1.0),
    ]

    qrho = None
    if qulacs is not None:
        qrho = qulacs.DensityMatrix(n)
        qrho.load(start_rho)

    print(f"n = {n}: {2 * dim * dim} floats ({16 * dim * dim / 2**20:.0f} MiB), best of {args.repeats}")
    print(f"memory baseline (numpy a *= 1.0000001): {memory * 1e3:8.2f} ms")
    print()
    header = f"{'case':52s} {'ours ms':>8s} {'/memory':>8s} {'qulacs ms':>10s} {'/qulacs':>8s}  targets"
    print(header)
    print("-" * len(header))
    for name, ops, targets, mem_target, q_target in cases:
        floats = flat(ops)
        count = len(ops)
        ours = best_time(lambda: rho.apply_channel(floats, count, targets), restore, args.repeats)
        line = f"{name:52s} {ours * 1e3:8.2f} {ours / memory:8.2f}"
        if qrho is not None and q_target is not None:
            # qulacs numbers qubits from the least significant bit, and the
            # first target of its gate is the least significant operator bit.
            qtargets = [n - 1 - t for t in reversed(targets)]
            gate = CPTP([DenseMatrix(qtargets, k) for k in ops])
            theirs = best_time(lambda: gate.update_quantum_state(qrho), lambda: qrho.load(start_rho),
                               args.qulacs_repeats)
            line += f" {theirs * 1e3:10.2f} {ours / theirs:8.3f}"
        else:
            line += f" {'':10s} {'':8s}"
        goals = []
        if mem_target is not None:
            goals.append(f"memory <= {mem_target}x: {'met' if ours / memory <= mem_target else 'MISSED'}")
        if q_target is not None and qrho is not None:
            goals.append(f"qulacs <= 1x: {'met' if ours <= theirs else 'MISSED'}")
        print(line + "  " + "; ".join(goals))


if __name__ == "__main__":
    main()
