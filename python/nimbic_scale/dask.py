"""Clifford shots and NativeState parameter sweeps on a Dask cluster,
reproducible from one seed on any cluster size (``pip install '.[distributed]'``).

Seeds: the shots are cut into batches of ``batch_size`` (the last one
shorter), whatever the number of workers, and batch i runs with the seed
``batch_seeds(seed, num_batches)[i]``: numpy's SeedSequence(seed) spawns one
child per batch, and the child's first 64-bit word, shifted right by one
bit, is the seed (the samplers take a signed 64-bit seed). A batch is
sampled bit-packed and counted packed, in slices of bounded memory; counts
are summed over the batches, so the same call gives the same counts on one
worker or a thousand, and a batch that Dask retries after losing a worker
gives the same shots again. Every worker needs this package installed (the
same version). dask and distributed are imported only when a function
needs them.
"""

from __future__ import annotations

import cmath
import copy
import math
from collections import Counter
from collections.abc import Iterable, Sequence
from typing import Any

from nimbic_native import NativeState
from nimbic_scale.sampling import clifford_run_batches, packed_counts

__all__ = ["batch_sizes", "batch_seeds", "count_batch", "distributed_counts", "distributed_sweep", "ry", "rz",
           "sweep_point", "z_parity"]

# Bytes of packed rows a batch holds in memory at a time while it is counted.
SLICE_BYTES = 16 << 20


def batch_sizes(shots: int, batch_size: int) -> list[int]:
    """Shot counts of the batches: `batch_size` each, the last one shorter."""
    full, rest = divmod(shots, batch_size)
    return [batch_size] * full + ([rest] if rest else [])


def batch_seeds(seed: int, num_batches: int) -> list[int]:
    """One sampler seed per batch, derived from the one user seed."""
    import numpy

    children = numpy.random.SeedSequence(seed).spawn(num_batches)
    return [int(child.generate_state(1, numpy.uint64)[0] >> numpy.uint64(1)) for child in children]


def count_batch(instructions: Sequence[int], num_qubits: int, invert_mask: Sequence[int], repetitions: int,
                seed: int) -> dict[str, int]:
    """Runs one batch and counts its outcomes as bit strings ('0110', ...),
    sampling it packed in slices of at most SLICE_BYTES."""
    m = sum(1 for i in range(0, len(instructions) - 2, 3) if instructions[i] == 9)
    rows = max(1, SLICE_BYTES // max(1, (m + 7) // 8))
    return packed_counts(clifford_run_batches(list(instructions), num_qubits, list(invert_mask), repetitions, seed,
                                              rows), m)


def distributed_counts(client: Any, instructions: Sequence[int], num_qubits: int, invert_mask: Sequence[int],
                       shots: int, seed: int, batch_size: int = 100_000, progress: bool = False) -> dict[str, int]:
    """Outcome counts of `shots` shots of a Clifford circuit, run as batches on
    the workers of `client` (a distributed.Client); the same for any number
    of workers."""
    sizes = batch_sizes(shots, batch_size)
    seeds = batch_seeds(seed, len(sizes))
    # Deterministic task names: a batch lost with its worker is recomputed
    # under the same name with the same seed.
    keys = [f"clifford-batch-{seed}-{batch_size}-{i}" for i in range(len(sizes))]
    futures = client.map(count_batch, [instructions] * len(sizes), [num_qubits] * len(sizes),
                         [invert_mask] * len(sizes), sizes, seeds, key=keys)
    if progress:
        from distributed import progress as show_progress

        show_progress(futures)  # type: ignore[no-untyped-call,unused-ignore]
    total: Counter[str] = Counter()
    for counts in client.gather(futures):
        total.update(counts)
    return dict(sorted(total.items()))


def ry(theta: float) -> list[float]:
    """RY(theta) as an interleaved 2 x 2 matrix."""
    c, s = math.cos(theta / 2), math.sin(theta / 2)
    return [c, 0.0, -s, 0.0, s, 0.0, c, 0.0]


def rz(phi: float) -> list[float]:
    """RZ(phi) as an interleaved 2 x 2 matrix."""
    a, b = cmath.exp(-0.5j * phi), cmath.exp(0.5j * phi)
    return [a.real, a.imag, 0.0, 0.0, 0.0, 0.0, b.real, b.imag]


def z_parity(state: NativeState, num_qubits: int) -> float:
    """<Z...Z> of a state: the probability-weighted parity of every outcome."""
    probabilities = state.probabilities(list(range(num_qubits)))
    return math.fsum(p if bin(k).count("1") % 2 == 0 else -p for k, p in enumerate(probabilities))


def sweep_point(prepared: NativeState, theta: float) -> float:
    """<Z...Z> after RY(theta) and RZ(theta / 2) on every qubit of a copy of
    the prepared state (the workers receive it pickled, once each)."""
    state = copy.copy(prepared)
    n = state.num_qubits
    for q in range(n):
        state.apply_gate(ry(theta), [q])
        state.apply_gate(rz(theta / 2), [q])
    return z_parity(state, n)


def distributed_sweep(client: Any, prepared: NativeState, thetas: Iterable[float]) -> list[float]:
    """sweep_point for every angle, one task each, in the order of `thetas`."""
    angles = list(thetas)
    shared = client.scatter(prepared, broadcast=True)
    return list(client.gather(client.map(sweep_point, [shared] * len(angles), angles)))
