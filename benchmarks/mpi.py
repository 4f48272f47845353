"""DistributedState gates against their baselines, measured in the same run.

    mpiexec -n 1 -bind-to core python benchmarks/mpi.py --local-qubits 24
    mpiexec -n 2 -bind-to core python benchmarks/mpi.py --local-qubits 24
    mpiexec -n 4 -bind-to core python benchmarks/mpi.py --local-qubits 22

Each process holds 2^m amplitudes (m = --local-qubits); the whole state has
n = m + g qubits over P = 2^g processes. Per gate it prints:

- local: the gate on local qubits, against the same gate on a NativeState of
  m qubits run by every process at once on its own cores (ratio "local/native",
  the overhead of the distributed call);
- global: the gate on a qubit held in a global position (an exchange of half
  of every share, then the local gate), against a Sendrecv of the same bytes
  alone plus the local gate (ratio "global/(send+local)");
- both against one NativeState of all n qubits on one process ("vs one
  process"), when that fits (--whole).

Times are the median of --repeat runs, the slowest process counting.
"""

from __future__ import annotations

import argparse
import statistics
import time
from collections.abc import Callable

import numpy as np
from mpi4py import MPI

import nimbic_native
from nimbic_scale.mpi import CHUNK_FLOATS, DistributedState

S = 2**-0.5
GATES: dict[str, tuple[list[float], int]] = {
    "H (dense, 1 qubit)": ([S, 0, S, 0, S, 0, -S, 0], 1),
    "CNOT (permutation, 2 qubits)": ([1.0 if i in (0, 10, 22, 28) else 0.0 for i in range(32)], 2),
    "CP (diagonal, 2 qubits)": ([1.0 if i in (0, 10, 20) else 0.0 for i in range(30)] + [0.0, 1.0], 2),
}

comm = MPI.COMM_WORLD
rank, size = comm.Get_rank(), comm.Get_size()


def timed(call: Callable[[], object], repeat: int, everyone: bool = True) -> float:
    """Median over `repeat` runs of the slowest process's time, after one
    untimed run."""
    if everyone or rank == 0:
        call()
    times = []
    for _ in range(repeat):
        comm.Barrier()
        start = time.perf_counter()
        if everyone or rank == 0:
            call()
        elapsed = time.perf_counter() - start
        times.append(comm.allreduce(elapsed, op=MPI.MAX))
    return statistics.median(times)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--local-qubits", type=int, default=24)
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--whole", action="store_true", help="also time one NativeState of all n qubits on rank 0")
    args = parser.parse_args()
    m, g = args.local_qubits, size.bit_length() - 1
    n = m + g
    dist = DistributedState(n)
    dist.set_zero_state()
    native = nimbic_native.NativeState(m)
    native.set_zero_state()
    whole = nimbic_native.NativeState(n if args.whole and rank == 0 else 0)
    whole.set_zero_state()
    half = np.ones(1 << m, dtype=np.float64)  # half a share, in floats
    recv = np.empty_like(half)
    partner = rank ^ 1

    def sendrecv() -> None:
        for lo in range(0, len(half), CHUNK_FLOATS):
            hi = lo + CHUNK_FLOATS
            comm.Sendrecv(half[lo:hi], dest=partner, recvbuf=recv[lo:hi], source=partner)

    if rank == 0:
        print(f"{size} process(es), n = {n} qubits, {m} local qubits per process ({16 << m >> 20} MiB each)")
    send = timed(sendrecv, args.repeat) if size > 1 else 0.0
    if rank == 0 and size > 1:
        print(f"Sendrecv of half a share ({8 << m >> 20} MiB each way, in {CHUNK_FLOATS * 8 >> 20} MiB chunks): "
              f"{send * 1e3:.1f} ms")
    for name, (gate, k) in GATES.items():
        local_targets = list(range(n - k, n))  # the lowest qubits: local in every map
        t_native = timed(lambda: native.apply_gate(gate, [m - k + i for i in range(k)]), args.repeat)
        t_local = timed(lambda: dist.apply_gate(gate, local_targets), args.repeat)
        line = f"{name:30s} local {t_local * 1e3:8.1f} ms  local/native {t_local / t_native:5.2f}"
        if size > 1:
            # The qubit the map holds at position 0 each time (the previous
            # call traded it away): H and CNOT's target need an exchange, CP
            # (diagonal) never does.
            def global_gate() -> None:
                pos = dist.qubit_positions()
                first, other = pos.index(0), pos.index(n - 1)
                dist.apply_gate(gate, [first] if k == 1 else [first, other] if "CP" in name else [other, first])

            t_global = timed(global_gate, args.repeat)
            line += f"  global {t_global * 1e3:8.1f} ms  global/(send+local) {t_global / (send + t_local):5.2f}"
        if args.whole:
            t_whole = timed(lambda: whole.apply_gate(gate, [n - k + i for i in range(k)]), args.repeat, everyone=False)
            line += f"  vs one process {t_local / t_whole:5.2f}"
        if rank == 0:
            print(line, flush=True)


if __name__ == "__main__":
    main()
