"""State-vector kernels against a memory-bandwidth baseline and against qulacs.

Run: python benchmarks/statevector.py [num_qubits]   (default 24; needs numpy and qulacs)

Every ratio compares two timings taken in this run. The rounds interleave the
baseline and all cases, and each timing is the best of its rounds, so a busy
machine slows both sides alike. Baselines:
- bandwidth: numpy's in-place `a *= 1.0000001` over a float64 array of the
  state's byte size (one read and one write of every byte);
- qulacs: the same dense gate through `update_quantum_state`, single thread;
- call overhead: qulacs's per-gate call on a 2-qubit state, and
  `array.array('d', lst).tolist()` for the list round trip of `apply_gate`.
"""
import array
import os
import random
import sys
import time

os.environ["OMP_NUM_THREADS"] = "1"  # qulacs on one thread; set before importing it

import numpy  # noqa: E402
from qulacs import QuantumState  # noqa: E402
from qulacs.gate import H as QH, DenseMatrix  # noqa: E402

import nimbic_native as nn  # noqa: E402

N = int(sys.argv[1]) if len(sys.argv) > 1 else 24
ROUNDS = 7
rng = numpy.random.default_rng(7)


def unitary(k):
    d = 1 << k
    q, _ = numpy.linalg.qr(rng.normal(size=(d, d)) + 1j * rng.normal(size=(d, d)))
    return q


def flat(m):
    return list(numpy.ascontiguousarray(m, dtype=complex).view(float).ravel())


def timed(fn):
    t0 = time.perf_counter()
    fn()
    return time.perf_counter() - t0


def best_of_rounds(cases):
    """cases: name -> callable; returns name -> best time over interleaved rounds."""
    best = {name: float("inf") for name in cases}
    for _ in range(ROUNDS):
        for name, fn in cases.items():
            best[name] = min(best[name], timed(fn))
    return best


def qulacs_dense(targets, m):
    # Our first target is the most significant bit of the gate index and qubit
    # q is bit n-1-q; qulacs lists targets from the least significant bit.
    return DenseMatrix([N - 1 - t for t in reversed(targets)], m)


def report(title, rows):
    print(title)
    failed = 0
    for label, ratio, limit in rows:
        ok = ratio <= limit
        failed += not ok
        print(f"  {label:<46} {ratio:6.2f}x   (limit {limit:.1f}x) {'ok' if ok else 'OVER'}")
    return failed


def main():
    state = nn.NativeState(N)
    state.reset()
    # Start from a dense state: every amplitude non-zero.
    for q in range(N):
        state.apply_gate(flat(unitary(1)), [q])
    band = numpy.ones(2 << N)
    qstate = QuantumState(N)
    qstate.set_Haar_random_state(1)

    g1, g2, g3 = unitary(1), unitary(2), unitary(3)
    cnot = flat(numpy.eye(4)[[0, 1, 3, 2]])
    one_q = [[0], [N // 2], [N - 1]]
    two_q = [[N // 2 - 1, N // 2], [0, 1], [N - 2, N - 1]]
    three_q = [[4, N // 2 - 1, N - 5], [N - 3, N - 2, N - 1]]

    cases = {"bandwidth": lambda: band.__imul__(1.0000001)}
    ours = {}
    for t in one_q:
        ours[f"dense 1-qubit gate on {t}"] = (lambda t=t: state.apply_gate(flat(g1), t), 1.3)
    for t in two_q:
        ours[f"dense 2-qubit gate on {t}"] = (lambda t=t: state.apply_gate(flat(g2), t), 1.6)
    ours[f"CNOT on [3, 17] (signed permutation)"] = (lambda: state.apply_gate(cnot, [3, 17]), 1.6)
    for t in three_q:
        ours[f"dense 3-qubit gate on {t}"] = (lambda t=t: state.apply_gate(flat(g3), t), 4.0)
    for t in ([0], [N // 2], [N - 1]):
        ours[f"measure {t}"] = (lambda t=t: state.measure(t, random.random()), 3.0)
    peers = {}
    for t in one_q:
        peers[f"dense 1-qubit gate on {t}"] = qulacs_dense(t, g1)
    for t in two_q:
        peers[f"dense 2-qubit gate on {t}"] = qulacs_dense(t, g2)
    for name, gate in peers.items():
        cases["qulacs " + name] = lambda gate=gate: gate.update_quantum_state(qstate)
    for name, (fn, _) in ours.items():
        cases[name] = fn
    best = best_of_rounds(cases)

    failed = report(f"n = {N}: time / numpy in-place multiply ({best['bandwidth'] * 1e3:.1f} ms)",
                    [(name, best[name] / best["bandwidth"], limit) for name, (_, limit) in ours.items()])
    failed += report(f"n = {N}: time / qulacs (single thread)",
                     [(name, best[name] / best["qulacs " + name], 1.0) for name in peers])

    # Call overhead.
    h = flat(numpy.array([[1, 1], [1, -1]]) / numpy.sqrt(2))
    small = nn.NativeState(2)
    small.reset()
    qsmall = QuantumState(2)
    qh = QH(0)
    calls = 100_000
    apply_small, update, targets = small.apply_gate, qh.update_quantum_state, [0]

    def ours_loop():
        for _ in range(calls):
            apply_small(h, targets)

    def qulacs_loop():
        for _ in range(calls):
            update(qsmall)

    lst = [random.random() for _ in range(2 << 16)]
    overhead = best_of_rounds({
        "ours": ours_loop, "qulacs": qulacs_loop,
        "list": lambda: nn.apply_gate(lst, h, 16, [5]),
        "array": lambda: array.array("d", lst).tolist(),
    })
    failed += report("call overhead", [
        (f"NativeState(2).apply_gate / qulacs gate ({overhead['ours'] / calls * 1e9:.0f} ns)",
         overhead["ours"] / overhead["qulacs"], 1.0),
        ("apply_gate on a list, n = 16 / array round trip", overhead["list"] / overhead["array"], 1.3),
    ])
    print("all within limits" if failed == 0 else f"{failed} over the limit")


if __name__ == "__main__":
    main()
