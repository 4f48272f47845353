"""Density-matrix kernels at n = 11 and 12 (as many entries as state vectors
of 22 and 24 qubits: 64 and 256 MiB), on one thread and on all cores.

Each size is timed by child processes that take turns: one pinned to a single
CPU (as `taskset -c <cpu>` does; the kernels split their work over the CPUs
the process may use, so that child runs them on one thread) and one free to
use every core. Each child reports the best of --repeats calls per case; the
table shows the best over --rounds children per leg, the speedup and whether
two threads are at least 1.5x faster than one.

Every child also times, in the same run, two baselines:
  * memory: numpy's in-place `a *= 1.0000001` over a matrix of the same size,
    i.e. one read and one write of every float (numpy uses one thread);
  * qulacs (n = 11 only): DensityMatrix with the same Kraus operators as a
    CPTP gate, on one OpenMP thread in the one-thread leg and on all cores in
    the other.

    PYTHONPATH=build python benchmarks/density.py [--qubits 11 12] [--rounds R] [--repeats R]
"""

import argparse
import json
import os
import subprocess
import sys
import time

SPEEDUP_TARGET = 1.5
MEMORY = "memory baseline (numpy a *= 1.0000001)"
PEER = "qulacs: "


# ---------------------------------------------------------------- child side

