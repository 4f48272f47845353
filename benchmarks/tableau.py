"""NativeTableau per call against stim.TableauSimulator, and clifford_run on
surface-code memory circuits against stim's compiled sampler.

Per call: `apply` (H, S, CX, CZ, SWAP) and `measure` with random and with
determined outcomes, at n = 10 .. 2000, against the TableauSimulator method
of the same gate. Determined: a register half entangled by H and CX pairs,
every qubit measured once beforehand. Random: a graph state (H on every
qubit, CZ on a random graph of degree 8), each qubit measured once in
random order, which keeps every outcome random.

After an unpickle: the same per-call figures at n = 1000 for a tableau
restored by pickle.loads (pickles carry the documented layout; the first
gate or measurement starts the packed form again, a one-time cost printed
beside pickle.loads itself, for the prepared register and a dense one).

clifford_run: rotated surface-code Z-memory circuits from stim's generator
(resets dropped, rounds = distance, qubits renumbered densely), against
`compile_sampler().sample()` with the compile step included, and against
the same followed by `.tolist()` (a Python result, like ours).

Ours and stim take turns and every figure is the best of the repeats; the
script prints ratios (ours / stim, below 1 is faster) and whether each
target is met. `--before PATH` also times another build of the module (for
example the previous release) for the "no worse than before" targets at
n = 10 and 100 (met within 5%, the spread between two builds of one code).

    python benchmarks/tableau.py [--repeats 5] [--quick] [--before path/to/nimbic_native.abi3.so]
"""

import argparse
import importlib.machinery
import importlib.util
import pickle
import random
import time

import nimbic_native as nn
import stim

H, S, SDG, X, Y, Z, CNOT, CZ, SWAP, MEASURE = range(10)
GATES = [("H", H, 1), ("S", S, 1), ("CX", CNOT, 2), ("CZ", CZ, 2), ("SWAP", SWAP, 2)]
STIM_METHOD = {H: "h", S: "s", CNOT: "cx", CZ: "cz", SWAP: "swap"}
CODES = {"H": H, "CX": CNOT, "M": MEASURE, "MR": MEASURE}


