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
from conftest import SANITIZED, SESSION_REPORT
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


# Under an address-space limit of 3 GiB, requests that RAM and swap could
# hold but the limit cannot are refused before any work: MemoryError with the
# documented text, no large allocation first, and the process goes on.
AS_LIMIT = 3 << 30
OOM = "MemoryError: panic in native code: memory allocation failure"
LIMITED = {
    "state_probabilities with 28 targets": lambda: nn.state_probabilities([], list(range(28)), 100),
    "density_probabilities with 28 targets": lambda: nn.density_probabilities([], list(range(28)), 64),
    "clifford_run with 10**9 repetitions": lambda: nn.clifford_run([9, 0, 0], 1, [], 10**9, 1),
    "clifford_tableau on 20000 qubits": lambda: nn.clifford_tableau([], 20000),
    "clifford_state_vector on 26 qubits": lambda: nn.clifford_state_vector(nn.clifford_tableau([], 26), 26),
    "embed_operator on 13 qubits": lambda: nn.embed_operator([1.0, 0.0], 1, [], 13),
    "state_to_density of 13 qubits": lambda: nn.state_to_density([0.5] * 2**14),
    "kron of two 96-dimensional matrices": lambda: nn.kron([0.5] * 18432, 96, [0.5] * 18432, 96),
    "collapse_state with outcome -1 on 27 qubits": lambda: nn.collapse_state([], [], -1, 27),
    "NativeState(28)": lambda: nn.NativeState(28),
    "NativeDensity(14)": lambda: nn.NativeDensity(14),
}


def touched_kib(peak=False):
    """Resident memory in KiB; with `peak`, the most since the last call
    without it (which resets the peak where the system allows)."""
    if not peak:
        try:
            with open("/proc/self/clear_refs", "w") as f:
                f.write("5")
        except OSError:
            pass
    with open("/proc/self/status") as f:
        fields = dict(line.split(":", 1) for line in f)
    return int(fields["VmHWM" if peak else "VmRSS"].split()[0])


def limited_child_main():
    """Runs the cases under the address-space limit: JSON of (outcome,
    seconds, peak resident growth in KiB) per case."""
    import mmap
    # A kernel that runs before its refusal takes minutes here: the CPU limit
    # ends the child.
    resource.setrlimit(resource.RLIMIT_CPU, (CHILD_CPU_SECONDS, CHILD_CPU_SECONDS))

    def run(call):
        start, t = touched_kib(), time.perf_counter()
        try:
            outcome = f"ok: {len(call())}"
        except Exception as e:  # judged by the parent
            outcome = f"{type(e).__name__}: {e}"
        return outcome, time.perf_counter() - t, touched_kib(peak=True) - start

    def left(mib):
        with open("/proc/self/statm") as f:
            mapped = int(f.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
        resource.setrlimit(resource.RLIMIT_AS, (mapped + (mib << 20), AS_LIMIT))

    # First, while the allocators hold no free memory: a request small enough
    # to skip the guard, whose list the interpreter cannot make; then one just
    # above what the guard lets through unread, refused before it is made.
    left(4)
    results = {"2**18 floats with 4 MiB left": run(lambda: nn.state_probabilities([], list(range(18)), 100))}
    left(24)
    results["2**20 floats with 24 MiB left"] = run(lambda: nn.state_probabilities([], list(range(20)), 100))
    resource.setrlimit(resource.RLIMIT_AS, (AS_LIMIT, AS_LIMIT))
    results.update({label: run(call) for label, call in LIMITED.items()})
    # A 12-qubit expansion whose result cannot fit in what a mapped but
    # untouched ballast of 1.5 GiB leaves: refused before its 256 MiB input
    # is copied.
    matrix, ballast = [0.0] * (2 * 4**12), mmap.mmap(-1, 3 << 29)
    results["pauli_expansion(12) with 1.5 GiB mapped"] = run(lambda: nn.pauli_expansion(matrix, 12))
    results["the same by keyword"] = run(lambda: nn.pauli_expansion(num_qubits=12, matrix=matrix))
    ballast.close()
    del matrix
    # Every function whose result list is as long as an argument, with room
    # for its converted arguments but not for the list: refused before its
    # kernel runs, having touched its converted arguments at most.
    calls = list_builders()
    with open("/proc/self/statm") as f:
        mapped = int(f.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
    ballast = mmap.mmap(-1, AS_LIMIT - mapped - (LIST_ROOM_MIB << 20))
    results.update({label: run(call) for label, call in calls.items()})
    ballast.close()
    del calls
    # The 13-qubit expansion with nothing mapped aside: its 1 GiB input fits,
    # the 4 GiB of floats its result becomes do not.
    matrix = [0.0] * (2 * 4**13)
    results["pauli_expansion(13)"] = run(lambda: nn.pauli_expansion(matrix, 13))
    del matrix
    results["then 2**20 floats, which fit"] = run(lambda: nn.state_probabilities([], list(range(20)), 100))
    print(json.dumps(results))


LIST_ROOM_MIB = 256


def list_builders():
    """(label -> call) for the functions whose result list is as long as an
    argument of 2**23 floats (64 MiB as a list of one float; 8.4 million
    floats become a 400 MiB list)."""
    floats = [0.5] * 2**23
    x = [0.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.0]
    return {
        "apply_gate on 22 qubits": lambda: nn.apply_gate(floats, x, 22, [0]),
        "collapse_state on 22 qubits": lambda: nn.collapse_state(floats, [0], 0, 22),
        "density_collapse on 11 qubits": lambda: nn.density_collapse(floats, [0], 0, 11),
        "pauli_expansion(11)": lambda: nn.pauli_expansion(floats, 11),
        "dagger, dim 2048": lambda: nn.dagger(floats, 2048),
        "add_scaled, dim 2048": lambda: nn.add_scaled(floats, floats, 2048, 2.0),
        "matmul, dim 2048": lambda: nn.matmul(floats, floats, 2048),
        "matrix_inverse, dim 2048": lambda: nn.matrix_inverse(floats, 2048),
        "sandwich, dim 2048": lambda: nn.sandwich(floats, floats, 2048),
        "channel, dim 2048": lambda: nn.channel(floats, floats, 1, 2048),
        "jacobi_eig, n 2896": lambda: nn.jacobi_eig(floats, 2896),
        "simultaneous_diag, n 2896": lambda: nn.simultaneous_diag(floats, floats, 2896),
    }


@pytest.mark.skipif(SANITIZED, reason="the sanitizer's shadow memory does not fit an address-space limit")
def test_requests_beyond_the_address_space_limit_are_refused_first():
    code = (f"import sys; sys.path.insert(0, {os.path.dirname(__file__)!r}); "
            "import test_huge_sizes; test_huge_sizes.limited_child_main()")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (AS_LIMIT, AS_LIMIT)))
    assert done.returncode == 0, done.stderr[-3000:]
    outcomes = json.loads(done.stdout.splitlines()[-1])
    SESSION_REPORT["refusals under a 3 GiB address-space limit"] = [
        f"{seconds * 1e3:8.1f} ms  {label} -> {outcome}" for label, (outcome, seconds, _) in outcomes.items()]
    assert outcomes.pop("then 2**20 floats, which fit")[0] == f"ok: {2**20}"
    for label, (outcome, _, growth_kib) in outcomes.items():
        assert outcome == OOM, label
        # Refused before anything large is touched (the expansion's input
        # copy and the list the interpreter starts aside).
        bound = {"2**18 floats with 4 MiB left": 8 << 10, **{label: 144 << 10 for label in list_builders()}}
        assert growth_kib < bound.get(label, 4 << 10), (label, growth_kib)
