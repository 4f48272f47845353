"""Any Python thread may call any entry point; threads end cleanly."""
import threading

import nimbic_native as nn
from conftest import CNOT, H, needs_plain_allocator, rss_bytes


def bell_probabilities():
    s = nn.NativeState(2)
    s.set_zero_state()
    s.apply_gate(H, [0])
    s.apply_gate(CNOT, [0, 1])
    return s.probabilities([0, 1])


def run_in_thread(fn):
    out = []
    t = threading.Thread(target=lambda: out.append(fn()))
    t.start()
    t.join(timeout=30)
    assert not t.is_alive()
    return out[0]


def test_fresh_thread_calls_work_and_end():
    assert run_in_thread(nn.version) == "0.1.0"
    assert run_in_thread(bell_probabilities) == bell_probabilities()


def test_errors_in_threads_are_exceptions():
    def bad():
        try:
            nn.apply_gate([1.0, 0.0], [1.0], 1, [0])
        except RuntimeError as e:
            return str(e)
    assert run_in_thread(bad) == "panic in native code: array.get: index out of range (i,a.len):1, 1"


@needs_plain_allocator
def test_many_short_lived_threads_leave_nothing_behind():
    baseline_threads = threading.active_count()
    for _ in range(20):
        run_in_thread(bell_probabilities)
    before = rss_bytes()
    for _ in range(500):
        run_in_thread(bell_probabilities)
    assert threading.active_count() == baseline_threads
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
