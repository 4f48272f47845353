"""Structured gates and whole circuits against qulacs and qiskit-aer, at one
thread and on all cores.

Run: python benchmarks/circuits.py [--qubits 20 22 24 26] [--rounds 3] [--json FILE]

Needs numpy, qulacs and qiskit-aer. Each leg runs in its own child process:
- one thread: the child is pinned to one CPU (this module splits its kernels
  over the CPUs the process may use, so it then runs on one thread), qulacs
  gets OMP_NUM_THREADS=1 and qiskit-aer max_parallel_threads=1;
- all cores: no pinning, qulacs and qiskit-aer on their defaults.

Within a leg every timing is the best of several rounds, and each round takes
turns over all cases and simulators, so load from other processes falls on
all of them alike. The one-thread leg times CPU time; the all-cores leg times
wall-clock time and pauses briefly before each case, so that threads a peer
left spinning (OpenMP waits actively after a parallel region) have gone to
sleep. Printed ratios are our time over theirs (below 1: faster).

- Per gate: H, X, RZ on the lowest, middle and highest bit; CNOT (both
  control orders), CZ, controlled phase and SWAP on the two lowest, two
  middle and two highest bits and on the first and last qubit; Toffoli on
  three lowest, middle and highest bits. Ours: NativeState.apply_gate with the
  gate's matrix. qulacs: its specialised gate object (H, X, RZ, CNOT, CZ,
  SWAP, TOFFOLI; controlled phase as a DenseMatrix with a control qubit).
  qiskit-aer: the gate repeated in one circuit, fusion off (the difference of
  runs of 3r and r copies, so set-up is not counted).
- Whole circuits: QFT (h, cp, swap), a quantum-volume circuit (random
  two-qubit unitaries on random pairs) and a random Clifford+T circuit. Ours:
  one apply_gate call from Python per gate. qulacs: the specialised gates as
  one circuit, and the same circuit after its optimizer (the better of
  optimize_light and optimize with blocks of two qubits; optimising is not
  timed). qiskit-aer: fusion on, minus an empty circuit's run.
- Dense gates at one thread: a random 1- and 2-qubit unitary against numpy's
  in-place multiply of the same array (one read and one write of the state);
  the target holds from 22 qubits, where the state no longer fits in the
  cache (in the cache a gate's arithmetic, not memory, sets its pace).
- Two threads against one: each of our split kernels at n = 22 and 24, the
  process's CPU affinity switched between one CPU and all of them from
  round to round. Kernels that only stream the state cannot scale past the
  machine's memory bandwidth; `reset`, a plain fill, shows what it allows.

Ends with each target and whether it is met.
"""
import argparse
import json
import math
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TARGETS = {
    "gate": 1.0,  # ours / qulacs specialised, per gate and position, n = 22, 24, 26
    "circuit": 0.8,  # ours / best peer, n = 22, 24
    "dense": 1.2,  # ours / numpy in-place multiply, one thread
    "threads": 1.5,  # one thread / two threads, n = 22, 24
}


# ------------------------------------------------------------------ gates

def matrices(numpy):
    rt = 1 / math.sqrt(2)
    phase = numpy.exp(0.3j)
    return {
        "H": numpy.array([[rt, rt], [rt, -rt]], dtype=complex),
        "X": numpy.array([[0, 1], [1, 0]], dtype=complex),
        "RZ": numpy.diag([numpy.exp(-0.35j), numpy.exp(0.35j)]),
        "S": numpy.diag([1, 1j]),
        "T": numpy.diag([1, numpy.exp(0.25j * math.pi)]),
        "CNOT": numpy.eye(4, dtype=complex)[[0, 1, 3, 2]],
        "CZ": numpy.diag([1, 1, 1, -1]).astype(complex),
        "CP": numpy.diag([1, 1, 1, phase]),
        "SWAP": numpy.eye(4, dtype=complex)[[0, 2, 1, 3]],
        "TOFFOLI": numpy.eye(8, dtype=complex)[[0, 1, 2, 3, 4, 5, 7, 6]],
    }


