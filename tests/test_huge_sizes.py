"""Qubit counts and dimensions far beyond memory fail at once.

Every function, constructor and method gets counts such as 40, 62, 63, 64,
2**62 and -1 qubits, or dimensions 2**31 and 2**62, with small other
arguments. Each call must return the documented early result or raise, and
must not allocate or walk the impossible size first. The calls run in a
child process, so that a regression (a loop over 2^62 items, a multi-GiB
allocation) fails this test instead of stalling or killing the suite; the
child reports each call's outcome and duration and its peak resident memory.
"""
import json
import math
import os
import resource
import subprocess
import sys
import time

import pytest

import nimbic_native as nn
from conftest import SANITIZED
from entry_points import ARGS, CLASSES, FUNCTIONS, METHODS, PLUS, DAMPING, H

HUGE_QUBITS = [40, 62, 63, 64, 2**62, 2**63 - 1, -1, -2**63]
HUGE_DIMS = [2**31, 2**62, 2**62 + 1, 2**63 - 1, -2**31, -2**63]
HUGE_COUNTS = [2**40, 2**62, 2**63 - 1, -1, -2**63]
METHOD_ARGS = {"set_amplitudes": (PLUS,), "apply_gate": (H, [0]), "probabilities": ([0],),
               "measure": ([0], 0.3), "set_from_amplitudes": (PLUS,), "apply_channel": (DAMPING, 2, [0])}
TABLEAU_ARGS = {"apply": (6, 0, 1), "measure": (0, 0.3)}


def memory_bytes():
    with open("/proc/meminfo") as f:
        info = {line.split(":")[0]: int(line.split()[1]) * 1024 for line in f}
    return info["MemTotal"] + info["SwapTotal"]


def list_breaking_targets():
    """A target count k whose 2^k zeros fit in memory as floats (a third of
    it at most) but not as the Python list they would become."""
    return math.ceil(math.log2(memory_bytes() / 48)) + 1


def huge_calls():
    """(label, call) for every entry point with each huge size in turn."""
    calls = []
    for name, params in FUNCTIONS.items():
        for i, (param, role) in enumerate(params):
            sizes = {"qubits": HUGE_QUBITS, "dim": HUGE_DIMS, "count": HUGE_COUNTS}.get(role, [])
            for size in sizes:
                args = list(ARGS[name])
                args[i] = size
                calls.append((f"{name}({param}={size})", lambda f=getattr(nn, name), a=args: f(*a)))
    for cls_name, cls in CLASSES.items():
        for n in HUGE_QUBITS:
            calls.append((f"{cls_name}({n})", lambda c=cls, n=n: repr(c(n))))
        for n in HUGE_QUBITS:
            for method in METHODS[cls_name]:
                args = (TABLEAU_ARGS if cls_name == "NativeTableau" else METHOD_ARGS).get(method, ())

                def call(c=cls, n=n, m=method, a=args):
                    obj = c(2)
                    obj.num_qubits = n
                    return getattr(obj, m)(*a)
                calls.append((f"{cls_name}(2) with num_qubits={n}: {method}", call))
    return calls + list(GUARDED.items())


# Results or buffers that cannot fit in memory: each must be MemoryError.
K = list_breaking_targets()
GUARDED = {
    f"state_probabilities with {K} targets, n=-1": lambda: nn.state_probabilities([], list(range(K)), -1),
    f"density_probabilities with {K} targets, n=-1": lambda: nn.density_probabilities([], list(range(K)), -1),
    f"density_probabilities with {K} targets, n=63": lambda: nn.density_probabilities([], list(range(K)), 63),
    f"NativeState.probabilities with {K} targets, n=-1": lambda: _rewritten(nn.NativeState, -1).probabilities(
        list(range(K))),
    "collapse_state outcome -1, n=40": lambda: nn.collapse_state([], [], -1, 40),
    "density_collapse outcome -1, n=20": lambda: nn.density_collapse([], [], -1, 20),
    "embed_operator on 20 qubits": lambda: nn.embed_operator([1.0, 0.0], 1, [], 20),
    "state_to_density of 100000 amplitudes": lambda: nn.state_to_density([0.5] * 200_000),
    "channel with no operators, dim 2**31": lambda: nn.channel([], [], 0, 2**31),
    "matrix_inverse n=-2**31": lambda: nn.matrix_inverse([], -2**31),
    "clifford_tableau on 2**20 qubits": lambda: nn.clifford_tableau([], 2**20),
    "clifford_run with 2**40 repetitions": lambda: nn.clifford_run([9, 0, 0], 1, [], 2**40, 1),
    "clifford_run with 2**33 wide repetitions": lambda: nn.clifford_run([9, 0, 0], 1, [300], 2**33, 1),
    "clifford_state_vector on 40 qubits": lambda: nn.clifford_state_vector(nn.clifford_tableau([], 40), 40),
    "NativeState(34)": lambda: nn.NativeState(34),
    "NativeDensity(20)": lambda: nn.NativeDensity(20),
    "NativeTableau(2**20)": lambda: nn.NativeTableau(2**20),
}


