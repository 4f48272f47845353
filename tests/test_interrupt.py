"""Ctrl-C during long calls, in child processes that receive a real SIGINT:
a module function stops with KeyboardInterrupt, its arguments unchanged and
nothing kept; an in-place method finishes its change first; signal handlers
that run inside a call cannot reach its half-built data."""
import os
import signal
import subprocess
import sys
import time

import pytest

from conftest import SANITIZED, SESSION_REPORT
from interrupt_cases import CASES, interrupt, signal_at

DELAY = 0.3  # seconds into a call that runs for seconds


@pytest.mark.parametrize("name", sorted(CASES))
def test_sigint_stops_a_long_module_call_soon(name):
    """The signal goes after the argument conversion, in the first quarter
    of the rest of the call; it must be answered within a third of the time
    the uninterrupted call (made just before, in the same child) had left."""
    report, = interrupt(name, DELAY, timed=True)
    if report["latency"] < 0:
        pytest.skip("the call ended before the signal")
    left = report["whole"] - signal_at(DELAY, report)
    SESSION_REPORT.setdefault(f"SIGINT latency, signal up to {DELAY} s into the call", []).append(
        f"{name:32s} {report['latency'] * 1e3:8.1f} ms of {left * 1e3:7.1f} ms left")
    assert report["raised"], "the call ran to its end and the interrupt came after it"
    assert report["intact"] and report["usable"]
    assert report["latency"] < left / 3, f"answered after {report['latency']:.3f} s of the {left:.3f} s left"


@pytest.mark.skipif(SANITIZED, reason="resident memory includes the sanitizer's quarantine")
def test_interrupted_calls_keep_nothing():
    first, _, third = interrupt("dagger", 0.5, rounds=3)
    assert first["raised"] and third["raised"]
    assert third["rss"] - first["rss"] < 64 * 2**20


IN_PLACE = f"""
import sys, time
sys.path.insert(0, {os.path.dirname(__file__)!r})
import nimbic_native as nn
from interrupt_cases import _random, _unitary
gate, amps, state = _unitary(9), _random(2**21), nn.NativeState(20)
state.set_amplitudes(amps)  # every group of amplitudes changes
want = nn.apply_gate(amps, gate, 20, list(range(9)))
print("ready", flush=True)
try:
    state.apply_gate(gate, list(range(9)))
    time.sleep(5)  # the pending signal is raised here
except KeyboardInterrupt:
    print(state.amplitudes() == want)
"""


def test_in_place_method_is_never_cut_short():
    child = subprocess.Popen([sys.executable, "-c", IN_PLACE], stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "ready\n"
    time.sleep(0.05)
    child.send_signal(signal.SIGINT)
    assert child.communicate()[0] == "True\n" and child.returncode == 0


HANDLERS = """
import gc, signal
import nimbic_native as nn
items = [0.5] * (2 * 10**7)
signal.signal(signal.SIGALRM, lambda *_: items.clear())  # empties the argument being converted
signal.setitimer(signal.ITIMER_REAL, 0.01)
try:
    nn.add_scaled(items, items, 3162, 1.0)
except IndexError as e:
    print(e)

def scan(*_):  # reads every list the cycle collector knows, then comes again
    [sum(x) for x in gc.get_objects() if type(x) is list and len(x) == 2**23]
    signal.setitimer(signal.ITIMER_REAL, 0.01)

signal.signal(signal.SIGALRM, scan)
signal.setitimer(signal.ITIMER_REAL, 0.01)
result = nn.state_to_density([0.5] * 2**12)
signal.signal(signal.SIGALRM, signal.SIG_IGN)
print(len(result), result[-1])
"""


def test_signal_handlers_inside_a_call_cannot_break_it():
    run = subprocess.run([sys.executable, "-c", HANDLERS], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr[-2000:]
    assert run.stdout.splitlines() == ["list index out of range", f"{2**23} 0.0"]
