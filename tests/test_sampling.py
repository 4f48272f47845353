"""nimbic_scale.sampling: packed shots bit for bit against clifford_run,
batches against one call, counts against numpy, argument errors against
clifford_run's, and the memory and Ctrl-C behaviour of long runs."""
import json
import os
import random
import re
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import nimbic_native as nn
from conftest import SANITIZED
from nimbic_scale.sampling import (PackedBatches, PackedShots, clifford_run_batches, clifford_run_packed,
                                   packed_counts)
from test_stabilizer import MEASURE, random_circuit

H, CNOT = 0, 6
SEEDS_48 = [2**47 - 1, 2**47, -2**47, -2**47 - 1, 2**48 - 1, 2**48, -1, 2**63 - 1, -2**63]


def measurements(instructions):
    return sum(1 for i in range(0, len(instructions) - 2, 3) if instructions[i] == MEASURE)


def unpacked(shots, m):
    """The rows of a packed result as 0/1 bytes, checking the zero padding."""
    table = np.asarray(shots)
    assert table.dtype == np.uint8 and table.shape[1] == (m + 7) // 8
    bits = np.unpackbits(table, axis=1, bitorder="little")
    assert not bits[:, m:].any(), "padding bits past M must be 0"
    return bits[:, :m]


def random_program(rng):
    n = rng.choice([1, 2, 3, rng.randint(4, 70), rng.randint(100, 200)])
    length = rng.choice([rng.randint(0, 40), rng.randint(100, 700), rng.randint(1500, 4000)])
    instructions = random_circuit(rng, n, length, measure_weight=rng.choice([1, 3, 8]))
    return instructions + [1, 0][:rng.randint(0, 2)], n