def _rewritten(cls, n):
    obj = cls(1)
    obj.num_qubits = n
    return obj


def child_main():
    """Runs every huge call and prints the outcomes as JSON."""
    # Each call takes microseconds; a loop over an impossible range would take
    # minutes. A CPU-time limit ends such a child (its last label names the
    # call) without a wall-clock bound that a busy machine could break.
    resource.setrlimit(resource.RLIMIT_CPU, (CHILD_CPU_SECONDS, CHILD_CPU_SECONDS))
    start_rss = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    results = []
    for label, call in huge_calls():
        print(label, file=sys.stderr, flush=True)  # names the call if the child dies
        t = time.perf_counter()
        try:
            r = call()
            outcome = "ok: " + (f"list of {len(r)}" if isinstance(r, list) else repr(r))
        except Exception as e:  # reported to the parent, which judges it
            outcome = f"{type(e).__name__}: {e}"
        results.append((label, outcome, time.perf_counter() - t))
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(json.dumps({"results": results, "rss_growth_kib": peak - start_rss}))


CHILD_CPU_SECONDS = 120


@pytest.fixture(scope="module")
def outcomes():
    code = (f"import sys; sys.path.insert(0, {os.path.dirname(__file__)!r}); "
            "import test_huge_sizes; test_huge_sizes.child_main()")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    # A child that used up its CPU limit dies of SIGXCPU, naming the call last.
    assert done.returncode == 0, done.stderr[-3000:]
    return json.loads(done.stdout.splitlines()[-1])


def test_every_huge_call_returns_or_raises_at_once(outcomes):
    results = outcomes["results"]
    assert len(results) == len(huge_calls())
    for label, outcome, seconds in results:
        assert outcome.split(":")[0] in ("ok", "MemoryError", "RuntimeError"), (label, outcome)
    print("\n" + "\n".join(f"{s * 1e3:8.3f} ms  {label} -> {outcome[:90]}" for label, outcome, s in results))


def test_impossible_results_and_buffers_raise_memory_error(outcomes):
    by_label = {label: outcome for label, outcome, _ in outcomes["results"]}
    for label in GUARDED:
        assert by_label[label] == "MemoryError: panic in native code: memory allocation failure", label


@pytest.mark.skipif(SANITIZED, reason="resident memory includes the sanitizer's shadow")
def test_huge_calls_allocate_nothing_big(outcomes):
    # The list-breaking target count would need a third of memory as floats
    # alone: refused before allocation, the child stays small.
    assert outcomes["rss_growth_kib"] < 256 * 1024


@pytest.mark.parametrize("call, expected", [
    # The documented early returns for counts out of range.
    (lambda: nn.state_probabilities([], [0], 63), [0.0, 0.0]),
    (lambda: nn.state_probabilities([], [], -1), [0.0]),
    (lambda: nn.collapse_state(PLUS, [0], 0, 2**62), []),
    (lambda: nn.density_probabilities([], [0, 1], 64), [0.0] * 4),
    (lambda: nn.density_collapse([], [0], 0, -1), []),
    (lambda: nn.pauli_expansion([], 40), []),
    (lambda: nn.embed_operator([1.0, 0.0], 1, [], 64), []),
    (lambda: nn.clifford_state_vector([], -1), []),
    (lambda: repr(nn.NativeState(62)), "NativeState(state: buffer(0), num_qubits: 62)"),
    (lambda: repr(nn.NativeDensity(40)), "NativeDensity(rho: buffer(0), num_qubits: 40)"),
    (lambda: nn.clifford_tableau([], 40)[:3], [1, 0, 0]),
])
def test_documented_early_results_stay(call, expected):
    assert call() == expected
