"""Any Python thread may call any entry point; threads end cleanly."""
import os
import random
import re
import subprocess
import sys
import threading
import time

import pytest

import nimbic_native as nn
from conftest import CNOT, H, SANITIZED, SESSION_REPORT, X, rss_bytes
from entry_points import DAMPING
from test_release import SOURCE_VERSION

SRC = os.path.join(os.path.dirname(__file__), os.pardir, "src")


def bell_probabilities():
    s = nn.NativeState(2)
    s.set_zero_state()
    s.apply_gate(H, [0])
    s.apply_gate(CNOT, [0, 1])
    return s.probabilities([0, 1])


def os_threads(at_most=None):
    """The process's thread count, once threads that Python has already
    joined have finished leaving the system: steady for 0.1 s, or (with
    `at_most`) down to that number; ten seconds at most."""
    def count():
        with open("/proc/self/status") as f:
            return int(next(line for line in f if line.startswith("Threads:")).split()[1])
    deadline = time.monotonic() + 10
    last, steady_since = count(), time.monotonic()
    while time.monotonic() < deadline:
        time.sleep(0.01)
        now = count()
        if at_most is not None and now <= at_most:
            return now
        if now != last:
            last, steady_since = now, time.monotonic()
        elif at_most is None and time.monotonic() - steady_since > 0.1:
            break
    return last


def run_in_thread(fn):
    out = []
    t = threading.Thread(target=lambda: out.append(fn()))
    t.start()
    t.join(timeout=30)
    assert not t.is_alive()
    return out[0]


def test_fresh_thread_calls_work_and_end():
    assert run_in_thread(nn.version) == SOURCE_VERSION
    assert run_in_thread(bell_probabilities) == bell_probabilities()


def test_errors_in_threads_are_exceptions():
    def bad():
        try:
            nn.apply_gate([1.0, 0.0], [1.0], 1, [0])
        except RuntimeError as e:
            return str(e)
    assert run_in_thread(bad) == "panic in native code: array.get: index out of range (i,a.len):1, 1"


def short_lived_mix():
    try:
        nn.apply_gate([1.0, 0.0], [1.0], 1, [0])
    except RuntimeError:
        pass
    return bell_probabilities(), nn.clifford_run([0, 0, 0, 6, 0, 1, 9, 0, 0, 9, 1, 0], 2, [], 20, 1)


def test_many_short_lived_threads_leave_nothing_behind():
    expected = short_lived_mix()
    baseline_threads, baseline_os_threads = threading.active_count(), os_threads()
    for _ in range(20):
        run_in_thread(short_lived_mix)
    before = rss_bytes()
    for _ in range(500):
        assert run_in_thread(short_lived_mix) == expected
    assert threading.active_count() == baseline_threads
    assert os_threads(at_most=baseline_os_threads) <= baseline_os_threads
    if not SANITIZED:  # freed memory sits in quarantine under ASan
        assert rss_bytes() - before < 8 * 2**20


def test_concurrent_calls_match_serial():
    expected = [bell_probabilities() for _ in range(4)]
    results = [None] * 8

    def worker(i):
        results[i] = [bell_probabilities() for _ in range(200)]

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(r == [expected[0]] * 200 for r in results)


# ---- soak: 16 threads against the same calls made serially --------------------

SOAK_THREADS = 16
SOAK_ROUNDS = 40


def soak_program(seed):
    """A fixed, seeded mix of calls on private objects (gates, channels,
    Clifford gates, measurements, module functions, failing calls). Every
    fourth program also drives a 20-qubit state, whose gates split between
    two native threads, and a sampler run large enough to use worker
    threads. Returns the list of results (or error texts)."""
    rng = random.Random(seed)
    state, density, tableau = nn.NativeState(3), nn.NativeDensity(2), nn.NativeTableau(3)
    state.set_zero_state()
    density.set_zero_state()
    big = nn.NativeState(20) if seed % 4 == 0 else None
    if big is not None:
        big.set_zero_state()
    gates = [H, X, CNOT, [0.6, 0.0, 0.0, 0.8, 0.0, 0.8, 0.6, 0.0]]
    out = []
    for _ in range(SOAK_ROUNDS):
        gate = rng.choice(gates)
        targets = rng.sample(range(3), 2 if gate is CNOT else 1)
        u = rng.random()
        calls = [
            lambda: state.apply_gate(gate, targets),
            lambda: state.probabilities([0, 2]),
            lambda: state.measure([rng.randrange(3)], u),
            lambda: density.apply_channel(DAMPING, 2, [rng.randrange(2)]),
            lambda: density.measure([0], u),
            lambda: tableau.apply(rng.randrange(9), *rng.sample(range(3), 2)),
            lambda: tableau.measure(rng.randrange(3), u),
            lambda: tableau.stabilizer_tableau(),
            lambda: nn.clifford_run([0, 0, 0, 6, 0, 1, 9, 0, 0, 9, 1, 0], 2, [], 50, rng.randrange(1000)),
            lambda: nn.pauli_expansion(nn.kron(gate[:8], 2, H, 2), 2),
            lambda: nn.apply_gate([1.0, 0.0] * 4, gate, 3, [3]),  # fails: qubit out of range
            lambda: state.amplitudes(),
            lambda: density.density_matrix(),
        ]
        if big is not None:
            calls += [lambda: big.apply_gate(gate, targets) or big.probabilities([targets[0]]),
                      lambda: sum(nn.clifford_run([0, 0, 0, 9, 0, 0] * 4, 1, [], 2**19, seed))]
        for call in calls:
            try:
                out.append(call())
            except RuntimeError as e:
                out.append(str(e))
    return out


