"""A state vector spread over the processes of an MPI communicator.

``DistributedState(num_qubits, comm)`` holds an n-qubit state over the
P = 2^g processes of ``comm``: the g most significant positions of a basis
index name the process, and every process keeps the other n - g positions as
a ``NativeState`` of its own. A qubit map records which qubit sits at which
position. A gate that must act on a qubit held in a global position first
trades that position with a local one: each process swaps half of its buffer
with one partner, in chunks of bounded size, straight from and into its
``NativeState`` buffer. Controls and diagonal gates on global positions need
no exchange. Measurements, probabilities and the gathered amplitudes first
bring every qubit back to its own position.

Every amplitude, probability and outcome equals, bit for bit, what one
``NativeState`` gives for the same calls; argument errors are the ones
``NativeState`` raises, raised on every process before any message is sent.
Every process makes the same calls with the same arguments.
"""

from __future__ import annotations

import resource
from collections.abc import Callable, Sequence

import numpy as np
from mpi4py import MPI

import nimbic_native
from nimbic_scale import _native

__all__ = ["DistributedState"]

# Floats (8 bytes each) per message of an exchange or a gather: the extra
# memory a process needs beyond its share.
CHUNK_FLOATS = 1 << 19
# The widest gate every process has room for: a dense gate is applied on
# local positions only.
WIDEST_GATE = 3
# Group bases per chunk of the single-process probability sums.
_CHUNK_BASES = 4096
# What NativeState reports for a buffer shorter than num_qubits asks for:
# the only error an empty probe state adds to those of the arguments.
_EMPTY_STATE = "panic in native code: array.get: index out of range (i,a.len):0, 0"
_SWAP = [1.0 if i in (0, 12, 18, 30) else 0.0 for i in range(32)]  # rows 00, 10, 01, 11
_TAG = 0x6E62


def _checked(probe: Callable[[], object]) -> None:
    """Runs a NativeState method on the empty probe state: it raises every
    argument error the real call would, then stops at the empty buffer."""
    try:
        probe()
    except RuntimeError as err:
        if str(err) != _EMPTY_STATE:
            raise


