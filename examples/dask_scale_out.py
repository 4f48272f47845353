"""Scale out on Dask: clifford_run shots and a NativeState parameter sweep on
a dask.distributed cluster, reproducible from one seed on any cluster size.

    pip install '.[distributed]'
    python examples/dask_scale_out.py                                # LocalCluster here
    python examples/dask_scale_out.py --scheduler tcp://HOST:8786    # a running cluster
    python examples/dask_scale_out.py --shots 10000000 --progress    # with a progress bar

Seeds: the shots are cut into batches of `batch_size` (the last one shorter),
whatever the number of workers, and batch i runs `clifford_run` with the seed
`batch_seeds(seed, num_batches)[i]`: numpy's SeedSequence(seed) spawns one child
per batch, and the child's first 64-bit word, shifted right by one bit, is
the seed (clifford_run takes a signed 64-bit seed). Counts are summed over the
batches, so the same call gives the same counts on one worker or a thousand,
and a batch that Dask retries after losing a worker gives the same shots again.
Every worker needs nimbic_native installed (the same version).
"""

import argparse
import cmath
import copy
import math
from collections import Counter

import numpy

import nimbic_native as nn

H, CNOT, MEASURE = 0, 6, 9
BITS_AS_TEXT = bytes.maketrans(b"\x00\x01", b"01")


def batch_sizes(shots, batch_size):
    """Shot counts of the batches: `batch_size` each, the last one shorter."""
    full, rest = divmod(shots, batch_size)
    return [batch_size] * full + ([rest] if rest else [])


def batch_seeds(seed, num_batches):
    """One clifford_run seed per batch, derived from the one user seed."""
    children = numpy.random.SeedSequence(seed).spawn(num_batches)
    return [int(child.generate_state(1, numpy.uint64)[0] >> numpy.uint64(1)) for child in children]


def count_batch(instructions, num_qubits, invert_mask, repetitions, seed):
    """Runs one batch and counts its outcomes as bit strings ('0110', ...)."""
    bits = nn.clifford_run(instructions, num_qubits, invert_mask, repetitions, seed)
    width = len(bits) // repetitions if repetitions else 0
    row_bytes = bytes(bits)
    return Counter(row_bytes[r * width:(r + 1) * width].translate(BITS_AS_TEXT).decode()
                   for r in range(repetitions))


def distributed_counts(client, instructions, num_qubits, invert_mask, shots, seed, batch_size=100_000,
                       progress=False):
    """Outcome counts of `shots` shots of a Clifford circuit, run as batches on
    the workers of `client`; the same for any number of workers."""
    sizes = batch_sizes(shots, batch_size)
    seeds = batch_seeds(seed, len(sizes))
    # Deterministic task names: a batch lost with its worker is recomputed
    # under the same name with the same seed.
    keys = [f"clifford-batch-{seed}-{batch_size}-{i}" for i in range(len(sizes))]
    futures = client.map(count_batch, [instructions] * len(sizes), [num_qubits] * len(sizes),
                         [invert_mask] * len(sizes), sizes, seeds, key=keys)
    if progress:
        from distributed import progress as show_progress
        show_progress(futures)
    total = Counter()
    for counts in client.gather(futures):
        total.update(counts)
    return dict(sorted(total.items()))


def ry(theta):
    c, s = math.cos(theta / 2), math.sin(theta / 2)
    return [c, 0.0, -s, 0.0, s, 0.0, c, 0.0]


def rz(phi):
    a, b = cmath.exp(-0.5j * phi), cmath.exp(0.5j * phi)
    return [a.real, a.imag, 0.0, 0.0, 0.0, 0.0, b.real, b.imag]


def z_parity(state, num_qubits):
    """<Z...Z> of a state: the probability-weighted parity of every outcome."""
    probabilities = state.probabilities(list(range(num_qubits)))
    return math.fsum(p if bin(k).count("1") % 2 == 0 else -p for k, p in enumerate(probabilities))


def sweep_point(prepared, theta):
    """<Z...Z> after RY(theta) and RZ(theta / 2) on every qubit of a copy of
    the prepared state (the workers receive it pickled, once each)."""
    state = copy.copy(prepared)
    n = state.num_qubits
    for q in range(n):
        state.apply_gate(ry(theta), [q])
        state.apply_gate(rz(theta / 2), [q])
    return z_parity(state, n)


def distributed_sweep(client, prepared, thetas):
    """sweep_point for every angle, one task each, in the order of `thetas`."""
    shared = client.scatter(prepared, broadcast=True)
    return client.gather(client.map(sweep_point, [shared] * len(thetas), list(thetas)))


def ghz_circuit(n):
    return [H, 0, 0] + [v for q in range(1, n) for v in (CNOT, q - 1, q)] + [
        v for q in range(n) for v in (MEASURE, q, 0)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scheduler", help="address of a running scheduler (default: a LocalCluster here)")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster workers")
    parser.add_argument("--shots", type=int, default=1_000_000)
    parser.add_argument("--batch-size", type=int, default=100_000)
    parser.add_argument("--seed", type=int, default=2024)
    parser.add_argument("--progress", action="store_true", help="show Dask's progress bar")
    args = parser.parse_args()

    from distributed import Client, LocalCluster

    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=":0")
        client = Client(cluster)
    try:
        n = 12
        counts = distributed_counts(client, ghz_circuit(n), n, [], args.shots, args.seed, args.batch_size,
                                    progress=args.progress)
        print(f"{args.shots} GHZ shots in {len(batch_sizes(args.shots, args.batch_size))} batches "
              f"on {len(client.scheduler_info()['workers'])} workers: {counts}")
        assert set(counts) <= {"0" * n, "1" * n} and sum(counts.values()) == args.shots

        prepared = nn.NativeState(10)
        prepared.set_zero_state()
        thetas = [k * math.pi / 8 for k in range(9)]
        values = distributed_sweep(client, prepared, thetas)
        print("theta/pi and <Z...Z>: " + ", ".join(f"{t / math.pi:.3f}: {v:+.4f}" for t, v in zip(thetas, values)))
        # Each qubit ends with <Z> = cos(theta), independently: <Z...Z> = cos(theta)^10.
        assert all(abs(v - math.cos(t) ** 10) < 1e-12 for t, v in zip(thetas, values))
        print("sweep matches cos(theta)^10")
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


if __name__ == "__main__":
    main()