def load_module(path):
    loader = importlib.machinery.ExtensionFileLoader("nimbic_native", path)
    spec = importlib.util.spec_from_file_location("nimbic_native", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def best_interleaved(fns, repeats, setup=None):
    """Best time of each callable over the repeats, the callables taking
    turns; `setup(i)` (untimed) runs before callable i each time."""
    best = [float("inf")] * len(fns)
    for _ in range(repeats):
        for i, fn in enumerate(fns):
            if setup is not None:
                setup(i)
            t0 = time.perf_counter()
            fn()
            best[i] = min(best[i], time.perf_counter() - t0)
    return best


# ---- per call --------------------------------------------------------------------------


class Ours:
    def __init__(self, module, n):
        self.t = module.NativeTableau(n)

    def gate(self, code, a, b=0):
        self.t.apply(code, a, b)

    def gate_loop(self, code, operands):
        apply = self.t.apply
        if len(operands[0]) == 1:
            return lambda: [apply(code, a, 0) for (a,) in operands]
        return lambda: [apply(code, a, b) for a, b in operands]

    def measure_loop(self, qubits):
        measure = self.t.measure
        return lambda: [measure(q, 0.7) for q in qubits]


class Stim:
    def __init__(self, n):
        self.t = stim.TableauSimulator()
        self.t.set_num_qubits(n)

    def gate(self, code, a, b=0):
        method = getattr(self.t, STIM_METHOD[code])
        method(a, b) if code in (CNOT, CZ, SWAP) else method(a)

    def gate_loop(self, code, operands):
        method = getattr(self.t, STIM_METHOD[code])
        if len(operands[0]) == 1:
            return lambda: [method(a) for (a,) in operands]
        return lambda: [method(a, b) for a, b in operands]

    def measure_loop(self, qubits):
        measure = self.t.measure
        return lambda: [measure(q) for q in qubits]


def half_entangled(sim, n):
    for q in range(0, n // 2 - 1, 2):
        sim.gate(H, q)
        sim.gate(CNOT, q, q + 1)


def random_graph(rng, n):
    """A random graph of degree 8 on n qubits and up to 300 of its qubits in
    random order (those measured with random outcomes)."""
    edges = set()
    while len(edges) < 4 * n:
        a, b = rng.sample(range(n), 2)
        edges.add((min(a, b), max(a, b)))
    return edges, rng.sample(range(n), min(n, 300))


def graph_state(sim, n, edges):
    for q in range(n):
        sim.gate(H, q)
    for a, b in edges:
        sim.gate(CZ, a, b)


def per_call(n, sims, repeats, rng):
    """Seconds per call of every operation, for each simulator factory.
    Ours and stim take turns; another build (third) joins the turns only on
    small registers: on large ones its plain tableau (64 MB at n = 2000)
    would push the others' tableaux out of the cache between turns."""
    calls = 4000 if n <= 500 else 1500

    def timed(fns, setup=None):
        if n <= 100 or len(fns) <= 2:
            return best_interleaved(fns, repeats, setup)
        later = (lambda i: setup(i + 2)) if setup else None
        return best_interleaved(fns[:2], repeats, setup) + best_interleaved(fns[2:], max(1, repeats // 2), later)

    rows = {}
    for name, code, width in GATES:
        operands = [tuple(rng.sample(range(n), width)) for _ in range(calls)]
        objs = [make(n) for make in sims]
        for obj in objs:
            half_entangled(obj, n)
        times = timed([obj.gate_loop(code, operands) for obj in objs])
        rows[name] = [t / calls for t in times]

    qubits = [rng.randrange(n) for _ in range(calls)]
    objs = [make(n) for make in sims]
    for obj in objs:
        half_entangled(obj, n)
        obj.measure_loop(range(n))()  # every later outcome is determined
    times = timed([obj.measure_loop(qubits) for obj in objs])
    rows["measure determined"] = [t / calls for t in times]

    edges, order = random_graph(rng, n)
    fresh = [None] * len(sims)

    def prepare(i):
        fresh[i] = sims[i](n)
        graph_state(fresh[i], n, sorted(edges))
        loops[i] = fresh[i].measure_loop(order)

    loops = [None] * len(sims)
    times = timed([lambda i=i: loops[i]() for i in range(len(sims))], setup=prepare)
    rows["measure random"] = [t / len(order) for t in times]
    return rows


def round_trip(sim):
    """Ours through pickle.dumps and pickle.loads."""
    sim.t = pickle.loads(pickle.dumps(sim.t))
    return sim


def after_unpickle(n, repeats, rng):
    """Seconds per call, ours (unpickled) and stim, as per_call prepares
    them; the first call after loading is made before timing."""
    calls = 1500

    def settle(sim):  # two H: the state is unchanged, the form started
        sim.gate(H, 0)
        sim.gate(H, 0)

    rows = {}
    for name, code, width in [g for g in GATES if g[0] in ("H", "CX")]:
        operands = [tuple(rng.sample(range(n), width)) for _ in range(calls)]
        objs = [Ours(nn, n), Stim(n)]
        for obj in objs:
            half_entangled(obj, n)
        settle(round_trip(objs[0]))
        times = best_interleaved([obj.gate_loop(code, operands) for obj in objs], repeats)
        rows[name] = [t / calls for t in times]

    qubits = [rng.randrange(n) for _ in range(calls)]
    objs = [Ours(nn, n), Stim(n)]
    for obj in objs:
        half_entangled(obj, n)
        obj.measure_loop(range(n))()
    settle(round_trip(objs[0]))
    times = best_interleaved([obj.measure_loop(qubits) for obj in objs], repeats)
    rows["measure determined"] = [t / calls for t in times]

    edges, order = random_graph(rng, n)
    loops = [None, None]

    def prepare(i):
        sim = Ours(nn, n) if i == 0 else Stim(n)
        graph_state(sim, n, sorted(edges))
        if i == 0:
            settle(round_trip(sim))
        loops[i] = sim.measure_loop(order)

    times = best_interleaved([lambda i=i: loops[i]() for i in range(2)], repeats, setup=prepare)
    rows["measure random"] = [t / len(order) for t in times]
    return rows


def first_call_after_unpickle(n, gates, repeats):
    """Best seconds of pickle.loads and of the first gate after it, for a
    register prepared by per_call and for one after `gates` random gates."""
    rng = random.Random(n)
    out = []
    for dense in (False, True):
        sim = Ours(nn, n)
        if dense:
            for _ in range(gates):
                a, b = rng.sample(range(n), 2)
                sim.gate(rng.choice([H, S, CNOT, CZ]), a, b)
        else:
            half_entangled(sim, n)
        data = pickle.dumps(sim.t)
        loads = first = float("inf")
        for _ in range(repeats):
            t0 = time.perf_counter()
            t = pickle.loads(data)
            t1 = time.perf_counter()
            t.apply(H, 0, 0)
            t2 = time.perf_counter()
            loads, first = min(loads, t1 - t0), min(first, t2 - t1)
        out.append((loads, first))
    return out


# ---- clifford_run ----------------------------------------------------------------------


def surface_code(distance):
    """stim's rotated Z-memory circuit as our instruction stream (resets
    dropped, measure-resets measured only) and as a stim circuit."""
    circuit = stim.Circuit.generated("surface_code:rotated_memory_z", distance=distance, rounds=distance)
    ops, index = [], {}
    for inst in circuit.flattened():
        if inst.name not in CODES:
            continue
        qubits = [index.setdefault(t.value, len(index)) for t in inst.targets_copy()]
        code = CODES[inst.name]
        if code == CNOT:
            ops += [(CNOT, a, b) for a, b in zip(qubits[::2], qubits[1::2])]
        else:
            ops += [(code, q, 0) for q in qubits]
    plain = stim.Circuit()
    for code, a, b in ops:
        plain.append({H: "H", CNOT: "CX", MEASURE: "M"}[code], [a, b] if code == CNOT else [a])
    return [v for op in ops for v in op], len(index), plain


def runs(distance, shots, repeats):
    instructions, n, circuit = surface_code(distance)
    fns = [lambda: nn.clifford_run(instructions, n, [], shots, 7),
           lambda: circuit.compile_sampler(seed=7).sample(shots),
           lambda: circuit.compile_sampler(seed=7).sample(shots).tolist()]
    return n, instructions[::3].count(MEASURE), best_interleaved(fns, repeats)


# ---- report ----------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="fewer sizes, for a first look")
    parser.add_argument("--before", help="path to another build of nimbic_native to compare with")
    args = parser.parse_args()
    rng = random.Random(2024)
    before = load_module(args.before) if args.before else None
    sims = [lambda n: Ours(nn, n), Stim]
    if before is not None:
        sims.append(lambda n: Ours(before, n))
    met = []

    sizes = [10, 100, 1000] if args.quick else [10, 100, 500, 1000, 2000]
    print("NativeTableau per call (microseconds; ratio ours/stim" + (", ours/before" if before else "") + ")")
    for n in sizes:
        for op, times in per_call(n, sims, args.repeats * (3 if n <= 100 else 1), rng).items():
            ours, peer = times[0], times[1]
            line = f"  n={n:<5} {op:<19} ours {ours * 1e6:8.3f}  stim {peer * 1e6:8.3f}  ratio {ours / peer:6.2f}"
            ok = ours <= peer
            if before is not None:
                line += f"  before {times[2] * 1e6:9.3f}  ours/before {ours / times[2]:6.2f}"
                if n <= 100:  # within 5%: two builds of the same code differ that much
                    ok = ok and ours <= 1.05 * times[2]
            met.append(ok)
            print(line + ("" if ok else "  <- target missed"), flush=True)

    n = 1000
    print(f"NativeTableau per call after pickle.loads, n = {n} (microseconds; ratio ours/stim)")
    for op, (ours, peer) in after_unpickle(n, args.repeats, rng).items():
        met.append(ours <= peer)
        print(f"  n={n:<5} {op:<19} ours {ours * 1e6:8.3f}  stim {peer * 1e6:8.3f}  ratio {ours / peer:6.2f}"
              + ("" if ours <= peer else "  <- target missed"), flush=True)
    for label, (loads, first) in zip(["prepared", "dense (20n random gates)"],
                                     first_call_after_unpickle(n, 20 * n, args.repeats)):
        print(f"  n={n:<5} {label}: pickle.loads {loads * 1e3:7.2f} ms, first gate after it "
              f"(starts the packed form) {first * 1e3:7.2f} ms (one-time, no target)", flush=True)

    print("clifford_run on rotated surface-code memory circuits, compile included (seconds)")
    for distance in ([13, 21] if args.quick else [13, 17, 21, 25]):
        for shots in (100, 10_000):
            repeats = 2 * args.repeats if shots == 100 else max(2, args.repeats // 2)
            n, m, (ours, peer, peer_list) = runs(distance, shots, repeats)
            target = ours <= 2 * peer if shots == 100 else ours <= peer_list
            met.append(target)
            print(f"  d={distance} ({n} q, {m} meas) {shots:>6} shots: ours {ours:8.4f}  stim {peer:8.4f}  "
                  f"stim+tolist {peer_list:8.4f}  ours/stim {ours / peer:5.2f}  ours/(stim+tolist) "
                  f"{ours / peer_list:5.2f}  target {'<= 2x stim' if shots == 100 else '<= stim+tolist'}: "
                  f"{'met' if target else 'MISSED'}", flush=True)
    print(f"targets met: {sum(met)} of {len(met)}" + ("" if before else
          " (per call at n = 10 and 100 is also to be no worse than before: pass --before)"))


if __name__ == "__main__":
    main()
