"""Calls leave nothing behind: over 100,000 calls of every entry point, half
of them succeeding and half failing, resident memory grows by less than
5 MiB and no argument, callable or class gains or loses a reference.

Resident memory under AddressSanitizer includes freed memory held in
quarantine, so these checks run in the normal build only.
"""
import gc
import sys

import pytest

from conftest import SESSION_REPORT, needs_plain_allocator, rss_bytes
from entry_points import ARGS, CLASSES, FAIL_ARGS, FAIL_COUNT, all_entry_points, callable_of, prepared

pytestmark = pytest.mark.slow

CALLS = 100_000
GROWTH = {}


def referenced_objects(fn, args):
    """The callable, its object or class, and every argument container and
    item whose reference count a call could disturb."""
    objs = [fn, getattr(fn, "__self__", fn)]
    for a in args:
        objs.append(a)
        if isinstance(a, (list, tuple)):
            objs.extend(a)
    return objs


def paths(entry):
    """(callable, args) of the succeeding and of the failing call."""
    ok_obj = fail_obj = None
    if "." in entry:
        ok_obj = prepared(entry.split(".")[0])
        fail_obj = prepared(entry.split(".")[0])
        if entry in FAIL_COUNT:
            fail_obj.num_qubits = FAIL_COUNT[entry]
    return (callable_of(entry, ok_obj), ARGS.get(entry, ())), (callable_of(entry, fail_obj), FAIL_ARGS[entry])


def run(ok, fail, times):
    (ok_fn, ok_args), (fail_fn, fail_args) = ok, fail
    for _ in range(times):
        ok_fn(*ok_args)
        try:
            fail_fn(*fail_args)
        except (TypeError, OverflowError, RuntimeError, MemoryError):
            pass
        else:
            raise AssertionError("the failing call succeeded")


@needs_plain_allocator
@pytest.mark.parametrize("entry", all_entry_points())
def test_entry_point_leaks_nothing(entry):
    ok, fail = paths(entry)
    run(ok, fail, 500)  # allocator pools and caches settle first
    gc.collect()
    watched = referenced_objects(*ok) + referenced_objects(*fail)
    if entry in CLASSES:
        watched.append(CLASSES[entry])  # every instance holds its type
    # Statically allocated objects (small ints, None, True) start near 10^9
    # references and move with any code that touches them: not watched.
    watched = [o for o in watched if sys.getrefcount(o) < 10**8]
    refs = [sys.getrefcount(o) for o in watched]
    before = rss_bytes()
    run(ok, fail, CALLS // 2)
    gc.collect()
    growth = rss_bytes() - before
    GROWTH[entry] = growth
    SESSION_REPORT["resident memory growth over 100,000 calls"] = [
        f"{name:36s} {GROWTH[name] / 1024:8.0f} KiB" for name in sorted(GROWTH)]
    assert [sys.getrefcount(o) for o in watched] == refs
    assert growth < 5 * 2**20
