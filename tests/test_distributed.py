"""The Dask scale-out recipe (nimbic_scale.dask, called by
examples/dask_scale_out.py) on local clusters: the same counts on one and two
workers as clifford_run's lists give in one process, the same counts after a
worker dies in the middle of a run, and the NativeState sweep."""
import math
import os
import sys
from collections import Counter

import pytest

distributed = pytest.importorskip("distributed")
cloudpickle = pytest.importorskip("cloudpickle")

import nimbic_native as nn  # noqa: E402
from nimbic_scale import dask as recipe  # noqa: E402

# Workers cannot import this file: the plugin below travels by value.
cloudpickle.register_pickle_by_value(sys.modules[__name__])

N = 6
# GHZ on 6 qubits, then an X on qubit 2 read through the inverted mask.
CIRCUIT = [0, 0, 0] + [v for q in range(1, N) for v in (6, q - 1, q)] + [v for q in range(N) for v in (9, q, 0)]
INVERT = [0, 0, 1, 0, 0, 0]
SHOTS, BATCH, SEED = 25_000, 2_000, 77


def in_one_process():
    """The counts of the list-based recipe: clifford_run per batch, each row
    spelled out as a bit string."""
    total = Counter()
    for size, seed in zip(recipe.batch_sizes(SHOTS, BATCH), recipe.batch_seeds(SEED, 13)):
        bits = nn.clifford_run(CIRCUIT, N, INVERT, size, seed)
        total.update("".join(map(str, bits[r * N:(r + 1) * N])) for r in range(size))
    return dict(sorted(total.items()))


def test_packed_batches_count_like_lists():
    want = in_one_process()
    assert set(want) == {"001000", "110111"} and sum(want.values()) == SHOTS
    total = Counter()
    for size, seed in zip(recipe.batch_sizes(SHOTS, BATCH), recipe.batch_seeds(SEED, 13)):
        total.update(recipe.count_batch(CIRCUIT, N, INVERT, size, seed))
    assert dict(sorted(total.items())) == want


def local_client(workers):
    cluster = distributed.LocalCluster(n_workers=workers, threads_per_worker=1, dashboard_address=":0")
    return cluster, distributed.Client(cluster)


@pytest.fixture(scope="module")
def two_workers():
    cluster, client = local_client(2)
    yield client
    client.close()
    cluster.close()


def test_seed_rule():
    assert recipe.batch_sizes(SHOTS, BATCH) == [BATCH] * 12 + [1_000]
    seeds = recipe.batch_seeds(SEED, 13)
    assert seeds[:5] == recipe.batch_seeds(SEED, 5)  # batch i's seed does not depend on the batch count
    assert len(set(seeds)) == 13 and all(0 <= s < 2**63 for s in seeds)
    assert recipe.batch_seeds(SEED + 1, 1) != seeds[:1]


def test_same_counts_on_one_and_two_workers(two_workers):
    want = in_one_process()
    assert recipe.distributed_counts(two_workers, CIRCUIT, N, INVERT, SHOTS, SEED, BATCH) == want
    cluster, client = local_client(1)
    try:
        assert recipe.distributed_counts(client, CIRCUIT, N, INVERT, SHOTS, SEED, BATCH) == want
    finally:
        client.close()
        cluster.close()


class KillOnce(distributed.WorkerPlugin):
    """Ends its worker's process abruptly when a third batch starts on it, once
    per cluster (the marker file tells the restarted worker it happened)."""

    def __init__(self, marker):
        self.marker = marker
        self.started = 0

    def transition(self, key, start, finish, **kwargs):
        if finish != "executing" or "clifford-batch" not in str(key):
            return
        self.started += 1
        if self.started == 3:
            try:
                os.close(os.open(self.marker, os.O_CREAT | os.O_EXCL | os.O_WRONLY))
            except FileExistsError:
                return
            os._exit(1)


def test_lost_worker_is_replaced_and_counts_do_not_change(tmp_path):
    want = in_one_process()
    marker = tmp_path / "killed"
    cluster, client = local_client(2)
    try:
        client.register_plugin(KillOnce(str(marker)))
        got = recipe.distributed_counts(client, CIRCUIT, N, INVERT, SHOTS, SEED, BATCH)
        assert marker.exists(), "no worker was killed"
        assert got == want
    finally:
        client.close()
        cluster.close()


def test_parameter_sweep(two_workers):
    prepared = nn.NativeState(5)
    prepared.set_zero_state()
    thetas = [0.0, 0.4, 1.3, math.pi]
    values = recipe.distributed_sweep(two_workers, prepared, thetas)
    assert values == [recipe.sweep_point(prepared, t) for t in thetas]
    assert values == pytest.approx([math.cos(t) ** 5 for t in thetas], abs=1e-12)
    assert prepared.amplitudes()[:2] == [1.0, 0.0]  # the workers changed copies
