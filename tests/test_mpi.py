"""nimbic_scale.mpi.DistributedState against one NativeState, bit for bit,
in MPI jobs of 1, 2 and 4 processes (tests/mpi_cases.py runs on each
process). Skipped when mpi4py or mpiexec is missing (pip install '.[mpi]')."""

from __future__ import annotations

import importlib.util
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

MPIEXEC = shutil.which("mpiexec")
pytestmark = pytest.mark.skipif(
    MPIEXEC is None or importlib.util.find_spec("mpi4py") is None,
    reason="no MPI here (mpi4py and mpiexec come with pip install '.[mpi]')",
)
CASES = pathlib.Path(__file__).with_name("mpi_cases.py")


def mpirun(procs: int, *args: str, limit: int | None = None) -> str:
    """Runs one case on `procs` processes; returns their output."""
    assert MPIEXEC is not None
    version = subprocess.run([MPIEXEC, "--version"], capture_output=True, text=True).stdout
    oversubscribe = ["--oversubscribe"] if "Open MPI" in version or "OpenRTE" in version else []
    prefix = ["prlimit", f"--as={limit}"] if limit else []
    cmd = [MPIEXEC, *oversubscribe, "-n", str(procs), *prefix, sys.executable, "-m", "mpi4py", str(CASES), *args]
    done = subprocess.run(cmd, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    # Lines of different processes may interleave.
    assert sorted(re.findall(r"ok (\d+)", done.stdout)) == [str(r) for r in range(procs)]
    return done.stdout


# Random circuits of dense, controlled, diagonal and signed-permutation gates
# on 1 to 4 qubits, global and local, with probabilities, measurements and
# gathers in between; every process compares with its own NativeState replay.
@pytest.mark.parametrize(
    "procs, n_lo, n_hi, seeds, steps",
    [(1, 1, 12, 2, 40), (2, 4, 20, 2, 50), (4, 5, 20, 2, 50)],
)
def test_random_circuits_match_native_state(procs: int, n_lo: int, n_hi: int, seeds: int, steps: int) -> None:
    mpirun(procs, "circuit", str(n_lo), str(n_hi), str(seeds), str(steps))


@pytest.mark.parametrize("procs", [1, 2, 4])
def test_bad_arguments_raise_native_errors_on_every_process(procs: int) -> None:
    mpirun(procs, "errors", "6")


@pytest.mark.parametrize("procs, n", [(3, 8), (4, 4)])
def test_unusable_layouts_are_refused_on_every_process(procs: int, n: int) -> None:
    out = mpirun(procs, "constructor", str(n))
    assert out.count("refused ") == procs and "processes" in out


# AddressSanitizer reserves far more address space than these limits.
under_asan = pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="under AddressSanitizer")


@under_asan
def test_whole_state_that_does_not_fit_on_root_is_refused_everywhere() -> None:
    # 2^22 amplitudes: 64 MiB of shares, but some 320 MiB as a list on the root.
    mpirun(2, "gather_refused", "22", limit=480 << 20)


@under_asan
def test_state_larger_than_each_process_limit() -> None:
    """4 processes of at most 1.2 GiB of address space each hold a 27-qubit
    state (2 GiB); each process also fails to create it alone."""
    limit = 1288490188
    out = mpirun(4, "memory", "27", limit=limit)
    peaks = [int(p) for p in re.findall(r"peak \d+ (\d+)", out)]
    assert len(peaks) == 4 and all(p <= limit for p in peaks)
    assert (16 << 27) > limit
