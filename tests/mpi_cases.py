"""Cases run on every process of an MPI job by tests/test_mpi.py:
``mpiexec -n P python -m mpi4py tests/mpi_cases.py <case> [args]``.

Each process replays the same calls on one NativeState of the whole size and
compares bits; a mismatch raises (and python -m mpi4py aborts the job). The
last line of every process is ``ok <rank>``.
"""

from __future__ import annotations

import struct
import sys

import numpy as np
from mpi4py import MPI

import nimbic_native
from nimbic_scale.mpi import DistributedState

comm = MPI.COMM_WORLD
rank, size = comm.Get_rank(), comm.Get_size()
g = size.bit_length() - 1


def bits(values: list[float]) -> bytes:
    return struct.pack(f"{len(values)}d", *values)


def same(label: str, got: object, want: object) -> None:
    if isinstance(want, list):
        assert isinstance(got, list) and bits(got) == bits(want), f"{label}: bits differ"
    else:
        assert got == want, f"{label}: {got!r} != {want!r}"


def unitary(rng: np.random.Generator, d: int) -> np.ndarray:
    z = rng.normal(size=(d, d)) + 1j * rng.normal(size=(d, d))
    q, r = np.linalg.qr(z)
    return q * (np.diag(r) / abs(np.diag(r)))


def flat(m: np.ndarray) -> list[float]:
    return [float(x) for c in m.reshape(-1) for x in (c.real, c.imag)]


def random_gate(rng: np.random.Generator, k: int) -> list[float]:
    d = 1 << k
    kind = rng.integers(4)
    if kind == 0:  # dense
        return flat(unitary(rng, d))
    if kind == 1:  # controlled: the identity but on the rows whose leading bits match
        m = np.eye(d, dtype=complex)
        controls = int(rng.integers(1, k)) if k > 1 else 0
        block = d >> controls
        start = int(rng.integers(1 << controls)) * block
        m[start : start + block, start : start + block] = unitary(rng, block)
        return flat(m)
    if kind == 2:  # diagonal, some entries exactly 1
        phases = np.exp(1j * rng.uniform(0, 2 * np.pi, d))
        phases[rng.random(d) < 0.4] = 1.0
        return flat(np.diag(phases))
    perm = rng.permutation(d)  # signed permutation
    m = np.zeros((d, d), dtype=complex)
    m[np.arange(d), perm] = rng.choice([-1.0, 1.0], d)
    return flat(m)


def random_targets(rng: np.random.Generator, n: int, k: int) -> list[int]:
    k = min(k, n)
    if k == 2 and rng.random() < 0.2:  # an adjacent pair, either order
        a = int(rng.integers(n - 1))
        return [a, a + 1] if rng.random() < 0.5 else [a + 1, a]
    glob = min(g, k, int(rng.integers(0, k + 1)))  # how many global qubits
    chosen = list(rng.choice(g, glob, replace=False)) if glob else []
    rest = [q for q in range(n) if q not in chosen]
    chosen += list(rng.choice(rest, k - glob, replace=False))
    rng.shuffle(chosen)
    return [int(q) for q in chosen]


def circuit(n: int, seed: int, steps: int) -> None:
    """Random gates with probabilities, measurements and gathers in between."""
    rng = np.random.default_rng(seed)
    dist, ref = DistributedState(n), nimbic_native.NativeState(n)
    dist.set_zero_state()
    ref.set_zero_state()
    for step in range(steps):
        roll = rng.random()
        if roll < 0.75:
            k = min(int(rng.choice([1, 2, 3, 4], p=[0.3, 0.3, 0.3, 0.1])), n - g)
            gate, targets = random_gate(rng, k), random_targets(rng, n, k)
            dist.apply_gate(gate, targets)
            ref.apply_gate(gate, targets)
        elif roll < 0.85:
            targets = random_targets(rng, n, int(rng.integers(0, min(n, 5) + 1)))
            same(f"step {step} probabilities {targets}", dist.probabilities(targets), ref.probabilities(targets))
        elif roll < 0.95:
            targets = random_targets(rng, n, int(rng.integers(0, min(n, 3) + 1)))
            u = float(rng.random())
            same(f"step {step} measure {targets}", dist.measure(targets, u), ref.measure(targets, u))
        else:
            root = int(rng.integers(size))
            got = dist.amplitudes(root)
            same(f"step {step} amplitudes", got, ref.amplitudes() if rank == root else None)
    same("final probabilities", dist.probabilities(list(range(n))), ref.probabilities(list(range(n))))
    same("final amplitudes", dist.amplitudes(), ref.amplitudes() if rank == 0 else None)


def outcome(call) -> tuple[str, str] | None:  # type: ignore[no-untyped-def]
    try:
        call()
    except Exception as err:
        return type(err).__name__, str(err)
    return None