@pytest.mark.parametrize("case", range(48))
def test_packed_equals_clifford_run(case):
    rng = random.Random(case)
    instructions, n = random_program(rng)
    m = measurements(instructions)
    mask = [rng.randint(0, 1) for _ in range(rng.choice([0, max(0, m - 5), m + 3]))]
    reps = rng.choice([0, 1, 7, 63, 64, 65, 130]) if m < 2000 else rng.choice([1, 65])
    seed = rng.choice(SEEDS_48 + [rng.getrandbits(64) - 2**63])
    shots = clifford_run_packed(instructions, n, mask, reps, seed)
    want = np.array(nn.clifford_run(instructions, n, mask, reps, seed), dtype=np.uint8).reshape(reps, m)
    assert (shots.repetitions, shots.num_measurements, shots.shape, len(shots)) == (reps, m, (reps, (m + 7) // 8),
                                                                                  reps)
    assert np.array_equal(unpacked(shots, m), want)


@pytest.mark.parametrize("instructions, n, reps", [
    ([], 3, 5), ([H, 0, 0], 2, 4), ([MEASURE, 0, 0], 1, 0), ([MEASURE, 0, 0] * 9, 1, 0),
    ([H, -1, 0, MEASURE], 2, 10), ([H, 0, 0], 3, -4),
])
def test_zero_measurements_or_repetitions_give_empty_rows(instructions, n, reps):
    m = measurements(instructions)
    shots = clifford_run_packed(instructions, n, [], reps, 1)
    table = np.asarray(shots)
    assert table.shape == (max(reps, 0) if m == 0 else 0, (m + 7) // 8) and table.size == 0
    assert memoryview(shots).tobytes() == b""
    assert packed_counts(shots) == ({"": table.shape[0]} if table.shape[0] else {})


def test_numpy_views_the_result_without_a_copy():
    shots = clifford_run_packed([H, 0, 0, MEASURE, 0, 0] * 11, 1, [], 100, 5)
    first, second = np.asarray(shots), np.asarray(shots)
    assert first.shape == (100, 2) and np.shares_memory(first, second)
    first[3, 1] ^= 0xFF
    assert memoryview(shots)[3, 1] == second[3, 1]
    view = memoryview(shots)
    assert (view.format, view.itemsize, view.shape, view.strides, view.readonly) == ("B", 1, (100, 2), (2, 1), False)
    with pytest.raises(TypeError):
        PackedShots()


@pytest.mark.parametrize("batch_size", [1, 5, 64, 65, 129, 300, 10**6])
def test_batches_concatenate_to_one_call(batch_size):
    rng = random.Random(batch_size)
    instructions = random_circuit(rng, 12, 400)
    m, reps, seed = measurements(instructions), 300, 2**47 + batch_size
    mask = [rng.randint(0, 1) for _ in range(m)]
    batches = clifford_run_batches(instructions, 12, mask, reps, seed, batch_size)
    assert isinstance(batches, PackedBatches)
    assert (batches.repetitions, batches.num_measurements, batches.batch_size) == (reps, m, batch_size)
    parts = list(batches)
    assert [p.repetitions for p in parts[:-1]] == [batch_size] * (len(parts) - 1)
    assert 1 <= parts[-1].repetitions <= batch_size and list(batches) == []
    whole = np.asarray(clifford_run_packed(instructions, 12, mask, reps, seed))
    assert np.array_equal(np.concatenate([np.asarray(p) for p in parts]), whole)


@pytest.mark.parametrize("instructions, reps", [([H, 0, 0], 50), ([MEASURE, 0, 0], 0), ([H, 0, 0], 0)])
def test_batches_without_draws(instructions, reps):
    parts = list(clifford_run_batches(instructions, 1, [], reps, 3, 16))
    assert [np.asarray(p).shape for p in parts] == [(16, 0)] * (reps // 16) + ([(reps % 16, 0)] if reps % 16 else [])


def test_counts_match_numpy():
    rng = random.Random(5)
    # GHZ on 3 qubits beside 8 random bits: M = 11, not a multiple of 8.
    instructions = [H, 0, 0, CNOT, 0, 1, CNOT, 1, 2] + [v for q in range(3, 11) for v in (H, q, 0)]
    instructions += [v for q in range(11) for v in (MEASURE, q, 0)]
    mask = [rng.randint(0, 1) for _ in range(11)]
    shots = clifford_run_packed(instructions, 11, mask, 5000, 17)
    bits = unpacked(shots, 11)
    keys, counts = np.unique(bits, axis=0, return_counts=True)
    want = {"".join(map(str, key)): int(c) for key, c in zip(keys, counts)}
    assert packed_counts(shots) == want
    assert packed_counts(clifford_run_batches(instructions, 11, mask, 5000, 17, 333)) == want
    assert packed_counts([np.asarray(shots)[:100], np.asarray(shots)[100:]], 11) == want
    means = packed_counts(clifford_run_batches(instructions, 11, mask, 5000, 17, 700), per_column=True)
    assert means == pytest.approx(bits.mean(axis=0).tolist(), abs=1e-12)


def test_counts_reject_rows_of_the_wrong_width():
    shots = clifford_run_packed([MEASURE, 0, 0] * 9, 1, [], 4, 1)
    with pytest.raises(ValueError, match="rows of 2 bytes cannot hold 17 measurements"):
        packed_counts(shots, 17)
    with pytest.raises(TypeError, match="num_measurements"):
        packed_counts(np.asarray(shots))


# ---- argument errors ------------------------------------------------------------

GOOD = ([H, 0, 0, MEASURE, 0, 0], 1, [], 4, 9)
BAD_CALLS = [
    ((*GOOD, 1, 2), {}), (GOOD, {"seed": 1}), (GOOD[:4], {"extra": 1}), (GOOD[:3], {}),
    (("x", *GOOD[1:]), {}), ((GOOD[0], 1.0, *GOOD[2:]), {}), ((GOOD[0], True, *GOOD[2:]), {}),
    ((*GOOD[:3], 2**64, 1), {}), ((*GOOD[:2], [0, True], 4, 1), {}), ((*GOOD[:2], (1 << 70,), 4, 1), {}),
    ((*GOOD[:2], range(2), 4, 1), {}), (([H, 0, 0.5], *GOOD[1:]), {}), ((*GOOD[:4], None), {}),
    (([H, 0, 0, MEASURE, 2, 0], 2, [], 5, 1), {}), (([MEASURE, -1, 0], 2, [], 5, 1), {}),
    (([MEASURE, -5, 0], 2, [], 5, 1), {}), (([MEASURE, 0, 0, CNOT, 0, 0], 2, [], 5, 1), {}),
    (([MEASURE, 0, 0], -2, [], 5, 1), {}), (([MEASURE, 0, 0, MEASURE, 0, 0], 2, [], -3, 1), {}),
    (([MEASURE, 0, 0], 1, [], 2**62, 1), {}),
]


def error_of(call, *args, **kwargs):
    with pytest.raises(Exception) as info:
        call(*args, **kwargs)
    return type(info.value), str(info.value)


@pytest.mark.parametrize("args, kwargs", BAD_CALLS)
def test_argument_errors_are_clifford_run_s(args, kwargs):
    kind, message = error_of(nn.clifford_run, *args, **kwargs)
    assert error_of(clifford_run_packed, *args, **kwargs) == (kind, message.replace("clifford_run(", "clifford_run_packed("))
    if len(args) == 5 and kind is RuntimeError:  # the same checks, before the batch size is read
        assert error_of(clifford_run_batches, *args, 10) == (kind, message)


@pytest.mark.parametrize("mask, index, value", [([2], 0, 2), ([0, 1, -1], 2, -1), ([1] * 9 + [255], 9, 255)])
def test_mask_entries_must_be_bits(mask, index, value):
    for call, extra in ((clifford_run_packed, ()), (clifford_run_batches, (8,))):
        with pytest.raises(ValueError, match=re.escape(f"{call.__name__}(): invert_mask entries must be 0 or 1, "
                                                       f"got {value} at index {index}")):
            call([MEASURE, 0, 0], 1, mask, 4, 1, *extra)


@pytest.mark.parametrize("batch_size", [0, -1])
def test_batch_size_must_be_positive(batch_size):
    with pytest.raises(ValueError, match=f"batch_size must be at least 1, got {batch_size}"):
        clifford_run_batches([MEASURE, 0, 0], 1, [], 4, 1, batch_size)


# ---- memory and Ctrl-C, in child processes -----------------------------------------

BAD_BIG_CALLS = """
import json, resource, sys
from nimbic_scale.sampling import clifford_run_batches, clifford_run_packed
M, H = 9, 0
# Each result would take 1 GiB and more: every call must fail before allocating it.
calls = [
    (clifford_run_packed, ([H, 0, 0, M, 0, 0, M, 3, 0], 2, [], 2**30, 1)),
    (clifford_run_packed, ([M, 0, 0] * 8, 1, [0, 3], 2**30, 1)),
    (clifford_run_packed, ([M, 0, 0] * 8, -1, [], 2**30, 1)),
    (clifford_run_packed, ([M, 0, 0] * 8, 1, [], 2**60, 1)),
    (clifford_run_batches, ([M, 0, 0, M, 5, 0], 2, [], 2**31, 1, 2**30)),
    (clifford_run_batches, ([M, 0, 0] * 8, 1, [], 2**61, 1, 2**60)),
]
start = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
errors = []
for call, args in calls:
    try:
        call(*args)
        errors.append(None)
    except Exception as e:
        errors.append(type(e).__name__)
print(json.dumps(dict(errors=errors, growth_kib=resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - start)))
"""


@pytest.mark.skipif(SANITIZED, reason="resident memory includes the sanitizer's shadow")
def test_bad_arguments_allocate_nothing():
    out = subprocess.run([sys.executable, "-c", BAD_BIG_CALLS], capture_output=True, text=True, check=True)
    report = json.loads(out.stdout)
    assert report["errors"] == ["RuntimeError", "ValueError", "RuntimeError", "MemoryError", "RuntimeError",
                                "MemoryError"]
    assert report["growth_kib"] < 32 * 1024


LONG_RUN = """
import json, signal, sys, time
from nimbic_scale.sampling import clifford_run_batches, clifford_run_packed
# 64 random bits per row, each drawn: about a second per 10^7 rows here.
program = [v for q in range(64) for v in (0, q, 0)] + [v for q in range(64) for v in (9, q, 0)]
reps = int(sys.argv[2])
t = time.monotonic()
clifford_run_packed(program, 64, [], reps // 50, 1)
estimate = (time.monotonic() - t) * 50
signal.signal(signal.SIGINT, signal.default_int_handler)
print("ready", flush=True)
started = time.monotonic()
raised = False
try:
    if sys.argv[1] == "packed":
        clifford_run_packed(program, 64, [], reps, 1)
    elif sys.argv[1] == "batch":
        next(clifford_run_batches(program, 64, [], reps, 1, reps))
    else:
        for batch in clifford_run_batches(program, 64, [], reps, 1, 1000):
            pass
except KeyboardInterrupt:
    raised = True
print(json.dumps(dict(raised=raised, ended=time.monotonic(), estimate=estimate)), flush=True)
"""


@pytest.mark.parametrize("how", ["packed", "batch", "between"])
def test_sigint_stops_inside_and_between_batches(how):
    reps = 4 * 10**7  # seconds of work; 320 MB of rows for the whole-run forms
    child = subprocess.Popen([sys.executable, "-c", LONG_RUN, how, str(reps)], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "ready\n", child.stderr.read()[-2000:]
        time.sleep(0.3)
        sent = time.monotonic()
        os.kill(child.pid, signal.SIGINT)
        line = child.stdout.readline()
        assert line, child.stderr.read()[-2000:]
        assert child.wait() == 0
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    report = json.loads(line)
    assert report["raised"], "the run finished and the interrupt came after it"
    # Stopped within a tenth of the uninterrupted run's own time.
    assert report["ended"] - sent < report["estimate"] / 10


def test_stub_parameters_follow_the_native_signatures():
    """stubtest cannot see the parameters of native functions: the stub's
    are compared with the signature line each function documents."""
    import ast
    import pathlib

    import nimbic_scale._native as native
    stub = ast.parse((pathlib.Path(native.__file__).parent / "_native.pyi").read_text())
    functions = {node.name: node for node in stub.body if isinstance(node, ast.FunctionDef)}
    for name in ("clifford_run_packed", "clifford_run_batches"):
        fn = functions[name]
        line = ", ".join(f"{a.arg}: {ast.unparse(a.annotation)}" for a in fn.args.args)
        assert getattr(native, name).__doc__ == f"{name}({line}) -> {ast.unparse(fn.returns)}"
