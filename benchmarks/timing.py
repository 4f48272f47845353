"""Timing helper shared by the benchmark scripts."""
import time


def best_times(fns, repeats):
    """Best time of each callable; the callables take turns, so that load
    from other processes falls on all of them alike."""
    best = [float("inf")] * len(fns)
    for _ in range(repeats):
        for i, fn in enumerate(fns):
            t0 = time.perf_counter()
            fn()
            best[i] = min(best[i], time.perf_counter() - t0)
    return best