def errors(n: int) -> None:
    """Bad arguments raise NativeState's error on every process and change nothing."""
    rng = np.random.default_rng(7)
    dist, ref = DistributedState(n), nimbic_native.NativeState(n)
    values = flat(unitary(rng, 1 << n)[0])
    dist.set_amplitudes(values if rank == 0 else None)
    ref.set_amplitudes(values)
    x = [0.0, 0, 1, 0, 1, 0, 0, 0]
    cnot = flat(np.eye(4)[[0, 1, 3, 2]])
    bad = [
        ("apply_gate", (x[:7], [0])),
        ("apply_gate", (cnot[:31], [0, n - 1])),
        ("apply_gate", ([], [1, 0])),
        ("apply_gate", (x, [n])),
        ("apply_gate", (x, [-1])),
        ("apply_gate", (cnot, [0, 0])),
        ("apply_gate", (5, [0])),
        ("apply_gate", (x, [0.5])),
        ("apply_gate", (x, "0")),
        ("apply_gate", ([True] * 8, [0])),
        ("probabilities", ([n + 3],)),
        ("probabilities", ([1, 1],)),
        ("probabilities", (None,)),
        ("measure", ([0, n], 0.5)),
        ("measure", ([0], "u")),
        ("measure", ([0], None)),
    ]
    for name, args in bad:
        want = outcome(lambda: getattr(ref, name)(*args))
        assert want is not None, f"{name}{args} should fail"
        got = outcome(lambda: getattr(dist, name)(*args))
        same(f"{name}{args}", got, want)
        # No process went on to a message: all still agree, and nothing changed.
        assert comm.allgather(got) == [want] * size
    for bad_values in (None, 5, [0.0, "x"], [1 << 70]):
        want = outcome(lambda: ref.set_amplitudes(bad_values))  # type: ignore[arg-type]
        got = outcome(lambda: dist.set_amplitudes(bad_values if rank == 0 else [0.0]))
        same(f"set_amplitudes({bad_values!r})", got, want)
    if g:  # a dense gate wider than the local qubits: a ValueError everywhere
        wide = n - g + 1
        got = outcome(lambda: dist.apply_gate(flat(unitary(rng, 1 << wide)), list(range(wide))))
        assert got is not None and got[0] == "ValueError", got
        assert comm.allgather(got) == [got] * size
    same("state after the errors", dist.amplitudes(), ref.amplitudes() if rank == 0 else None)
    got = outcome(lambda: DistributedState(n, comm).amplitudes(size))
    assert got is not None and got[0] == "ValueError", got


def memory(n: int) -> None:
    """A state larger than any one process may hold: a GHZ state over global
    and local qubits, then a measurement."""
    try:  # the whole state does not fit in this process
        nimbic_native.NativeState(n)
        raise AssertionError(f"a NativeState of {n} qubits fit under the limit")
    except MemoryError:
        pass
    dist = DistributedState(n)
    dist.set_zero_state()
    h = [2**-0.5, 0, 2**-0.5, 0, 2**-0.5, 0, -(2**-0.5), 0]
    cnot = flat(np.eye(4)[[0, 1, 3, 2]])
    dist.apply_gate(h, [0])
    for q in (1, n - 1):
        dist.apply_gate(cnot, [0, q])
    probs = dist.probabilities([0, 1, n - 1])
    assert abs(probs[0] - 0.5) < 1e-12 and abs(probs[7] - 0.5) < 1e-12 and sum(probs[1:7]) == 0, probs
    assert dist.measure([n - 1], 0.75) == 1
    assert dist.probabilities([0, 1]) == [0.0, 0.0, 0.0, 1.0]
    with open("/proc/self/status") as f:
        peak = next(line.split()[1] for line in f if line.startswith("VmPeak:"))
    print(f"peak {rank} {int(peak) * 1024}", flush=True)


def gather_refused(n: int) -> None:
    """A whole state that does not fit on the root: MemoryError on every
    process, and the processes go on together."""
    dist = DistributedState(n)
    dist.set_zero_state()
    err = outcome(lambda: dist.amplitudes(0))
    assert err is not None and err[0] == "MemoryError", err
    assert comm.allgather(err) == [err] * size
    assert dist.probabilities([0]) == [1.0, 0.0]


def constructor(n: int) -> None:
    """Too few local qubits, or a process count not a power of two: a
    ValueError on every process."""
    err = outcome(lambda: DistributedState(n))
    assert err is not None and err[0] == "ValueError", err
    print(f"refused {rank} {err[1]}", flush=True)


def main() -> None:
    case, *args = sys.argv[1:]
    if case == "circuit":
        n_lo, n_hi, seeds, steps = map(int, args)
        for n in range(max(n_lo, g + 3 if g else 1), n_hi + 1):
            for seed in range(seeds):
                circuit(n, 1000 * n + seed, steps)
    elif case == "errors":
        errors(int(args[0]))
    elif case == "gather_refused":
        gather_refused(int(args[0]))
    elif case == "constructor":
        constructor(int(args[0]))
    elif case == "memory":
        memory(int(args[0]))
    print(f"ok {rank}", flush=True)


main()
