"""Ctrl-C during long calls: a module function stops at its next chunk with
KeyboardInterrupt, its arguments unchanged and the module usable; an
in-place method finishes its change first; signal handlers that run inside
a call cannot reach its half-built data. Each run is a child process that
receives a real SIGINT."""
import os
import subprocess
import sys
import textwrap

import pytest

from conftest import SANITIZED, SESSION_REPORT
from interrupt_cases import CASES, interrupt

DELAY = 0.3  # seconds into a call that runs for seconds


@pytest.mark.parametrize("name", sorted(CASES))
def test_sigint_stops_a_long_module_call(name):
    report, = interrupt(name, DELAY)
    if report["latency"] < 0:
        pytest.skip("the call ended before the signal")
    SESSION_REPORT.setdefault(f"SIGINT latency, signal {DELAY} s into the call", []).append(
        f"{name:24s} {report['latency'] * 1e3:8.1f} ms")
    assert report["raised"], "the call ran to its end and the interrupt came after it"
    assert report["intact"] and report["usable"]


@pytest.mark.skipif(SANITIZED, reason="resident memory includes the sanitizer's quarantine")
def test_interrupted_calls_keep_nothing():
    reports = interrupt("state_to_density", 1.0, rounds=3)
    assert all(r["raised"] for r in reports)
    assert reports[2]["current_rss"] - reports[0]["current_rss"] < 64 * 2**20


METHOD_CHILD = textwrap.dedent("""
    import sys, time
    sys.path.insert(0, {here!r})
    import nimbic_native as nn
    from interrupt_cases import _random, _unitary
    n, targets = 20, list(range(9))
    gate = _unitary(9)
    amps = _random(2**(n + 1))  # every group of amplitudes changes
    state = nn.NativeState(n)
    state.set_amplitudes(amps)
    want = nn.apply_gate(amps, gate, n, targets)
    print("ready", flush=True)
    try:
        state.apply_gate(gate, targets)
        time.sleep(5)  # the pending signal is raised here, after the method
        print("no interrupt")
    except KeyboardInterrupt:
        print(state.amplitudes() == want)
""")


def test_in_place_method_is_never_cut_short():
    import signal
    import time
    child = subprocess.Popen([sys.executable, "-c", METHOD_CHILD.format(here=os.path.dirname(__file__))],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "ready\n"
    time.sleep(0.05)
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=300)
    assert child.returncode == 0, err[-2000:]
    assert out == "True\n"


HANDLER_CHILD = textwrap.dedent("""
    import gc, signal, sys
    import nimbic_native as nn
    items = [0.5] * (2 * 10**7)

    def shrink(signum, frame):
        items.clear()

    def scan(signum, frame):  # reads every list the collector knows
        for obj in gc.get_objects():
            if type(obj) is list and len(obj) == 2**23:
                sum(obj)
        signal.setitimer(signal.ITIMER_REAL, 0.01)

    signal.signal(signal.SIGALRM, shrink)
    signal.setitimer(signal.ITIMER_REAL, 0.01)
    try:
        nn.add_scaled(items, items, 3162, 1.0)
        print("converted")
    except IndexError as e:
        print("IndexError:", e)
    signal.signal(signal.SIGALRM, scan)
    signal.setitimer(signal.ITIMER_REAL, 0.01)
    result = nn.state_to_density([0.5] * 2**12)
    signal.signal(signal.SIGALRM, signal.SIG_IGN)
    print(len(result), result[-1])
""")


def test_signal_handlers_inside_a_call_cannot_break_it():
    # A handler that empties the argument being converted, and one that walks
    # the collector's lists while a result list is being filled.
    run = subprocess.run([sys.executable, "-c", HANDLER_CHILD], capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr[-2000:]
    assert run.stdout.splitlines() == ["IndexError: list index out of range", f"{2**23} 0.0"]