def worker(args):
    if args.one_thread:
        os.environ["OMP_NUM_THREADS"] = "1"  # before qulacs loads its OpenMP runtime
    import numpy as np

    import nimbic_native as nn
    try:
        import qulacs
        from qulacs.gate import CPTP, DenseMatrix
    except ImportError:  # the memory baseline still runs
        qulacs = None

    n, repeats = args.qubits, args.repeats
    dim = 2 ** n
    rng = np.random.default_rng(7)
    i2 = np.eye(2, dtype=complex)
    x = np.array([[0, 1], [1, 0]], dtype=complex)
    y = np.array([[0, -1j], [1j, 0]])
    z = np.diag([1.0, -1.0]).astype(complex)
    paulis = [i2, x, y, z]

    def flat(ops):
        return np.concatenate([np.ascontiguousarray(k, dtype=complex).view(np.float64).ravel()
                               for k in ops]).tolist()

    damping = [np.array([[1, 0], [0, np.sqrt(0.9)]], dtype=complex),
               np.array([[0, np.sqrt(0.1)], [0, 0]], dtype=complex)]
    dephasing = [np.sqrt(0.9) * i2, np.sqrt(0.1) * z]
    dephasing_2q = [np.sqrt(w) * np.kron(a, b) for w, (a, b) in
                    zip([0.925, 0.025, 0.025, 0.025], [(a, b) for a in (i2, z) for b in (i2, z)])]
    depolarizing_2q = [np.sqrt(1 - 15 * 0.1 / 16 if i == j == 0 else 0.1 / 16) * np.kron(a, b)
                       for i, a in enumerate(paulis) for j, b in enumerate(paulis)]
    cnot = np.eye(4)[[0, 1, 3, 2]].astype(complex)
    phases_7q = [np.diag(np.exp(1j * rng.normal(size=128)))]
    unitary_3q = [np.linalg.qr(rng.normal(size=(8, 8)) + 1j * rng.normal(size=(8, 8)))[0]]

    # A valid random density matrix, restored before every timed call so that
    # repeated channels never drive entries towards subnormal numbers.
    a = rng.normal(size=(dim, 8)) + 1j * rng.normal(size=(dim, 8))
    start_rho = a @ a.conj().T
    start_rho /= np.trace(start_rho).real
    psi = rng.normal(size=2 * dim)
    psi = (psi / np.linalg.norm(psi)).tolist()

    rho = nn.NativeDensity(n)
    view = np.frombuffer(rho, dtype=np.complex128).reshape(dim, dim)

    def restore():
        view[:] = start_rho

    def best(run, prepare=restore, count=repeats):
        """The fastest call: its wall time and the CPU time all threads spent in it."""
        calls = []
        for _ in range(count):
            prepare()
            c0, t0 = time.process_time(), time.perf_counter()
            run()
            calls.append((time.perf_counter() - t0, time.process_time() - c0))
        return min(calls)

    mid, lo = n // 2, n // 4
    # name: (operators, targets, one-thread goal against memory, against qulacs)
    channels = {
        f"amplitude damping on qubit {mid} (single-qubit map)": (damping, [mid], 3.0, 1.0),
        f"amplitude damping on qubit {n - 1} (single-qubit map)": (damping, [n - 1], None, None),
        f"dephasing on qubit {mid} (single-qubit map)": (dephasing, [mid], None, 1.0),
        f"2-qubit dephasing on {lo},{mid} (diagonal rows)": (dephasing_2q, [lo, mid], 1.5, None),
        "7-qubit phases (diagonal blocks)": (phases_7q, list(range(n - 7, n)), None, None),
        f"X on qubit {mid} (permutation)": ([x], [mid], 2.5, None),
        f"CNOT on {lo},{mid} (permutation)": ([cnot], [lo, mid], None, None),
        f"2-qubit depolarizing on {lo},{mid} (general map, 16 ops)": (depolarizing_2q, [lo, mid], None, 1.0),
        f"3-qubit unitary on {lo},{mid},{n - 1} (operators one at a time)": (unitary_3q, [lo, mid, n - 1], None,
                                                                             None),
    }
    out = {"times": {}, "kinds": {}, "goals": {}}

    def record(name, kind, call):
        out["times"][name], out["kinds"][name] = call, kind

    scratch = np.ascontiguousarray(start_rho).view(np.float64).ravel().copy()
    record(MEMORY, "baseline", best(lambda: scratch.__imul__(1.0000001), lambda: None))
    for name, (ops, targets, memory_goal, qulacs_goal) in channels.items():
        floats, count = flat(ops), len(ops)
        record(name, "split", best(lambda: rho.apply_channel(floats, count, targets)))
        out["goals"][name] = [memory_goal, qulacs_goal]
    record(f"measure qubit {mid} (probabilities, collapse in place)", "split", best(lambda: rho.measure([mid], 0.3)))
    record(f"probabilities of qubit {mid}", "2^n diagonal reads, not split", best(lambda: rho.probabilities([mid])))
    record("set_from_amplitudes (|psi><psi|)", "split", best(lambda: rho.set_from_amplitudes(psi), lambda: None))
    record("reset", "split", best(rho.reset, lambda: None))
    if args.module_functions:
        # Module functions convert lists of every float in and out; those
        # conversions run on one thread and dominate.
        rho_list = np.ascontiguousarray(start_rho).view(np.float64).ravel().tolist()
        record("state_to_density (list result)", "list conversion bound",
               best(lambda: nn.state_to_density(psi), lambda: None, 2))
        record(f"density_collapse on qubit {mid} (lists in and out)", "list conversion bound",
               best(lambda: nn.density_collapse(rho_list, [mid], 0, n), lambda: None, 2))
        del rho_list
        sub = 512
        u = flat([np.linalg.qr(rng.normal(size=(sub, sub)) + 1j * rng.normal(size=(sub, sub)))[0]])
        a_sub = np.ascontiguousarray(start_rho[:sub, :sub]).view(np.float64).ravel().tolist()
        record(f"sandwich, dim {sub} (d^3 work)", "split", best(lambda: nn.sandwich(a_sub, u, sub), lambda: None, 2))
    if args.peers and qulacs is not None:
        qrho = qulacs.DensityMatrix(n)
        for name, (ops, targets, _, qulacs_goal) in channels.items():
            if qulacs_goal is None:
                continue
            # qulacs numbers qubits from the least significant bit, and the
            # first target of its gate is the least significant operator bit.
            gate = CPTP([DenseMatrix([n - 1 - t for t in reversed(targets)], k) for k in ops])
            record(PEER + name, "peer", best(lambda: gate.update_quantum_state(qrho), lambda: qrho.load(start_rho), 1))
    print(json.dumps(out))


# ---------------------------------------------------------------- parent side