def gate_cases(n):
    """(label, gate name, our qubits); the first qubit is the matrix's most
    significant bit (the control of CNOT, CP and Toffoli)."""
    cases = []
    ones = {"lowest": n - 1, "middle": n // 2, "highest": 0}
    for name in ("H", "X", "RZ"):
        cases += [(f"{name} {pos}", name, [q]) for pos, q in ones.items()]
    pairs = {"lowest": (n - 2, n - 1), "middle": (n // 2 - 1, n // 2), "highest": (0, 1), "first+last": (0, n - 1)}
    for pos, (a, b) in pairs.items():
        cases += [(f"CNOT {pos} c<t", "CNOT", [a, b]), (f"CNOT {pos} c>t", "CNOT", [b, a])]
        cases += [(f"{name} {pos}", name, [a, b]) for name in ("CZ", "CP", "SWAP")]
    triples = {"lowest": (n - 3, n - 2, n - 1), "middle": (n // 2 - 1, n // 2, n // 2 + 1), "highest": (0, 1, 2)}
    cases += [(f"TOFFOLI {pos}", "TOFFOLI", list(t)) for pos, t in triples.items()]
    return cases


def flat(numpy, m):
    return list(numpy.ascontiguousarray(m, dtype=complex).view(float).ravel())


def qulacs_gate(n, name, qubits, m):
    """qulacs's own gate object. Its qubit j is bit j of the index: our qubit
    q is its n-1-q; its first matrix target is the least significant bit."""
    import qulacs.gate as qg
    q = [n - 1 - t for t in qubits]
    if name in ("H", "X", "S", "T"):
        return getattr(qg, name)(q[0])
    if name == "RZ":
        return qg.RZ(q[0], -0.7)  # qulacs's RZ(a) is diag(e^{ia/2}, e^{-ia/2})
    if name == "CNOT":
        return qg.CNOT(q[0], q[1])
    if name == "CZ":
        return qg.CZ(q[0], q[1])
    if name == "SWAP":
        return qg.SWAP(q[0], q[1])
    if name == "TOFFOLI":
        return qg.TOFFOLI(q[0], q[1], q[2])
    if name == "CP":
        gate = qg.DenseMatrix(q[1], m[2:, 2:])
        gate.add_control_qubit(q[0], 1)
        return gate
    return qg.DenseMatrix(list(reversed(q)), m)


def aer_append(qc, n, name, qubits, m):
    q = [n - 1 - t for t in qubits]
    if name in ("H", "X", "S", "T"):
        getattr(qc, name.lower())(q[0])
    elif name == "RZ":
        qc.rz(0.7, q[0])
    elif name == "CNOT":
        qc.cx(q[0], q[1])
    elif name == "CZ":
        qc.cz(q[0], q[1])
    elif name == "CP":
        qc.cp(0.3, q[0], q[1])
    elif name == "SWAP":
        qc.swap(q[0], q[1])
    elif name == "TOFFOLI":
        qc.ccx(q[0], q[1], q[2])
    else:
        qc.unitary(m, list(reversed(q)))


# --------------------------------------------------------------- circuits

def qft(n):
    ops = []
    for j in range(n):
        ops.append(("H", [j], None))
        for k in range(j + 1, n):
            ops.append(("CP", [k, j], math.pi / 2 ** (k - j)))
    ops += [("SWAP", [j, n - 1 - j], None) for j in range(n // 2)]
    return ops


def quantum_volume(n, depth, numpy):
    rng = numpy.random.default_rng(n)
    ops = []
    for _ in range(depth):
        perm = rng.permutation(n)
        for i in range(0, n - 1, 2):
            z = rng.normal(size=(4, 4)) + 1j * rng.normal(size=(4, 4))
            q, r = numpy.linalg.qr(z)
            ops.append(("U4", [int(perm[i]), int(perm[i + 1])], q * (r.diagonal() / abs(r.diagonal()))))
    return ops


def clifford_t(n, count, numpy):
    rng = numpy.random.default_rng(1000 + n)
    ops = []
    for _ in range(count):
        kind = ["H", "S", "T", "CNOT"][int(rng.integers(4))]
        qubits = [int(q) for q in rng.choice(n, size=2 if kind == "CNOT" else 1, replace=False)]
        ops.append((kind, qubits, None))
    return ops


def op_matrix(numpy, mats, name, param):
    if name == "CP":
        return numpy.diag([1, 1, 1, numpy.exp(1j * param)])
    if name == "U4":
        return param
    return mats[name]


def qulacs_circuit(n, ops, numpy, mats):
    from qulacs import QuantumCircuit
    circuit = QuantumCircuit(n)
    for name, qubits, param in ops:
        circuit.add_gate(qulacs_gate(n, name, qubits, op_matrix(numpy, mats, name, param)))
    return circuit


def aer_circuit(n, ops, numpy, mats, measure=True):
    from qiskit import QuantumCircuit
    qc = QuantumCircuit(n, 1)
    for name, qubits, param in ops:
        if name == "CP":
            q = [n - 1 - t for t in qubits]
            qc.cp(param, q[0], q[1])
        else:
            aer_append(qc, n, name, qubits, op_matrix(numpy, mats, name, param))
    if measure:
        qc.measure(0, 0)  # without a measurement qiskit-aer skips the simulation
    return qc


# ----------------------------------------------------------------- timing

# The one-thread leg times CPU time (time.process_time): every simulator then
# runs on one thread, and time lost to other processes' use of the CPU is not
# counted. The all-cores leg times wall-clock time, after a pause.
CLOCK = [time.perf_counter]
PAUSE = [0.0]


def timed(fn):
    clock = CLOCK[0]
    t0 = clock()
    fn()
    return clock() - t0


def best_of(rounds, cases, before=None):
    """cases: name -> callable. Rounds take turns over the cases; each case's
    best round counts. `before(name)` runs untimed before each case."""
    best = {name: float("inf") for name in cases}
    for _ in range(rounds):
        for name, fn in cases.items():
            if before:
                before(name)
            if PAUSE[0]:
                time.sleep(PAUSE[0])
            best[name] = min(best[name], timed(fn))
    return best


def simulator(threads, fusion):
    from qiskit_aer import AerSimulator
    return AerSimulator(method="statevector", precision="double", max_parallel_threads=threads,
                        max_parallel_experiments=1, max_parallel_shots=1, fusion_enable=fusion,
                        enable_truncation=False)


def dense_state(nn, n, numpy):
    state = nn.NativeState(n)
    view = numpy.frombuffer(state, dtype=float)
    view[:] = numpy.random.default_rng(n).normal(size=view.size)
    view /= math.sqrt(float(view @ view))
    return state, view


def per_gate(n, rounds, aer_threads, numpy, nn):
    from qulacs import QuantumState
    mats = matrices(numpy)
    repeat = max(1, 2 ** (22 - n))
    state, _ = dense_state(nn, n, numpy)
    qstate = QuantumState(n)
    qstate.set_Haar_random_state(n)
    aer = simulator(aer_threads, False)
    cases, labels = {}, []
    for label, name, qubits in gate_cases(n):
        labels.append(label)
        gate = flat(numpy, mats[name])
        apply = state.apply_gate

        def ours(gate=gate, qubits=qubits):
            for _ in range(repeat):
                apply(gate, qubits)
        cases[("ours", label)] = ours
        update = qulacs_gate(n, name, qubits, mats[name]).update_quantum_state

        def theirs(update=update):
            for _ in range(repeat):
                update(qstate)
        cases[("qulacs", label)] = theirs
        for times in (1, 3):
            qc = aer_circuit(n, [(name, qubits, 0.3 if name == "CP" else None)] * (times * repeat), numpy, mats)
            cases[(f"aer x{times}", label)] = lambda qc=qc: aer.run(qc, shots=1).result()
    best = best_of(rounds, cases)
    rows = []
    for label in labels:
        ours = best[("ours", label)] / repeat
        aer = (best[("aer x3", label)] - best[("aer x1", label)]) / (2 * repeat)
        rows.append({"label": label, "ours": ours, "qulacs": best[("qulacs", label)] / repeat,
                     "aer": aer if aer > 0 else None})
    return rows


def circuits(n, rounds, aer_threads, qv_depth, numpy, nn):
    from qulacs import QuantumState
    from qulacs.circuit import QuantumCircuitOptimizer
    mats = matrices(numpy)
    programs = {"QFT": qft(n), f"QV depth {qv_depth}": quantum_volume(n, qv_depth, numpy),
                f"Clifford+T {8 * n}": clifford_t(n, 8 * n, numpy)}
    state = nn.NativeState(n)
    state.reset()
    qstate = QuantumState(n)
    aer = simulator(aer_threads, True)
    cases = {("aer empty", ""): lambda: aer.run(aer_circuit(n, [], numpy, mats), shots=1).result()}
    for title, ops in programs.items():
        ours = [(flat(numpy, op_matrix(numpy, mats, name, param)), qubits) for name, qubits, param in ops]
        apply = state.apply_gate

        def run_ours(ours=ours):
            for gate, qubits in ours:
                apply(gate, qubits)
        cases[("ours", title)] = run_ours
        plain = qulacs_circuit(n, ops, numpy, mats)
        cases[("qulacs", title)] = lambda c=plain: c.update_quantum_state(qstate)
        light = qulacs_circuit(n, ops, numpy, mats)
        QuantumCircuitOptimizer().optimize_light(light)
        cases[("qulacs light", title)] = lambda c=light: c.update_quantum_state(qstate)
        blocks = qulacs_circuit(n, ops, numpy, mats)
        QuantumCircuitOptimizer().optimize(blocks, 2)
        cases[("qulacs opt2", title)] = lambda c=blocks: c.update_quantum_state(qstate)
        qc = aer_circuit(n, ops, numpy, mats)
        cases[("aer", title)] = lambda qc=qc: aer.run(qc, shots=1).result()
    best = best_of(rounds, cases)
    rows = []
    for title, ops in programs.items():
        rows.append({"label": f"{title} ({len(ops)} gates)", "ours": best[("ours", title)],
                     "qulacs": best[("qulacs", title)],
                     "qulacs opt": min(best[("qulacs light", title)], best[("qulacs opt2", title)]),
                     "aer fusion": max(best[("aer", title)] - best[("aer empty", "")], 1e-9)})
    return rows


def check_circuits(numpy, nn):
    """The three simulators agree on every circuit (n = 6): same gates, same qubits."""
    from qulacs import QuantumState
    from qiskit_aer import AerSimulator
    n, mats = 6, matrices(numpy)
    for ops in (qft(n), quantum_volume(n, 4, numpy), clifford_t(n, 40, numpy)):
        state = nn.NativeState(n)
        state.reset()
        for name, qubits, param in ops:
            state.apply_gate(flat(numpy, op_matrix(numpy, mats, name, param)), qubits)
        ours = numpy.array(state.amplitudes()).view(complex)
        qstate = QuantumState(n)
        qulacs_circuit(n, ops, numpy, mats).update_quantum_state(qstate)
        qc = aer_circuit(n, ops, numpy, mats, measure=False)
        qc.save_statevector()
        aer = numpy.asarray(AerSimulator(method="statevector").run(qc).result().get_statevector())
        for other in (qstate.get_vector(), aer):
            assert numpy.allclose(ours, other, atol=1e-10), "simulators disagree: qubit mapping is wrong"


def dense_vs_numpy(n, rounds, numpy, nn):
    rng = numpy.random.default_rng(3)
    state, view = dense_state(nn, n, numpy)
    cases = {"numpy": lambda: view.__imul__(1.0000001)}
    for k, positions in ((1, {"lowest": [n - 1], "middle": [n // 2], "highest": [0]}),
                         (2, {"lowest": [n - 2, n - 1], "middle": [n // 2 - 1, n // 2], "highest": [0, 1],
                              "first+last": [0, n - 1]})):
        z = rng.normal(size=(2 ** k, 2 ** k)) + 1j * rng.normal(size=(2 ** k, 2 ** k))
        gate = flat(numpy, numpy.linalg.qr(z)[0])
        for pos, qubits in positions.items():
            cases[f"dense {k}-qubit {pos}"] = lambda g=gate, q=qubits: state.apply_gate(g, q)
    best = best_of(rounds, cases)
    view /= math.sqrt(float(view @ view))
    return [{"label": name, "ours": t, "numpy": best["numpy"]} for name, t in best.items() if name != "numpy"]


def thread_scaling(n, rounds, numpy, nn):
    """Each split kernel at one CPU and at all of them, interleaved."""
    everything = sorted(os.sched_getaffinity(0))
    if len(everything) < 2:
        return []
    mats = matrices(numpy)
    state, view = dense_state(nn, n, numpy)
    rng = numpy.random.default_rng(5)
    unitary = {k: flat(numpy, numpy.linalg.qr(rng.normal(size=(2 ** k,) * 2) + 1j * rng.normal(size=(2 ** k,) * 2))[0])
               for k in (1, 2, 3)}
    m, low = n // 2, n - 1
    u = numpy.asarray(unitary[1]).view(complex).reshape(2, 2)
    controlled = flat(numpy, numpy.kron(numpy.diag([1, 0]), numpy.eye(2)) + numpy.kron(numpy.diag([0, 1]), u))
    fixed = {name: flat(numpy, mats[name]) for name in mats}
    kernels = {
        "dense 1q middle": lambda: state.apply_gate(unitary[1], [m]),
        "dense 1q lowest": lambda: state.apply_gate(unitary[1], [low]),
        "dense 2q adjacent": lambda: state.apply_gate(unitary[2], [m, m + 1]),
        "dense 2q lowest pair": lambda: state.apply_gate(unitary[2], [low - 1, low]),
        "dense 2q apart": lambda: state.apply_gate(unitary[2], [1, low]),
        "dense 3q": lambda: state.apply_gate(unitary[3], [1, m, low]),
        "H lowest": lambda: state.apply_gate(fixed["H"], [low]),
        "RZ (diagonal)": lambda: state.apply_gate(fixed["RZ"], [m]),
        "X (permutation)": lambda: state.apply_gate(fixed["X"], [m]),
        "CNOT (controlled X)": lambda: state.apply_gate(fixed["CNOT"], [0, low]),
        "CZ (controlled phase)": lambda: state.apply_gate(fixed["CZ"], [1, m]),
        "CP (controlled phase)": lambda: state.apply_gate(fixed["CP"], [low, m]),
        "SWAP": lambda: state.apply_gate(fixed["SWAP"], [1, m]),
        "TOFFOLI": lambda: state.apply_gate(fixed["TOFFOLI"], [0, m, low]),
        "controlled dense 1q": lambda: state.apply_gate(controlled, [2, m]),
        "probabilities [0]": lambda: state.probabilities([0]),
        "probabilities lowest 3": lambda: state.probabilities([low - 2, low - 1, low]),
        "measure [m]": lambda: state.measure([m], 0.5),
        "reset (a plain fill: the memory's own scaling)": state.reset,
    }
    one = {everything[0]}

    def pick(name):
        os.sched_setaffinity(0, one if name[1] == 1 else set(everything))
    cases = {}
    for name, fn in kernels.items():
        cases[(name, 1)] = fn
        cases[(name, 2)] = fn
    best = best_of(rounds, cases, before=pick)
    os.sched_setaffinity(0, set(everything))
    return [{"label": name, "one": best[(name, 1)], "two": best[(name, 2)]} for name in kernels]


def child(args):
    import numpy
    import nimbic_native as nn
    threads = 1 if args.leg == "one" else 0
    if args.leg == "one":
        CLOCK[0] = time.process_time
    else:
        PAUSE[0] = 0.02
    out = {"leg": args.leg, "sizes": {}}
    if args.leg == "one" and "circuits" in args.only:
        check_circuits(numpy, nn)
    for n in args.qubits:
        rounds = args.rounds if args.rounds else (5 if n <= 22 else 3)
        size = {}
        if "gates" in args.only:
            size["gates"] = per_gate(n, rounds, threads, numpy, nn)
            print(f"  [{args.leg}] n = {n}: gates done", file=sys.stderr, flush=True)
        if n in args.circuit_qubits and "circuits" in args.only:
            size["circuits"] = circuits(n, max(2, rounds - 2), threads, args.qv_depth, numpy, nn)
            print(f"  [{args.leg}] n = {n}: circuits done", file=sys.stderr, flush=True)
        if args.leg == "one" and "dense" in args.only:
            size["dense"] = dense_vs_numpy(n, rounds + 2, numpy, nn)
        elif n in (22, 24) and "threads" in args.only:
            size["threads"] = thread_scaling(n, rounds + 2, numpy, nn)
        out["sizes"][n] = size
    print(json.dumps(out))


def run_leg(leg, args):
    env = dict(os.environ)
    preexec = None
    if leg == "one":
        env["OMP_NUM_THREADS"] = "1"
        cpu = min(os.sched_getaffinity(0))
        preexec = lambda: os.sched_setaffinity(0, {cpu})  # noqa: E731
    else:
        env.pop("OMP_NUM_THREADS", None)
    command = [sys.executable, os.path.abspath(__file__), "--leg", leg, "--rounds", str(args.rounds),
               "--qv-depth", str(args.qv_depth), "--qubits", *map(str, args.qubits),
               "--circuit-qubits", *map(str, args.circuit_qubits), "--only", *args.only]
    print(f"running the {leg}-thread leg ..." if leg == "one" else "running the all-cores leg ...",
          file=sys.stderr, flush=True)
    done = subprocess.run(command, stdout=subprocess.PIPE, text=True, env=env, preexec_fn=preexec)
    if done.returncode != 0:
        raise SystemExit(f"the {leg} leg failed with exit status {done.returncode}")
    return json.loads(done.stdout.strip().splitlines()[-1])


# ----------------------------------------------------------------- report

def verdict(ok):
    return "met" if ok else "NOT MET"


def print_results(legs):
    misses = {key: [] for key in TARGETS}
    for leg in legs:
        title = "one thread" if leg["leg"] == "one" else "all cores"
        for n_text, size in leg["sizes"].items():
            n = int(n_text)
            if "gates" in size:
                print(f"\n== {title}, n = {n}: per gate, our time / theirs ==")
                print(f"{'gate':<26} {'ours':>10} {'/qulacs':>8} {'/aer':>8}")
            for r in size.get("gates", []):
                vs_q = r["ours"] / r["qulacs"]
                vs_a = f"{r['ours'] / r['aer']:8.2f}" if r["aer"] else "       -"
                flag = ""
                if n in (22, 24, 26) and vs_q > TARGETS["gate"]:
                    misses["gate"].append(f"{title} n={n} {r['label']} {vs_q:.2f}")
                    flag = "  over"
                print(f"{r['label']:<26} {r['ours'] * 1e3:8.2f}ms {vs_q:8.2f} {vs_a}{flag}")
            if "circuits" in size:
                print(f"\n== {title}, n = {n}: whole circuits, our time / theirs ==")
                print(f"{'circuit':<32} {'ours':>9} {'/qulacs':>8} {'/q opt':>8} {'/aer fus':>9} {'/best':>7}")
                for r in size["circuits"]:
                    best = min(r["qulacs"], r["qulacs opt"], r["aer fusion"])
                    ratio = r["ours"] / best
                    flag = ""
                    if n in (22, 24) and ratio > TARGETS["circuit"]:
                        misses["circuit"].append(f"{title} n={n} {r['label']} {ratio:.2f}")
                        flag = "  over"
                    print(f"{r['label']:<32} {r['ours']:8.3f}s {r['ours'] / r['qulacs']:8.2f} "
                          f"{r['ours'] / r['qulacs opt']:8.2f} {r['ours'] / r['aer fusion']:9.2f} {ratio:7.2f}{flag}")
            if "dense" in size:
                print(f"\n== one thread, n = {n}: dense gates / numpy in-place multiply "
                      f"({size['dense'][0]['numpy'] * 1e3:.2f} ms) ==")
                for r in size["dense"]:
                    ratio = r["ours"] / r["numpy"]
                    flag = ""
                    if n >= 22 and ratio > TARGETS["dense"]:
                        misses["dense"].append(f"n={n} {r['label']} {ratio:.2f}")
                        flag = "  over"
                    print(f"{r['label']:<26} {ratio:8.2f}{flag}")
            if size.get("threads"):
                print(f"\n== n = {n}: one thread / two threads (ours) ==")
                for r in size["threads"]:
                    ratio = r["one"] / r["two"]
                    flag = ""
                    if ratio < TARGETS["threads"]:
                        misses["threads"].append(f"n={n} {r['label']} {ratio:.2f}")
                        flag = "  under"
                    print(f"{r['label']:<26} {r['one'] * 1e3:8.2f}ms {ratio:8.2f}{flag}")
    print("\n== targets ==")
    texts = {
        "gate": f"per gate, n = 22, 24, 26: ours <= {TARGETS['gate']}x qulacs specialised",
        "circuit": f"whole circuits, n = 22, 24: ours <= {TARGETS['circuit']}x the best peer",
        "dense": f"dense 1q/2q gates, one thread, n >= 22: ours <= {TARGETS['dense']}x numpy in-place multiply",
        "threads": f"two threads >= {TARGETS['threads']}x one thread, n = 22, 24",
    }
    for key, text in texts.items():
        print(f"{text}: {verdict(not misses[key])}")
        for miss in misses[key]:
            print(f"    {miss}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--qubits", type=int, nargs="+", default=[20, 22, 24, 26])
    parser.add_argument("--circuit-qubits", type=int, nargs="+", default=[20, 22, 24])
    parser.add_argument("--rounds", type=int, default=0, help="rounds per timing (default 5, 3 from 24 qubits)")
    parser.add_argument("--qv-depth", type=int, default=10)
    parser.add_argument("--legs", nargs="+", choices=["one", "all"], default=["one", "all"])
    parser.add_argument("--only", nargs="+", choices=["gates", "circuits", "dense", "threads"],
                        default=["gates", "circuits", "dense", "threads"], help="parts to run")
    parser.add_argument("--json", help="also write the raw timings to this file")
    parser.add_argument("--leg", choices=["one", "all"], help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.leg:
        child(args)
        return
    legs = [run_leg(leg, args) for leg in args.legs]
    if args.json:
        with open(args.json, "w") as f:
            json.dump(legs, f)
    print_results(legs)


if __name__ == "__main__":
    main()
