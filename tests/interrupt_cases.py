"""Long module calls and a child process that runs one of them until SIGINT.

Shared by tests/test_interrupt.py and benchmarks/interrupt_latency.py. The
child builds the arguments, prints "ready", makes the call and reports as
JSON when the call ended (time.monotonic, the clock the parent stamps the
signal with), whether the call itself raised (a call that ignores the
signal returns, and KeyboardInterrupt comes after it), whether the
arguments are unchanged and whether the module still works. The parent
sends SIGINT a given delay after "ready"; the latency is from the signal to
the end of the call, negative when the call ended first.
"""
import json
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def _unitary(k):
    import numpy
    rng = numpy.random.default_rng(k)
    q, _ = numpy.linalg.qr(rng.normal(size=(2**k, 2**k)) + 1j * rng.normal(size=(2**k, 2**k)))
    return numpy.ascontiguousarray(q).view(float).ravel().tolist()


def _random(count, seed=1):
    import random
    rng = random.Random(seed)
    return [rng.random() for _ in range(count)]


def _symmetric(n):
    a = _random(n * n)
    return [a[i * n + j] + a[j * n + i] for i in range(n) for j in range(n)]


class F(float):
    """Items of a float subclass take the per-item conversion path."""


def _ghz_tableau(n):
    import nimbic_native as nn
    return nn.clifford_tableau([0, 0, 0] + sum(([6, 0, q] for q in range(1, n)), []) + [0, 1, 0], n)


# name -> (function, argument builder). Uninterrupted, each call takes
# seconds; the comment says where its time goes.
CASES = {
    # sampling 10^8 repetitions, then a list of 10^8 ints
    "clifford_run": ("clifford_run", lambda: ([0, 0, 0, 9, 0, 0], 1, [], 10**8, 1)),
    # the 12-qubit transform, then a list of 2^25 floats
    "pauli_expansion": ("pauli_expansion", lambda: ([0.5] * (2 * 4**12), 12)),
    # a 2^13 x 2^13 outer product, then a list of 2^27 floats
    "state_to_density": ("state_to_density", lambda: ([1.0] + [0.0] * (2**14 - 1),)),
    "matmul": ("matmul", lambda: ([0.5] * (2 * 1024**2), [0.25] * (2 * 1024**2), 1024)),
    "matrix_inverse": ("matrix_inverse", lambda: (_random(2 * 800**2), 800)),
    "matrix_det": ("matrix_det", lambda: (_random(2 * 1000**2), 1000)),
    "simultaneous_diag": ("simultaneous_diag", lambda: (_symmetric(300), _symmetric(300), 300)),
    "channel": ("channel", lambda: ([0.5] * (2 * 400**2), [0.25] * (3 * 2 * 400**2), 3, 400)),
    # a tableau of 12001^2 entries, then its list
    "clifford_tableau": ("clifford_tableau", lambda: ([0, 0, 0], 6000)),
    # a list of 1.8 * 10^7 floats
    "dagger": ("dagger", lambda: ([0.5] * (2 * 3000**2), 3000)),
    "jacobi_eig": ("jacobi_eig", lambda: (_symmetric(400), 400)),
    "sandwich": ("sandwich", lambda: ([0.5] * (2 * 800**2), [0.25] * (2 * 800**2), 800)),
    # a list of 2^25 floats
    "kron": ("kron", lambda: ([0.5] * (2 * 64**2), 64, [0.25] * (2 * 64**2), 64)),
    "embed_operator": ("embed_operator", lambda: ([0.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.0], 2, [3], 13)),
    "clifford_state_vector": ("clifford_state_vector", lambda: (_ghz_tableau(25), 25)),
    "apply_gate": ("apply_gate", lambda: ([1.0] + [0.0] * (2**22 - 1), _unitary(10), 21, list(range(10)))),
    # per-item conversion of 3 * 10^7 items
    "sample_outcome": ("sample_outcome", lambda: ([F(0.0)] * (3 * 10**7), 0.5)),
}


def child_main(name, rounds):
    import resource

    import nimbic_native as nn
    function, build = CASES[name]
    call = getattr(nn, function)
    args = build()
    saved = [list(a) if isinstance(a, list) else a for a in args]
    for _ in range(rounds):
        ends = []

        def profile(frame, event, arg):  # how the call itself ended
            if event in ("c_return", "c_exception") and arg is call:
                ends.append(event)

        print("ready", flush=True)
        ended = None
        sys.setprofile(profile)
        try:
            try:
                call(*args)
            finally:
                ended = time.monotonic()
                sys.setprofile(None)
        except KeyboardInterrupt:
            pass
        if ended is None:  # the signal came after the call, before the stamp
            ended = time.monotonic()
        report = dict(ended=ended, raised=ends == ["c_exception"], intact=list(args) == saved,
                      usable=nn.apply_gate([1.0, 0.0, 0.0, 0.0], [0, 0, 1, 0, 1, 0, 0, 0], 1, [0]) == [0, 0, 1, 0],
                      rss_kib=resource.getrusage(resource.RUSAGE_SELF).ru_maxrss, current_rss=current_rss())
        print(json.dumps(report), flush=True)


def current_rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def interrupt(name, delay, rounds=1, timeout=600):
    """Runs case `name` in a child and sends SIGINT `delay` seconds into each
    of `rounds` calls; returns the child's reports with `latency` added (from
    the signal to the end of the call, in seconds)."""
    import signal
    code = f"import sys; sys.path.insert(0, {HERE!r}); import interrupt_cases; " \
           f"interrupt_cases.child_main({name!r}, {rounds})"
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True)
    reports = []
    try:
        for _ in range(rounds):
            line = child.stdout.readline()
            assert line == "ready\n", (line, child.stderr.read()[-2000:] if not line else "")
            time.sleep(delay)
            sent = time.monotonic()
            child.send_signal(signal.SIGINT)
            line = child.stdout.readline()
            assert line, child.stderr.read()[-2000:]
            report = json.loads(line)
            report["latency"] = report["ended"] - sent
            reports.append(report)
        assert child.wait(timeout) == 0, child.stderr.read()[-2000:]
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    return reports
