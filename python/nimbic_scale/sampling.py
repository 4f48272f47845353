"""Clifford shots bit-packed, in batches, and counted without unpacking.

``clifford_run_packed`` takes ``clifford_run``'s arguments, makes the same
seeded draws and returns the measurement bits packed eight to a byte: a
``PackedShots`` that numpy views without a copy as ``uint8`` of shape
(repetitions, ceil(M/8)), bit k of a row in byte k // 8 at bit k % 8, the
order ``numpy.unpackbits(..., bitorder="little")`` reads::

    shots = clifford_run_packed(instructions, num_qubits, invert_mask, repetitions, seed)
    bits = numpy.unpackbits(numpy.asarray(shots), axis=1, bitorder="little")[:, :shots.num_measurements]

``bits.ravel()`` equals ``clifford_run(...)`` with the same arguments. The
padding bits past M are 0. ``clifford_run_batches`` yields the same rows in
batches of at most ``batch_size`` repetitions (the draws continue from batch
to batch), so a run of any length streams in bounded memory; Ctrl-C stops
between and inside batches. ``packed_counts`` reduces packed rows to outcome
counts, or to the mean of every column, one batch at a time.
"""

from __future__ import annotations

from collections import Counter
from collections.abc import Iterable, Iterator
from typing import TYPE_CHECKING, Any, Literal, Union, overload

from nimbic_scale._native import PackedBatches, PackedShots, clifford_run_batches, clifford_run_packed

if TYPE_CHECKING:
    from typing_extensions import Buffer

    # One batch of packed rows, or an iterable of them.
    _Shots = Union[PackedShots, Buffer, Iterable[Union[PackedShots, Buffer]]]

__all__ = ["PackedBatches", "PackedShots", "clifford_run_batches", "clifford_run_packed", "packed_counts"]

# The text of one packed byte, lowest bit first ("10000000" for 1).
_BYTE_BITS = tuple(format(value, "08b")[::-1] for value in range(256))
# Rows unpacked at a time for column means.
_MEAN_ROWS = 4096


def _batches(shots: Any) -> Iterator[Any]:
    """One buffer is one batch; anything else is an iterable of them."""
    try:
        memoryview(shots).release()
    except TypeError:
        yield from shots
    else:
        yield shots


def _rows(batch: Any, num_measurements: int | None) -> tuple[memoryview, int, int, int]:
    """The batch as a flat byte view, its row count, row length and M."""
    view = memoryview(batch)
    if view.ndim != 2 or view.shape is None or view.itemsize != 1 or not view.c_contiguous:
        raise ValueError(f"packed shots must be a C-contiguous 2-D buffer of bytes, got {view.ndim} dimensions "
                         f"of {view.itemsize}-byte items")
    rows, row_bytes = view.shape
    m = num_measurements if num_measurements is not None else getattr(batch, "num_measurements", None)
    if not isinstance(m, int):
        raise TypeError("num_measurements is needed for packed shots that do not carry it")
    if row_bytes != (m + 7) // 8:
        raise ValueError(f"rows of {row_bytes} bytes cannot hold {m} measurements packed")
    # A view with a zero in its shape cannot be cast: it holds no byte.
    flat = view.cast("B") if rows * row_bytes else memoryview(b"")
    return flat, rows, row_bytes, m


@overload
def packed_counts(shots: _Shots, num_measurements: int | None = None, *,
                  per_column: Literal[False] = False) -> dict[str, int]: ...


@overload
def packed_counts(shots: _Shots, num_measurements: int | None = None, *,
                  per_column: Literal[True]) -> list[float]: ...


def packed_counts(shots: _Shots, num_measurements: int | None = None, *,
                  per_column: bool = False) -> dict[str, int] | list[float]:
    """Outcome counts of packed rows: a PackedShots (or any C-contiguous 2-D
    byte buffer), or an iterable of them such as ``clifford_run_batches``.

    Keys are the outcomes as bit strings, measurement 0 first ("0110"),
    sorted; rows are compared packed and only distinct outcomes are
    spelled out. With ``per_column=True`` the result is instead the mean of
    every measurement column (needs numpy; rows are unpacked a few thousand
    at a time). ``num_measurements`` defaults to the batches' own."""
    if per_column:
        return _column_means(shots, num_measurements)
    packed: Counter[bytes] = Counter()
    m = num_measurements
    for batch in _batches(shots):
        flat, rows, row_bytes, m = _rows(batch, num_measurements)
        if row_bytes == 0:
            if rows:
                packed[b""] += rows
        else:
            packed.update(flat[start:start + row_bytes].tobytes() for start in range(0, rows * row_bytes, row_bytes))
    width = m or 0
    counts = {"".join(_BYTE_BITS[byte] for byte in row)[:width]: count for row, count in packed.items()}
    return dict(sorted(counts.items()))


def _column_means(shots: _Shots, num_measurements: int | None) -> list[float]:
    import numpy

    ones: Any = None
    total = 0
    for batch in _batches(shots):
        flat, rows, row_bytes, m = _rows(batch, num_measurements)
        if ones is None:
            ones = numpy.zeros(m, dtype=numpy.int64)
        elif len(ones) != m:
            raise ValueError(f"batches of {len(ones)} and {m} measurements cannot be counted together")
        table = numpy.frombuffer(flat, dtype=numpy.uint8).reshape(rows, row_bytes)
        for start in range(0, rows, _MEAN_ROWS):
            bits = numpy.unpackbits(table[start:start + _MEAN_ROWS], axis=1, bitorder="little")
            ones += bits[:, :m].sum(axis=0, dtype=numpy.int64)
        total += rows
    if ones is None:
        return []
    return [float("nan")] * len(ones) if total == 0 else (ones / total).tolist()

