"""A quantum Fourier transform over MPI processes, then a measurement.

    mpiexec -n 4 -bind-to core python examples/mpi_qft.py --qubits 28

The state is spread over the processes (nimbic_scale.mpi.DistributedState).
It starts as the Fourier state of a secret number x, a product state; the
inverse QFT turns it back into |x>, and measuring every qubit reads x out.
Rank 0 draws a progress bar and prints the result. Without mpiexec the
program runs as one process.
"""

import argparse
import cmath
import math
import sys
import time

from mpi4py import MPI

from nimbic_scale.mpi import DistributedState

H = [2**-0.5, 0.0, 2**-0.5, 0.0, 2**-0.5, 0.0, -(2**-0.5), 0.0]


def phase(theta: float) -> list[float]:
    """diag(1, e^(i theta)) on one qubit."""
    c = cmath.exp(1j * theta)
    return [1.0, 0.0, 0.0, 0.0, 0.0, 0.0, c.real, c.imag]


def controlled_phase(theta: float) -> list[float]:
    """diag(1, 1, 1, e^(i theta)) on two qubits: no exchange even on global ones."""
    c = cmath.exp(1j * theta)
    gate = [0.0] * 32
    gate[0] = gate[10] = gate[20] = 1.0
    gate[30], gate[31] = c.real, c.imag
    return gate


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--qubits", type=int, default=16)
    parser.add_argument("--secret", type=int, default=None, help="the number x (default: a fixed pattern)")
    args = parser.parse_args()
    n = args.qubits
    x = args.secret if args.secret is not None else int("10" * n, 2) >> n
    comm = MPI.COMM_WORLD
    rank = comm.Get_rank()

    state = DistributedState(n, comm)
    state.set_zero_state()
    # The Fourier state of x with its qubits in reverse order (the swaps that
    # end a QFT, undone by relabelling): qubit q carries e^(2 pi i x / 2^(n-q)).
    steps = [(H, [q]) for q in range(n)]
    steps += [(phase(2 * math.pi * x / 2 ** (n - q)), [q]) for q in range(n)]
    # The inverse QFT without its swaps.
    for j in range(n - 1, -1, -1):
        steps += [(controlled_phase(-2 * math.pi / 2 ** (k - j + 1)), [k, j]) for k in range(n - 1, j, -1)]
        steps.append((H, [j]))

    start = time.perf_counter()
    for i, (gate, targets) in enumerate(steps, 1):
        state.apply_gate(gate, targets)
        if rank == 0 and (i % 16 == 0 or i == len(steps)):
            done = 40 * i // len(steps)
            sys.stdout.write(f"\r[{'#' * done}{'.' * (40 - done)}] {i}/{len(steps)} gates")
            sys.stdout.flush()
    # Every process passes the same draws; the outcome is the same everywhere.
    bits = [state.measure([q], 0.5) for q in range(n)]
    seconds = time.perf_counter() - start
    measured = int("".join(map(str, bits)), 2)
    if rank == 0:
        print(f"\n{n} qubits over {comm.Get_size()} processes, {len(steps)} gates and {n} measurements in {seconds:.1f} s")
        print(f"measured x = {measured} (secret {x})")
        assert measured == x, "the inverse QFT did not return the secret"
        print("inverse QFT returned the secret")


if __name__ == "__main__":
    main()