@pytest.mark.slow
def test_soak_of_sixteen_threads_matches_serial_runs():
    threads_before = os_threads()
    results = [None] * SOAK_THREADS

    def worker(i):
        results[i] = soak_program(i)

    old_interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-4)  # hand the interpreter over often
    try:
        threads = [threading.Thread(target=worker, args=(i,)) for i in range(SOAK_THREADS)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=600)
    finally:
        sys.setswitchinterval(old_interval)
    assert not any(t.is_alive() for t in threads)
    assert None not in results  # every program ran to its end
    serial = [soak_program(i) for i in range(SOAK_THREADS)]
    mismatches = sum(a != b for r, s in zip(results, serial) for a, b in zip(r, s))
    SESSION_REPORT["thread soak"] = [
        f"{SOAK_THREADS} threads, {sum(len(r) for r in serial)} calls, {mismatches} mismatches with serial runs"]
    assert [len(r) for r in results] == [len(s) for s in serial]
    assert mismatches == 0
    # Native worker threads (split gates, the sampler) are all joined.
    assert os_threads(at_most=threads_before) <= threads_before


def test_native_worker_threads_end_with_their_call():
    before = os_threads()
    big = nn.NativeState(20)
    big.set_zero_state()
    for q in range(20):
        big.apply_gate(H, [q])
    assert abs(sum(big.probabilities([0, 1])) - 1) < 1e-9
    assert len(nn.clifford_run([0, 0, 0, 9, 0, 0] * 8, 1, [], 2**18, 3)) == 8 * 2**18
    assert os_threads(at_most=before) <= before



SPLIT_GATES = """
import os, sys
import nimbic_native as nn
os.sched_setaffinity(0, {cpus})
state = nn.NativeState(22)
state.set_zero_state()
print("ready", flush=True)
for _ in range(3):
    for q in range(22):
        state.apply_gate({h}, [q])
"""


def peak_threads_of_split_gates(cpus):
    """The most threads seen in a child pinned to `cpus` while it applies
    66 gates to 22 qubits (each large enough to split over every core the
    process may use)."""
    child = subprocess.Popen([sys.executable, "-c", SPLIT_GATES.format(cpus=set(cpus), h=H)],
                             stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "ready\n"
        peak = 0
        while child.poll() is None:
            try:
                with open(f"/proc/{child.pid}/status") as f:
                    peak = max(peak, int(next(line for line in f if line.startswith("Threads:")).split()[1]))
            except (OSError, StopIteration):
                break
        assert child.wait(timeout=60) == 0
        return peak
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()


@pytest.mark.skipif(len(os.sched_getaffinity(0)) < 2, reason="needs two CPUs")
def test_split_gates_start_no_thread_beyond_the_affinity_mask():
    cpus = sorted(os.sched_getaffinity(0))
    assert peak_threads_of_split_gates(cpus[:1]) == 1
    both = peak_threads_of_split_gates(cpus[:2])
    if both < 2:
        pytest.skip("a CPU quota of one core keeps every split on one thread")
    assert both == 2

def included_headers(path):
    with open(path) as f:
        for line in f:
            m = re.match(r'\s*#\s*include\s*[<"]([^>"]+)[>"]', line)
            if m:
                yield m.group(1)


@pytest.mark.skipif(not os.path.isdir(SRC), reason="needs the source tree")
def test_kernels_and_their_worker_threads_never_reach_python():
    """Code that may run on a native worker thread cannot call into the
    interpreter: no kernel source includes the Python API, directly or
    through the headers it includes."""
    def reaches_python(path, seen):
        for header in included_headers(path):
            if header in ("Python.h", "binding/python.hpp"):
                return True
            local = os.path.join(SRC, header)
            if os.path.isfile(local) and local not in seen:
                seen.add(local)
                if reaches_python(local, seen):
                    return True
        return False

    kernel_files = [os.path.join(dirpath, name)
                    for folder in ("statevector", "density", "stabilizer", "linalg")
                    for dirpath, _, names in os.walk(os.path.join(SRC, folder)) for name in names]
    assert len(kernel_files) > 40
    assert [p for p in kernel_files if reaches_python(p, set())] == []