def run_child(args, n, one_thread, cpu):
    command = [sys.executable, os.path.abspath(__file__), "--worker", "--qubits", str(n),
               "--repeats", str(args.repeats)]
    if one_thread:
        command.append("--one-thread")
    if n == min(args.qubits):
        command.append("--module-functions")
        if not args.no_peers:
            command.append("--peers")
    pin = (lambda: os.sched_setaffinity(0, {cpu})) if one_thread else None
    done = subprocess.run(command, stdout=subprocess.PIPE, text=True, preexec_fn=pin)
    if done.returncode != 0:
        raise SystemExit(f"the timing process failed with exit status {done.returncode}")
    return json.loads(done.stdout.strip().splitlines()[-1])


def report(n, one_calls, every_calls, info, cores):
    one = {name: call[0] for name, call in one_calls.items()}
    every = {name: call[0] for name, call in every_calls.items()}
    print(f"n = {n}: {2 * 4 ** n} floats ({16 * 4 ** n / 2 ** 20:.0f} MiB), "
          f"as many entries as a {2 * n}-qubit state vector")
    target = f"{cores} threads >= {SPEEDUP_TARGET}x"
    header = (f"{'case':66s} {'1 thread ms':>11s} {f'{cores} cores ms':>11s} {'speedup':>8s} {'cpu/wall':>8s}"
              f"  {target}")
    print(header)
    print("-" * len(header))
    for name, kind in info["kinds"].items():
        if kind == "peer":
            continue
        speedup = one[name] / every[name]
        busy = every_calls[name][1] / every[name]
        if kind != "split":
            verdict = f"({kind})"
        elif cores < 2:
            verdict = "(one core only)"
        else:
            verdict = "met" if speedup >= SPEEDUP_TARGET else "MISSED"
        print(f"{name:66s} {one[name] * 1e3:11.2f} {every[name] * 1e3:11.2f} {speedup:8.2f} {busy:8.2f}  {verdict}")
    print(f"cpu/wall: CPU time of all threads over wall time in the fastest all-core call; near 1 when the "
          f"other cores were taken by other processes")
    print()
    print(f"{'ratio to the baselines':66s} {'1 thread':>11s} {f'{cores} cores':>11s}  one-thread goal")
    for name, (memory_goal, qulacs_goal) in info["goals"].items():
        line = f"{'ours / memory: ' + name:66s} {one[name] / one[MEMORY]:11.2f} {every[name] / every[MEMORY]:11.2f}"
        if memory_goal is not None:
            line += f"  <= {memory_goal}: {'met' if one[name] / one[MEMORY] <= memory_goal else 'MISSED'}"
        print(line)
    for name, (_, qulacs_goal) in info["goals"].items():
        if PEER + name in one:
            mine, theirs = (one[name], every[name]), (one[PEER + name], every[PEER + name])
            print(f"{'ours / qulacs: ' + name:66s} {mine[0] / theirs[0]:11.3f} {mine[1] / theirs[1]:11.3f}"
                  f"  <= {qulacs_goal}: {'met' if mine[0] / theirs[0] <= qulacs_goal else 'MISSED'}"
                  f" (qulacs {theirs[0] * 1e3:.0f} / {theirs[1] * 1e3:.0f} ms)")
    print()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--qubits", type=int, nargs="+", default=[11, 12])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--no-peers", action="store_true")
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--one-thread", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--module-functions", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--peers", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        args.qubits = args.qubits[0]
        worker(args)
        return

    allowed = os.sched_getaffinity(0)
    cpu, cores = min(allowed), len(allowed)
    print(f"one thread: a child pinned to CPU {cpu}; all cores: a child free to use the {cores} CPUs of this "
          f"process; {args.rounds} rounds taking turns, each child the best of {args.repeats} calls")
    print()
    for n in args.qubits:
        best, info = {True: {}, False: {}}, None
        for r in range(args.rounds):
            for one_thread in ((True, False) if r % 2 == 0 else (False, True)):
                info = run_child(args, n, one_thread, cpu)
                for name, call in info["times"].items():
                    best[one_thread][name] = min(tuple(call), best[one_thread].get(name, (float("inf"), 0.0)))
        report(n, best[True], best[False], info, cores)


if __name__ == "__main__":
    main()
