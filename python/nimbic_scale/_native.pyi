# Native helpers of the nimbic_scale package.
import sys
from collections.abc import Iterator, Sequence
from typing import Any, final

# Packed sampling (nimbic_scale.sampling).

@final
class PackedShots:
    """Measurement bits packed eight to a byte, one row per repetition; exports a buffer of unsigned bytes of shape (repetitions, ceil(M/8))."""

    @property
    def repetitions(self) -> int:
        """Rows: one per repetition."""
    @property
    def num_measurements(self) -> int:
        """M, the measured bits of a row."""
    @property
    def shape(self) -> tuple[int, int]:
        """(repetitions, ceil(M/8)), the shape of the exported buffer."""
    def __len__(self) -> int: ...
    if sys.version_info >= (3, 12):
        def __buffer__(self, flags: int, /) -> memoryview: ...
        def __release_buffer__(self, buffer: memoryview, /) -> None: ...

@final
class PackedBatches(Iterator[PackedShots]):
    """The packed rows of one seeded run, batch by batch: their concatenation is the run's PackedShots."""

    @property
    def repetitions(self) -> int:
        """Rows of the whole run."""
    @property
    def num_measurements(self) -> int:
        """M, the measured bits of a row."""
    @property
    def batch_size(self) -> int:
        """Rows of every batch but the last."""
    def __iter__(self) -> PackedBatches: ...
    def __next__(self) -> PackedShots: ...

def clifford_run_packed(
    instructions: Sequence[int], num_qubits: int, invert_mask: Sequence[int], repetitions: int, seed: int
) -> PackedShots:
    """clifford_run's rows, bit-packed (bit k of a row in byte k // 8 at bit k % 8)."""

def clifford_run_batches(
    instructions: Sequence[int], num_qubits: int, invert_mask: Sequence[int], repetitions: int, seed: int,
    batch_size: int,
) -> PackedBatches:
    """clifford_run_packed's rows in batches of at most batch_size repetitions."""

# A writable contiguous buffer of floats: a NativeState, a memoryview over
# one or a float64 numpy array.
_Floats = Any

# Distributed state vectors (nimbic_scale.mpi).
def gate_plan(gate: Sequence[float], targets: Sequence[int], num_qubits: int) -> list[int]: ...
def apply_placed_gate(
    local: _Floats, gate: Sequence[float], targets: Sequence[int], positions: Sequence[int], num_qubits: int, rank: int
) -> None: ...
def chunk_sums(local: _Floats, targets: Sequence[int], sums: _Floats) -> None: ...
def continued_sums(local: _Floats, targets: Sequence[int], sums: _Floats) -> None: ...
def collapse_share(local: _Floats, targets: Sequence[int], outcome: int, probability: float) -> None: ...
