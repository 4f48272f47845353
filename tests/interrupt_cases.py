"""Long module calls, and a child process that runs one until SIGINT.

Shared by tests/test_interrupt.py and benchmarks/reliability.py. The child
builds the arguments, prints "ready", makes the call and reports as JSON
when the call ended (time.monotonic, the clock the parent stamps the signal
with), whether the call itself raised (a call that ignores the signal
returns, and KeyboardInterrupt comes after it), whether the arguments are
unchanged and the module still works, and its resident memory.
"""
import json
import os
import random
import signal
import subprocess
import sys
import time


def _random(count, seed=1):
    rng = random.Random(seed)
    return [rng.random() for _ in range(count)]


def _symmetric(n):
    a = _random(n * n)
    return [a[i * n + j] + a[j * n + i] for i in range(n) for j in range(n)]


def _unitary(k):
    import numpy
    rng = numpy.random.default_rng(k)
    q, _ = numpy.linalg.qr(rng.normal(size=(2**k, 2**k)) + 1j * rng.normal(size=(2**k, 2**k)))
    return numpy.ascontiguousarray(q).view(float).ravel().tolist()


class F(float):
    """Items of a float subclass take the per-item conversion path."""


def _ghz(n):
    import nimbic_native as nn
    return nn.clifford_tableau([0, 0, 0] + sum(([6, 0, q] for q in range(1, n)), []), n)


# name -> (function, argument builder); uninterrupted, each call takes seconds.
CASES = {
    "clifford_run": ("clifford_run", lambda: ([0, 0, 0, 9, 0, 0], 1, [], 10**8, 1)),
    "pauli_expansion": ("pauli_expansion", lambda: ([0.5] * (2 * 4**12), 12)),
    "state_to_density": ("state_to_density", lambda: ([1.0] + [0.0] * (2**14 - 1),)),
    "matmul": ("matmul", lambda: ([0.5] * (2 * 1024**2), [0.25] * (2 * 1024**2), 1024)),
    "matrix_inverse": ("matrix_inverse", lambda: (_random(2 * 800**2), 800)),
    "matrix_det": ("matrix_det", lambda: (_random(2 * 1500**2), 1500)),
    "jacobi_eig": ("jacobi_eig", lambda: (_symmetric(400), 400)),
    "simultaneous_diag": ("simultaneous_diag", lambda: (_symmetric(450), _symmetric(450), 450)),
    "sandwich": ("sandwich", lambda: ([0.5] * (2 * 800**2), [0.25] * (2 * 800**2), 800)),
    "channel": ("channel", lambda: ([0.5] * (2 * 700**2), [0.25] * (3 * 2 * 700**2), 3, 700)),
    "kron": ("kron", lambda: ([0.5] * (2 * 64**2), 64, [0.25] * (2 * 64**2), 64)),
    "dagger": ("dagger", lambda: ([0.5] * (2 * 3000**2), 3000)),  # mostly the result list
    "embed_operator": ("embed_operator", lambda: ([0.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.0], 2, [3], 13)),
    "clifford_tableau": ("clifford_tableau", lambda: ([0, 0, 0], 6000)),
    "clifford_state_vector": ("clifford_state_vector", lambda: (_ghz(25), 25)),
    "apply_gate": ("apply_gate", lambda: ([1.0] + [0.0] * (2**22 - 1), _unitary(10), 21, list(range(10)))),
    "sample_outcome": ("sample_outcome", lambda: ([F(0.0)] * (5 * 10**7), 0.5)),  # the conversion
}


def child_main(name, rounds):
    import nimbic_native as nn
    function, build = CASES[name]
    call, args = getattr(nn, function), build()
    saved = [list(a) if isinstance(a, list) else a for a in args]
    for _ in range(rounds):
        ends, ended = [], None
        signal.signal(signal.SIGINT, signal.default_int_handler)
        print("ready", flush=True)
        sys.setprofile(lambda frame, event, arg: ends.append(event) if arg is call else None)
        try:
            try:
                call(*args)
            finally:
                ended = time.monotonic()
                signal.signal(signal.SIGINT, lambda *_: None)  # a signal after the call changes nothing
                sys.setprofile(None)
        except KeyboardInterrupt:
            pass
        with open("/proc/self/statm") as f:
            rss = int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
        print(json.dumps(dict(ended=ended or time.monotonic(), raised=ends[-1:] == ["c_exception"], rss=rss,
                              intact=list(args) == saved, usable=nn.apply_gate([1, 0, 0, 0], [0, 0, 1, 0, 1, 0, 0, 0],
                                                                               1, [0]) == [0, 0, 1, 0])), flush=True)


def interrupt(name, delay, rounds=1):
    """Sends SIGINT `delay` seconds into each of `rounds` calls of case
    `name` in a child; returns the reports with the latency from the signal
    to the end of the call (negative when the call ended first)."""
    code = f"import sys; sys.path.insert(0, {os.path.dirname(__file__)!r}); import interrupt_cases; " \
           f"interrupt_cases.child_main({name!r}, {rounds})"
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    reports = []
    try:
        for _ in range(rounds):
            assert child.stdout.readline() == "ready\n", child.stderr.read()[-2000:]
            time.sleep(delay)
            sent = time.monotonic()
            os.kill(child.pid, 2)
            line = child.stdout.readline()
            assert line, child.stderr.read()[-2000:]
            reports.append(dict(json.loads(line), latency=json.loads(line)["ended"] - sent))
        assert child.wait() == 0, child.stderr.read()[-2000:]
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    return reports