class DistributedState:
    """An n-qubit state vector over the P = 2^g processes of an MPI
    communicator, each holding a ``NativeState`` of n - g qubits."""

    def __init__(self, num_qubits: int, comm: MPI.Comm | None = None) -> None:
        comm = MPI.COMM_WORLD if comm is None else comm
        if isinstance(num_qubits, bool) or not isinstance(num_qubits, int):
            raise TypeError(f"num_qubits: expected int, got {type(num_qubits).__name__}")
        size = comm.Get_size()
        if size & (size - 1):
            raise ValueError(f"DistributedState needs a power-of-two number of processes, got {size}")
        g = size.bit_length() - 1
        if num_qubits < 0 or num_qubits - g > 61:
            raise ValueError(f"num_qubits out of range: {num_qubits} over {size} processes")
        if g > 0 and num_qubits - g < WIDEST_GATE:
            raise ValueError(
                f"{num_qubits} qubits over {size} processes leave {num_qubits - g} local qubits per process, "
                f"fewer than the widest gate ({WIDEST_GATE} qubits)"
            )
        self._comm = comm
        self._rank = comm.Get_rank()
        self._size = size
        self._g = g
        self._n = num_qubits
        self._m = num_qubits - g
        failed = False
        try:
            self._local = nimbic_native.NativeState(self._m)
        except MemoryError:
            failed = True
        if comm.allreduce(failed, op=MPI.LOR):
            raise MemoryError(f"a share of {self._m} qubits does not fit on every process")
        self._probe = nimbic_native.NativeState(-1)
        self._probe.num_qubits = num_qubits
        self._pos = list(range(num_qubits))  # qubit -> physical position
        self._at = list(range(num_qubits))  # physical position -> qubit
        self._scratch = np.empty(min(CHUNK_FLOATS, 2 << self._m), dtype=np.float64)

    # ---- the NativeState surface ------------------------------------------

    @property
    def num_qubits(self) -> int:
        """The number of qubits n of the whole state."""
        return self._n

    @property
    def comm(self) -> MPI.Comm:
        """The communicator whose processes hold the state."""
        return self._comm

    @property
    def local(self) -> nimbic_native.NativeState:
        """This process's share: 2^(n-g) amplitudes, in the current qubit map."""
        return self._local

    def set_zero_state(self) -> None:
        """Sets a freshly created (zeroed) state to ``|0...0>``."""
        # Amplitude 0 sits at position 0 of process 0 under every qubit map.
        if self._rank == 0:
            self._local.set_zero_state()

    def reset(self) -> None:
        """Sets the state to ``|0...0>``."""
        if self._rank == 0:
            self._local.reset()
        else:
            self._local.set_amplitudes([])
        self._identity_map()

    def apply_gate(self, gate: Sequence[float], targets: Sequence[int]) -> None:
        """Applies a gate matrix to ``targets``, in place."""
        _checked(lambda: self._probe.apply_gate(gate, targets))  # type: ignore[arg-type]
        targets = list(targets)
        k = len(targets)
        if self._n <= 0 or k == 0:
            return
        if len(gate) < 2 << (2 * k):
            # The probe's empty-buffer report stood for the gate's own.
            raise RuntimeError(_EMPTY_STATE)
        kind, *roles = _native.gate_plan(gate, targets, self._n)
        if kind >= 2:
            acted = [t for t, role in zip(targets, roles) if role]
            if len(acted) > self._m:
                raise ValueError(
                    f"apply_gate: the gate acts on {len(acted)} qubits, more than the {self._m} local "
                    "qubits of each process"
                )
            for t in acted:
                if self._pos[t] < self._g:
                    self._exchange(self._pos[t], self._free_local(targets, acted))
        positions = [self._pos[t] for t in targets]
        _native.apply_placed_gate(self._local, gate, targets, positions, self._n, self._rank)

    def probabilities(self, targets: Sequence[int]) -> list[float]:
        """The probability of each outcome of measuring ``targets``."""
        _checked(lambda: self._probe.probabilities(targets))  # type: ignore[arg-type]
        targets = list(targets)
        self._canonical()
        probs: list[float] = self._probabilities(targets).tolist()
        return probs

    def measure(self, targets: Sequence[int], u: float) -> int:
        """Samples ``targets`` with a uniform draw ``u`` in [0, 1) (the same on
        every process), collapses the state and returns the outcome."""
        _checked(lambda: self._probe.measure(targets, u))  # type: ignore[arg-type]
        targets = list(targets)
        self._canonical()
        probs = self._probabilities(targets)
        outcome = nimbic_native.sample_outcome(probs.tolist(), u)
        g, k = self._g, len(targets)
        local: list[int] = []
        local_outcome = 0
        for i, t in enumerate(targets):
            bit = (outcome >> (k - 1 - i)) & 1
            if t < g:
                if bit != (self._rank >> (g - 1 - t)) & 1:
                    self._local.set_amplitudes([])  # none of this share has the outcome
                    return outcome
            else:
                local.append(t - g)
                local_outcome = (local_outcome << 1) | bit
        _native.collapse_share(self._local, local, local_outcome, float(probs[outcome]))
        return outcome

    def amplitudes(self, root: int = 0) -> list[float] | None:
        """The whole state as an interleaved complex list on process ``root``,
        ``None`` on the others. Raises MemoryError on every process when the
        list does not fit in the memory of ``root``."""
        self._check_root(root)
        fits = True
        if self._rank == root:
            # A gather buffer of 8 bytes per float and a list of 32.
            fits = (2 << self._n) * 40 <= _free_bytes()
        if not self._comm.bcast(fits, root=root):
            raise MemoryError(
                f"amplitudes: the {1 << self._n} amplitudes do not fit in the memory of process {root}"
            )
        self._canonical()
        share = self._share()
        if self._rank != root:
            for lo in range(0, len(share), CHUNK_FLOATS):
                self._comm.Send(share[lo : lo + CHUNK_FLOATS], dest=root, tag=_TAG)
            return None
        whole = np.empty(2 << self._n, dtype=np.float64)
        per = len(share)
        for r in range(self._size):
            part = whole[r * per : (r + 1) * per]
            if r == root:
                part[:] = np.frombuffer(share, dtype=np.float64)
                continue
            for lo in range(0, per, CHUNK_FLOATS):
                self._comm.Recv(part[lo : lo + CHUNK_FLOATS], source=r, tag=_TAG)
        out: list[float] = whole.tolist()
        return out

    def set_amplitudes(self, values: Sequence[float] | None, root: int = 0) -> None:
        """Overwrites the state with ``values`` (interleaved complex) given on
        process ``root`` (ignored elsewhere), padded with zeros or cut to the
        state's length. An argument error on ``root`` is raised on every
        process and changes nothing."""
        self._check_root(root)
        whole = None
        error: Exception | None = None
        if self._rank == root:
            try:
                _checked(lambda: self._probe.set_amplitudes(values))  # type: ignore[arg-type]
                assert values is not None
                whole = np.zeros(2 << self._n, dtype=np.float64)
                given = np.asarray(values[: len(whole)], dtype=np.float64)
                whole[: len(given)] = given
            except Exception as err:  # sent to every process, raised there
                error = err
        error = self._comm.bcast(error, root=root)
        if error is not None:
            raise error
        share = self._share()
        per = len(share)
        if self._rank == root:
            assert whole is not None
            for r in range(self._size):
                part = whole[r * per : (r + 1) * per]
                if r == root:
                    np.frombuffer(share, dtype=np.float64)[:] = part
                    continue
                for lo in range(0, per, CHUNK_FLOATS):
                    self._comm.Send(part[lo : lo + CHUNK_FLOATS], dest=r, tag=_TAG)
        else:
            for lo in range(0, per, CHUNK_FLOATS):
                self._comm.Recv(share[lo : lo + CHUNK_FLOATS], source=root, tag=_TAG)
        self._identity_map()

    def qubit_positions(self) -> list[int]:
        """The physical position of every qubit (positions below g name the
        process)."""
        return list(self._pos)

    # ---- the qubit map ---------------------------------------------------------

    def _share(self) -> memoryview:
        """A zero-copy view of this process's share."""
        return memoryview(self._local)  # type: ignore[arg-type]  # NativeState exports a buffer of floats

    def _identity_map(self) -> None:
        self._pos = list(range(self._n))
        self._at = list(range(self._n))

    def _free_local(self, busy: Sequence[int], needed: Sequence[int] = ()) -> int:
        """The most significant local position whose qubit is not in ``busy``,
        else one whose qubit is not in ``needed`` (a control may go global)."""
        for avoid in (set(busy), set(needed)):
            for x in range(self._g, self._n):
                if self._at[x] not in avoid:
                    return x
        raise AssertionError("no free local position")  # apply_gate checked the room

    def _exchange(self, p: int, x: int) -> None:
        """Trades global position ``p`` with local position ``x``: every process
        swaps the half of its share whose bit at ``x`` differs from its own bit
        at ``p`` with the partner differing from it at ``p`` only."""
        g, m = self._g, self._m
        bit = m - 1 - (x - g)  # of the local index
        if bit < m - 1 - 4:
            # Runs of amplitudes would be short: move the qubit to the top first.
            top = self._free_local([])
            self._local_swap(top, x)
            x, bit = top, m - 1
        shift = g - 1 - p
        partner = self._rank ^ (1 << shift)
        mine = (self._rank >> shift) & 1
        share = self._share()
        run = 2 << bit  # floats of one run of equal bits at x
        scratch = self._scratch
        for start in range((1 - mine) * run, len(share), 2 * run):
            for lo in range(start, start + run, len(scratch)):
                hi = min(lo + len(scratch), start + run)
                recv = scratch[: hi - lo]
                self._comm.Sendrecv(share[lo:hi], dest=partner, sendtag=_TAG, recvbuf=recv, source=partner, recvtag=_TAG)
                share[lo:hi] = recv.data
        qp, qx = self._at[p], self._at[x]
        self._at[p], self._at[x] = qx, qp
        self._pos[qp], self._pos[qx] = x, p

    def _local_swap(self, x: int, y: int) -> None:
        """Exchanges the qubits at local positions ``x`` and ``y`` (a SWAP moves
        amplitudes without arithmetic)."""
        g = self._g
        self._local.apply_gate(_SWAP, [x - g, y - g])
        qx, qy = self._at[x], self._at[y]
        self._at[x], self._at[y] = qy, qx
        self._pos[qx], self._pos[qy] = y, x

    def _canonical(self) -> None:
        """Brings every qubit back to its own position."""
        g = self._g
        for p in range(g):
            if self._at[p] == p:
                continue
            if self._pos[p] < g:  # qubit p holds another global position
                self._exchange(self._pos[p], self._free_local([]))
            self._exchange(p, self._pos[p])
        for x in range(g, self._n):
            if self._at[x] != x:
                self._local_swap(x, self._pos[x])

    # ---- reductions ----------------------------------------------------------------

    def _probabilities(self, targets: list[int]) -> np.ndarray:
        """The probabilities of ``targets`` in the canonical map, every chunk
        sum formed as the single-process kernel forms it and the chunks added
        in the same order, on every process."""
        g, m, k = self._g, self._m, len(targets)
        glob = [(i, t) for i, t in enumerate(targets) if t < g]
        loc = [(i, t - g) for i, t in enumerate(targets) if t >= g]
        kl = len(loc)
        local_free = m - kl
        free_pos = [p for p in range(g - 1, -1, -1) if p not in {t for _, t in glob}]  # least significant first
        gf = len(free_pos)
        local_targets = [t for _, t in loc]

        def free_index(rank: int) -> int:
            return sum(((rank >> (g - 1 - p)) & 1) << j for j, p in enumerate(free_pos))

        def rank_of(free: int, rank_like: int) -> int:
            rank = rank_like
            for j, p in enumerate(free_pos):
                rank = (rank & ~(1 << (g - 1 - p))) | (((free >> j) & 1) << (g - 1 - p))
            return rank

        def outcomes(rank: int) -> np.ndarray:
            base = 0
            for i, t in glob:
                base |= ((rank >> (g - 1 - t)) & 1) << (k - 1 - i)
            j = np.arange(1 << kl, dtype=np.int64)
            out = np.full(1 << kl, base, dtype=np.int64)
            for li, (i, _) in enumerate(loc):
                out |= ((j >> (kl - 1 - li)) & 1) << (k - 1 - i)
            return out

        me = free_index(self._rank)
        if local_free >= 12 or gf == 0:
            per = (1 << local_free) // min(_CHUNK_BASES, 1 << local_free)  # chunks of one share
            sums = np.empty(per << kl, dtype=np.float64)
            _native.chunk_sums(self._local, local_targets, sums)
            chunks = per << gf
        else:
            # A chunk spans `span` shares: each continues the running sums of
            # the share before it in the chunk and hands them on.
            span = 1 << (min(12, gf + local_free) - local_free)
            sums = np.zeros(1 << kl, dtype=np.float64)
            if me % span:
                self._comm.Recv(sums, source=rank_of(me - 1, self._rank), tag=_TAG)
            _native.continued_sums(self._local, local_targets, sums)
            if me % span != span - 1:
                self._comm.Send(sums, dest=rank_of(me + 1, self._rank), tag=_TAG)
            per = 1
            chunks = (1 << gf) // span
        gathered = np.empty((self._size, len(sums)), dtype=np.float64)
        self._comm.Allgather(sums, gathered)
        table = np.zeros((chunks, 1 << k), dtype=np.float64)
        for rank in range(self._size):
            free = free_index(rank)
            if local_free >= 12 or gf == 0:
                rows = slice(free * per, (free + 1) * per)
            elif free % span == span - 1:
                rows = slice(free // span, free // span + 1)
            else:
                continue
            table[rows, outcomes(rank)] = gathered[rank].reshape(-1, 1 << kl)
        # The chunks in order, each added to the running total (accumulate
        # adds element by element, never pairwise).
        return table[0] if chunks == 1 else np.add.accumulate(table, axis=0)[-1]

    def _check_root(self, root: int) -> None:
        if isinstance(root, bool) or not isinstance(root, int):
            raise TypeError(f"root: expected int, got {type(root).__name__}")
        if not 0 <= root < self._size:
            raise ValueError(f"root out of range: {root} for {self._size} processes")


def _free_bytes() -> int:
    """Bytes this process may still allocate: the smaller of the available
    memory and what its address-space limit leaves."""
    free = 1 << 62
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemAvailable:"):
                    free = int(line.split()[1]) * 1024
    except OSError:
        pass
    limit = resource.getrlimit(resource.RLIMIT_AS)[0]
    if limit != resource.RLIM_INFINITY:
        try:
            with open("/proc/self/statm") as f:
                used = int(f.read().split()[0]) * resource.getpagesize()
        except OSError:
            used = 0
        free = min(free, limit - used)
    return free
