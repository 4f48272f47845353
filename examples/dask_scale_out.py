"""Scale out on Dask: Clifford shots (sampled and counted bit-packed) and a
NativeState parameter sweep on a dask.distributed cluster, reproducible from
one seed on any cluster size. The recipe lives in nimbic_scale.dask.

    pip install '.[distributed]'
    python examples/dask_scale_out.py                                # LocalCluster here
    python examples/dask_scale_out.py --scheduler tcp://HOST:8786    # a running cluster
    python examples/dask_scale_out.py --shots 10000000 --progress    # with a progress bar

Batch i of the shots runs with the seed `batch_seeds(seed, num_batches)[i]`,
whatever the number of workers, so the counts do not depend on the cluster
(see nimbic_scale.dask). Every worker needs nimbic_native and nimbic_scale
installed (the same version).
"""

import argparse
import math

import nimbic_native as nn
from nimbic_scale.dask import batch_sizes, distributed_counts, distributed_sweep

H, CNOT, MEASURE = 0, 6, 9


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
