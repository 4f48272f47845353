"""Packed Clifford sampling against clifford_run's lists and stim, on rotated
surface-code memory circuits.

The circuits are stim's own (`surface_code:rotated_memory_z`, d rounds,
noiseless), converted to an instruction stream: R at the start is the fresh
|0...0> and dropped, MR becomes a measurement without the reset (the
instruction set has none: later rounds then read running parities; the
measurement count and the gates are the same). stim samples its circuit as
generated. Both sides compile inside the timed call:
`clifford_run_packed(...)` against `stim.Circuit.compile_sampler().sample(shots,
bit_packed=True)`, and `clifford_run` for the list it replaces. The calls take
turns (best of --repeats), so machine load falls on all of them alike.

Peak extra memory is measured in a fresh child process per case, with the
circuit already built: the high-water mark of resident memory (VmHWM, reset
just before the call) less the resident size before the call. The working set stated next to it is the
same figure for a 64-shot run (stream, tableau, compiled program, threads).

    pip install '.[bench]'
    python benchmarks/sampling.py [--distances 13 17 21 25] [--shots 10000 100000] [--repeats 3]
"""

import argparse
import json
import subprocess
import sys

H, CNOT, MEASURE = 0, 6, 9
MIB = 2**20
# Lists cost 8 bytes per bit and more: past this many bits they are skipped.
MAX_LIST_BITS = 3 * 10**8


def surface_code(distance):
    import stim
    return stim.Circuit.generated("surface_code:rotated_memory_z", distance=distance, rounds=distance)


def to_instructions(circuit):
    """The stim circuit as (instructions, num_qubits), qubits numbered densely
    in order of first use."""
    index = {}

    def q(target):
        return index.setdefault(target.value, len(index))

    out = []
    for op in circuit.flattened():
        targets = op.targets_copy()
        if op.name == "R":
            for t in targets:
                q(t)
        elif op.name == "H":
            for t in targets:
                out += [H, q(t), 0]
        elif op.name == "CX":
            for a, b in zip(targets[::2], targets[1::2]):
                out += [CNOT, q(a), q(b)]
        elif op.name in ("M", "MR"):
            for t in targets:
                out += [MEASURE, q(t), 0]
        elif op.name not in ("TICK", "DETECTOR", "OBSERVABLE_INCLUDE", "QUBIT_COORDS", "SHIFT_COORDS"):
            raise ValueError(f"no conversion for {op.name}")
    return out, len(index)


def calls(distance, shots):
    """name -> a callable running one case."""
    import nimbic_native as nn
    from nimbic_scale.sampling import clifford_run_packed
    circuit = surface_code(distance)
    instructions, n = to_instructions(circuit)
    return {
        "lists": lambda: nn.clifford_run(instructions, n, [], shots, 2024),
        "packed": lambda: clifford_run_packed(instructions, n, [], shots, 2024),
        "stim": lambda: circuit.compile_sampler(seed=2024).sample(shots, bit_packed=True),
    }


def status(key):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(f"no {key}")


def child(name, distance, shots):
    call = calls(distance, shots)[name]
    # Restart the high-water mark at the current resident size (Linux's
    # clear_refs "5"), so that it reads the call's own peak.
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before = status("VmRSS")
    result = call()
    print(json.dumps(status("VmHWM") - before))
    del result


def peak_extra(name, distance, shots):
    out = subprocess.run([sys.executable, __file__, "--child", name, str(distance), str(shots)],
                         capture_output=True, text=True, check=True)
    return int(out.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--distances", type=int, nargs="+", default=[13, 17, 21, 25])
    parser.add_argument("--shots", type=int, nargs="+", default=[10_000, 100_000])
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--child", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.child[0], int(args.child[1]), int(args.child[2]))
        return

    sys.path.insert(0, __import__("os").path.dirname(__file__))
    from timing import best_times

    print("| d | qubits | M | shots | packed MiB | lists s | packed s | stim s | packed/stim "
          "| lists MiB | packed MiB | stim MiB | packed/result | working set MiB |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    for distance in args.distances:
        instructions, n = to_instructions(surface_code(distance))
        m = sum(1 for i in range(0, len(instructions), 3) if instructions[i] == MEASURE)
        working = peak_extra("packed", distance, 64)
        for shots in args.shots:
            cases = calls(distance, shots)
            with_lists = shots * m <= MAX_LIST_BITS
            names = ["lists", "packed", "stim"] if with_lists else ["packed", "stim"]
            times = dict(zip(names, best_times([cases[k] for k in names], args.repeats)))
            peaks = {k: peak_extra(k, distance, shots) for k in names}
            result = shots * ((m + 7) // 8)
            lists_s = f"{times['lists']:.3f}" if with_lists else "-"
            lists_mib = f"{peaks['lists'] / MIB:.0f}" if with_lists else "-"
            print(f"| {distance} | {n} | {m} | {shots} | {result / MIB:.1f} | {lists_s} | {times['packed']:.3f} "
                  f"| {times['stim']:.3f} | {times['packed'] / times['stim']:.2f}x | {lists_mib} "
                  f"| {peaks['packed'] / MIB:.1f} | {peaks['stim'] / MIB:.1f} "
                  f"| {peaks['packed'] / result:.2f} ({(peaks['packed'] - working) / result:.2f} past the working set) "
                  f"| {working / MIB:.1f} |", flush=True)


if __name__ == "__main__":
    main()
