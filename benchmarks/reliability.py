"""Reliability figures against their targets, each with a baseline from the
same run:

- refusing k = 200,000 targets with a duplicate (target: under 50 ms), next
  to Python's own duplicate test `len(set(t)) != len(t)` on the same list;
- refusing requests that cannot fit under a 3 GiB address-space limit
  (target: under 1 s each), among them pauli_expansion of 13 qubits and
  every function whose result list is as long as an argument, next to a
  request of 2^20 floats that fits;
- the time from SIGINT to KeyboardInterrupt in long module calls (target:
  under 100 ms), next to the time the call takes when not interrupted.

    python benchmarks/reliability.py [--repeats 5] [--no-full-calls]
"""

import argparse
import json
import os
import pathlib
import resource
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

import nimbic_native as nn  # noqa: E402
from timing import best_times  # noqa: E402
from interrupt_cases import CASES, interrupt  # noqa: E402



def met(ok):
    return "met" if ok else "NOT met"


def duplicates(repeats):
    k = 200_000
    targets = list(range(k)) + [0]

    def refuse(n):
        try:
            nn.embed_operator([], 1, targets, n)
        except RuntimeError as e:
            assert str(e).endswith("duplicate qubit index (q):0")

    print(f"duplicate among {k} targets (target < 50 ms)")
    for n, path in ((k + 2, "a bit per qubit"), (2**62, "sorted")):
        ours, base = best_times([lambda: refuse(n), lambda: len(set(targets)) != len(targets)], repeats)
        print(f"  num_qubits {n:>20} ({path:15s}) {ours * 1e3:7.2f} ms   set() {base * 1e3:6.2f} ms   "
              f"ratio {ours / base:5.2f}   {met(ours < 0.05)}")


def refusals():
    print("refusals under a 3 GiB address-space limit (target < 1 s each)")
    limit = 3 << 30
    code = f"import sys; sys.path.insert(0, {str(HERE.parent / 'tests')!r}); " \
           "import test_huge_sizes; test_huge_sizes.limited_child_main()"
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=600,
                          preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
    if done.returncode != 0:
        print("  the child failed:", done.stderr[-2000:])
        return
    outcomes = json.loads(done.stdout.splitlines()[-1])
    fits = outcomes.pop("then 2**20 floats, which fit")
    for label, (outcome, seconds, _) in outcomes.items():
        refused = outcome == "MemoryError: panic in native code: memory allocation failure"
        print(f"  {seconds * 1e3:8.1f} ms  {label:58s} {'refused' if refused else outcome[:40]:10s} "
              f"{met(refused and seconds < 1)}")
    print(f"  {fits[1] * 1e3:8.1f} ms  baseline: 2**20 floats that fit -> {fits[0]}")


def latencies(full_calls):
    print("SIGINT to KeyboardInterrupt (target < 100 ms); the latency grows with the part of the result")
    print("list already built, which is released first")
    named = ["clifford_run", "pauli_expansion", "state_to_density"]
    for name in named + sorted(set(CASES) - set(named)):
        delays = (0.1, 0.3, 1.0) if name in named else (0.3,)
        cells = []
        for delay in delays:
            report, = interrupt(name, delay)
            if report["latency"] < 0 or not report["raised"]:
                cells.append(f"{delay:.1f} s: call ended first  ")
            else:
                cells.append(f"{delay:.1f} s: {report['latency'] * 1e3:6.1f} ms "
                             f"{met(report['raised'] and report['latency'] < 0.1):7s}")
        whole = ""
        if full_calls and name in named:
            function, build = CASES[name]
            args = build()
            t0 = time.perf_counter()
            getattr(nn, function)(*args)
            whole = f"   uninterrupted {time.perf_counter() - t0:6.2f} s"
            del args
        print(f"  {name:32s} " + "  ".join(cells) + whole, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--no-full-calls", action="store_true",
                        help="skip timing the named calls uninterrupted")
    args = parser.parse_args()
    print(f"nimbic_native {nn.__file__}, {os.cpu_count()} CPUs")
    duplicates(args.repeats)
    refusals()
    latencies(not args.no_full_calls)


if __name__ == "__main__":
    main()
