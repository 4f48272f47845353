import math
import os
import sys

import pytest

import nimbic_native as nn

# Under AddressSanitizer freed memory sits in quarantine, so resident-memory
# checks only mean something in the normal build.
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")
needs_plain_allocator = pytest.mark.skipif(SANITIZED, reason="memory is quarantined under ASan")


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


SQRT_HALF = 1 / math.sqrt(2)
# Gates as flat interleaved row-major lists.
H = [SQRT_HALF, 0.0, SQRT_HALF, 0.0, SQRT_HALF, 0.0, -SQRT_HALF, 0.0]
X = [0.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.0]
CNOT = [1.0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 1.0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 1.0, 0,
        0, 0, 0, 0, 1.0, 0, 0, 0]


@pytest.fixture
def bell():
    s = nn.NativeState(2)
    s.set_zero_state()
    s.apply_gate(H, [0])
    s.apply_gate(CNOT, [0, 1])
    return s


def pytest_collection_modifyitems(config, items):
    # Peer cross-checks run only when the -m expression names them, so that
    # `python -m pytest` and `python -m pytest -m "not slow"` need no peers.
    if "peers" in (config.getoption("markexpr") or ""):
        return
    kept = [item for item in items if item.get_closest_marker("peers") is None]
    if len(kept) != len(items):
        config.hook.pytest_deselected(items=[item for item in items if item.get_closest_marker("peers")])
        items[:] = kept


def pytest_report_header():
    return f"nimbic_native: {nn.__file__}"


# Figures that tests report at the end of the session: title -> lines.
SESSION_REPORT = {}


def pytest_terminal_summary(terminalreporter):
    calls = getattr(sys.modules.get("test_fuzz"), "CALLS", None)
    if calls:
        SESSION_REPORT["fuzz calls per entry point"] = [
            f"{name:36s} {calls[name]:8d}" for name in sorted(calls)] + [
            f"{'total':36s} {sum(calls.values()):8d}"]
    for title, lines in SESSION_REPORT.items():
        terminalreporter.section(title)
        for line in lines:
            terminalreporter.write_line(line)
