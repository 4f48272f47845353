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


# name -> (function, argument builder); uninterrupted, each call takes about a
# second or more. Most spend it in the kernel, on small arguments and results,
# so that a signal lands where the kernel's own stop checks answer it. Those
# whose work is mostly their result list (the kernel only copies or scales
# into it) or their argument conversion say so: there the list building and
# the conversion answer.
CASES = {
    "clifford_run": ("clifford_run", lambda: ([0, 0, 0, 9, 0, 0], 1, [], 5 * 10**7, 1)),
    "pauli_expansion": ("pauli_expansion", lambda: ([0.5] * (2 * 4**11), 11)),  # the kernel, then the result list
    "state_to_density": ("state_to_density", lambda: ([1.0] + [0.0] * (2**12 - 1),)),  # the result list
    "matmul": ("matmul", lambda: ([0.5] * (2 * 900**2), [0.25] * (2 * 900**2), 900)),
    "matrix_inverse": ("matrix_inverse", lambda: (_random(2 * 700**2), 700)),
    "matrix_det": ("matrix_det", lambda: (_random(2 * 1200**2), 1200)),
    "jacobi_eig": ("jacobi_eig", lambda: (_symmetric(350), 350)),
    "simultaneous_diag": ("simultaneous_diag", lambda: (_symmetric(350), _symmetric(350), 350)),
    "sandwich": ("sandwich", lambda: ([0.5] * (2 * 700**2), [0.25] * (2 * 700**2), 700)),
    "channel": ("channel", lambda: ([0.5] * (2 * 500**2), [0.25] * (3 * 2 * 500**2), 3, 500)),
    "kron": ("kron", lambda: ([0.5] * (2 * 64**2), 64, [0.25] * (2 * 64**2), 64)),  # the result list
    "dagger": ("dagger", lambda: ([0.5] * (2 * 3000**2), 3000)),  # the result list
    "embed_operator": ("embed_operator", lambda: (_unitary(6), 64, list(range(6)), 12)),
    "clifford_tableau": ("clifford_tableau", lambda: ([0, 0, 0], 5000)),  # the result list
    "clifford_state_vector": ("clifford_state_vector", lambda: (_ghz(24), 24)),  # the result list
    "apply_gate": ("apply_gate", lambda: ([1.0] + [0.0] * (2**22 - 1), _unitary(10), 21, list(range(10)))),
    "sample_outcome": ("sample_outcome", lambda: ([F(0.0)] * (3 * 10**7), 0.5)),  # the conversion
    # A signal handler that runs inside the call (at its first stop check
    # after 0.1 s) calls an in-place method, which has no stop check; the
    # call's own check must be back when the method returns.
    "matmul, handler calls a method": ("matmul", lambda: ([0.5] * (2 * 900**2), [0.25] * (2 * 900**2), 900)),
}
NESTED = {"matmul, handler calls a method"}
# Cases whose arguments take a while to convert: with these arguments the
# call returns at once after converting them, so the child can time that
# and the signal can be sent that much later, into the kernel.
CONVERSION_ONLY = {"pauli_expansion": lambda args: (args[0], 40)}


def child_main(name, rounds, timed=False):
    import nimbic_native as nn
    function, build = CASES[name]
    call, args = getattr(nn, function), build()
    saved = [list(a) if isinstance(a, list) else a for a in args]
    if timed:  # the uninterrupted call, for the parent to weigh the latency against
        t = time.monotonic()
        call(*args)
        whole = time.monotonic() - t
        t = time.monotonic()
        if name in CONVERSION_ONLY:
            call(*CONVERSION_ONLY[name](args))
        print(json.dumps(dict(whole=whole, conversion=time.monotonic() - t if name in CONVERSION_ONLY else 0.0)),
              flush=True)
    if name in NESTED:
        state = nn.NativeState(1)
        state.set_zero_state()
        signal.signal(signal.SIGALRM, lambda *_: state.apply_gate([0, 0, 1, 0, 1, 0, 0, 0], [0]))
    for _ in range(rounds):
        ends, ended = [], None
        signal.signal(signal.SIGINT, signal.default_int_handler)
        print("ready", flush=True)
        if name in NESTED:
            signal.setitimer(signal.ITIMER_REAL, 0.1)
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


def signal_at(delay, timing):
    """When the signal goes, in seconds from the call's start: `delay`, or
    with the uninterrupted call's timing (see interrupt), `delay` after the
    argument conversion but within the first quarter of the rest."""
    if not timing:
        return delay
    return timing["conversion"] + min(delay, (timing["whole"] - timing["conversion"]) / 4)


def interrupt(name, delay, rounds=1, timed=False):
    """Sends SIGINT `delay` seconds into each of `rounds` calls of case
    `name` in a child; returns the reports with the latency from the signal
    to the end of the call (negative when the call ended first). With
    `timed`, the child first makes the call once uninterrupted, each report
    has its duration ("whole") and that of converting its long arguments
    ("conversion", 0 when short), and the signal goes at signal_at()."""
    code = f"import sys; sys.path.insert(0, {os.path.dirname(__file__)!r}); import interrupt_cases; " \
           f"interrupt_cases.child_main({name!r}, {rounds}, {timed})"
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    reports = []
    try:
        whole = json.loads(child.stdout.readline() or "null") if timed else {}
        assert whole is not None, child.stderr.read()[-2000:]
        for _ in range(rounds):
            assert child.stdout.readline() == "ready\n", child.stderr.read()[-2000:]
            time.sleep(signal_at(delay, whole))
            sent = time.monotonic()
            os.kill(child.pid, 2)
            line = child.stdout.readline()
            assert line, child.stderr.read()[-2000:]
            reports.append(dict(json.loads(line), latency=json.loads(line)["ended"] - sent, **whole))
        assert child.wait() == 0, child.stderr.read()[-2000:]
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    return reports
