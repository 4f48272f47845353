"""Native engine of a quantum-circuit simulator: state vectors, density
matrices, stabilizer tableaux and dense complex linear algebra.

Complex data is interleaved ``[re0, im0, re1, im1, ...]``; matrices are
row-major; qubit 0 is the most significant bit of a basis index.
"""

import sys
from typing import Any, Self, SupportsIndex, TypeAlias

from typing_extensions import Buffer, disjoint_base

# NativeState and NativeDensity export a buffer (PEP 688). Python 3.12 shows
# it as __buffer__/__release_buffer__ at run time; on 3.11 the classes derive
# from typing_extensions.Buffer here, so that type checkers accept them where
# a buffer is expected (memoryview, bytes, numpy.asarray).

# Arguments are converted from lists or tuples only (other sequences raise
# TypeError); float parameters also take ints. Results are new lists.
_Floats: TypeAlias = list[float] | list[int] | tuple[float, ...]
_Ints: TypeAlias = list[int] | tuple[int, ...]
# What __reduce_ex__ gives __setstate__: num_qubits, the bytes of each buffer
# field, the instance dict of a subclass (or None).
_State: TypeAlias = tuple[int, tuple[Buffer, ...], dict[str, Any] | None]

def clifford_run(instructions: _Ints, num_qubits: int, invert_mask: _Ints, repetitions: int, seed: int) -> list[int]:
    """Seeded shots of a Clifford circuit's measurements, one row per repetition, bits flipped by `invert_mask`."""

def clifford_tableau(instructions: _Ints, num_qubits: int) -> list[int]:
    """Flattened tableau of a Clifford circuit run on |0...0>."""

def clifford_state_vector(tableau: _Ints, num_qubits: int) -> list[float]:
    """State vector of a flattened stabilizer tableau, first non-zero amplitude real and positive."""

def jacobi_eig(matrix: _Floats, n: int) -> list[float]:
    """Eigenvalues, then the orthogonal eigenvector matrix (vectors as columns) of a real symmetric matrix."""

def simultaneous_diag(real: _Floats, imag: _Floats, n: int) -> list[float]:
    """One orthogonal Q diagonalising two commuting real symmetric matrices: n eigenvalue pairs, then Q."""

def matrix_det(matrix: _Floats, n: int) -> list[float]:
    """Determinant [re, im] of a complex matrix."""

def matrix_inverse(matrix: _Floats, n: int) -> list[float]:
    """Inverse of a complex matrix; an empty list when a pivot falls below 1e-14."""

def solve3(matrix: _Floats, rhs: _Floats) -> list[float]:
    """Solution x of the real 3x3 system matrix @ x == rhs."""

def kron_factor(matrix: _Floats) -> list[float]:
    """[g, A, B] with matrix == g * kron(A, B), det A = det B = 1, for a 4x4 matrix."""

def matmul(a: _Floats, b: _Floats, dim: int) -> list[float]:
    """Matrix product a @ b of two complex matrices."""

def kron(a: _Floats, a_dim: int, b: _Floats, b_dim: int) -> list[float]:
    """Kronecker product of two complex matrices, `a` on the more significant index."""

def apply_gate(state: _Floats, gate: _Floats, num_qubits: int, targets: _Ints) -> list[float]:
    """A state vector with a 2^k x 2^k gate applied to k `targets`, as a new list."""

def dagger(a: _Floats, dim: int) -> list[float]:
    """Conjugate transpose of a complex matrix."""

def add_scaled(a: _Floats, b: _Floats, dim: int, scale: float) -> list[float]:
    """a + scale * b for complex matrices and a real scale."""

def matvec(matrix: _Floats, vector: _Floats, dim: int) -> list[float]:
    """Product of a complex matrix and a complex vector."""

def state_to_density(state: _Floats) -> list[float]:
    """Density matrix |psi><psi| of a state vector."""

def sandwich(a: _Floats, u: _Floats, dim: int) -> list[float]:
    """U A U^dagger of two complex matrices."""

def channel(rho: _Floats, ops: _Floats, num_ops: int, dim: int) -> list[float]:
    """sum_k K_k rho K_k^dagger over concatenated Kraus operators, on a whole matrix."""

def embed_operator(operator: _Floats, op_dim: int, targets: _Ints, num_qubits: int) -> list[float]:
    """The 2^n x 2^n matrix of an operator on `targets`, identity elsewhere."""

def state_probabilities(state: _Floats, targets: _Ints, num_qubits: int) -> list[float]:
    """Outcome probabilities of measuring `targets` of a state vector."""

def collapse_state(state: _Floats, targets: _Ints, outcome: int, num_qubits: int) -> list[float]:
    """A state vector projected onto a measurement outcome of `targets` and renormalised."""

def density_probabilities(rho: _Floats, targets: _Ints, num_qubits: int) -> list[float]:
    """Outcome probabilities of measuring `targets` of a density matrix."""

def density_collapse(rho: _Floats, targets: _Ints, outcome: int, num_qubits: int) -> list[float]:
    """P rho P / tr(P rho P) for the projector P of an outcome of `targets`."""

def pauli_expansion(matrix: _Floats, num_qubits: int) -> list[float]:
    """Coefficients tr(P_j M) / 2^n over all 4^n Pauli strings, so that sum_j c_j P_j == M."""

def sample_outcome(probabilities: _Floats, u: float) -> int:
    """First index whose running probability sum exceeds `u`, else the last index."""

def is_identity_matrix(matrix: _Floats, dim: int, atol: float) -> int:
    """1 when every float is within `atol` of the identity matrix, else 0."""

def matrix_allclose(a: _Floats, b: _Floats, dim: int, atol: float) -> int:
    """1 when every float of `a` and `b` differs by at most `atol`, else 0."""

def version() -> str:
    """The package version, as the installed package's metadata gives it."""

@disjoint_base
class NativeTableau:
    """A stabilizer tableau in native buffers, starting at |0...0> and driven one instruction at a time."""

    num_qubits: int
    """The qubit count the methods work with; writable, the buffers keep their size."""
    def __new__(cls, num_qubits: int) -> NativeTableau: ...
    def reset(self) -> None:
        """Return the tableau to |0...0>."""
    def apply(self, code: int, a: int, b: int) -> None:
        """Run one instruction (code, a, b) in place; measurement and unknown codes do nothing."""
    def measure(self, a: int, u: float) -> int:
        """Measure qubit `a` in the Z basis; a random outcome is 0 when `u` < 0.5, else 1."""
    def state_vector(self) -> list[float]:
        """The state vector, first non-zero amplitude real and positive."""
    def stabilizer_tableau(self) -> list[int]:
        """The flattened tableau: x bits, z bits and sign of each of the 2n+1 rows."""
    def __reduce_ex__(self, protocol: SupportsIndex, /) -> tuple[Any, ...]: ...
    def __setstate__(self, state: _State, /) -> None: ...
    def __copy__(self) -> Self: ...
    def __deepcopy__(self, memo: dict[int, Any], /) -> Self: ...

@disjoint_base
class NativeState(Buffer):
    """A state vector in a native buffer of interleaved amplitudes, all zeros until initialised; exports a writable buffer."""

    num_qubits: int
    """The qubit count the methods work with; writable, the buffers keep their size."""
    def __new__(cls, num_qubits: int) -> NativeState: ...
    def set_amplitudes(self, values: _Floats) -> None:
        """Overwrite the state with interleaved amplitudes, zero-padded or cut to the buffer."""
    def apply_gate(self, gate: _Floats, targets: _Ints) -> None:
        """Apply a 2^k x 2^k gate to k `targets`, in place."""
    def reset(self) -> None:
        """Set any contents to |0...0>."""
    def set_zero_state(self) -> None:
        """Set a freshly created (all-zero) state to |0...0>."""
    def amplitudes(self) -> list[float]:
        """A copy of the interleaved amplitudes."""
    def probabilities(self, targets: _Ints) -> list[float]:
        """Outcome probabilities of measuring `targets`."""
    def measure(self, targets: _Ints, u: float) -> int:
        """Sample an outcome of `targets` with the draw `u` in [0, 1), collapse the state, return the outcome."""
    def __reduce_ex__(self, protocol: SupportsIndex, /) -> tuple[Any, ...]: ...
    def __setstate__(self, state: _State, /) -> None: ...
    def __copy__(self) -> Self: ...
    def __deepcopy__(self, memo: dict[int, Any], /) -> Self: ...
    if sys.version_info >= (3, 12):
        def __buffer__(self, flags: int, /) -> memoryview: ...
        def __release_buffer__(self, buffer: memoryview, /) -> None: ...

@disjoint_base
class NativeDensity(Buffer):
    """A 2^n x 2^n density matrix in a native buffer, all zeros until initialised; exports a writable buffer."""

    num_qubits: int
    """The qubit count the methods work with; writable, the buffers keep their size."""
    def __new__(cls, num_qubits: int) -> NativeDensity: ...
    def set_from_amplitudes(self, values: _Floats) -> None:
        """Set the matrix to |psi><psi| of the leading 2^n interleaved amplitudes."""
    def apply_channel(self, operators: _Floats, num_operators: int, targets: _Ints) -> None:
        """Apply Kraus operators (concatenated) to `targets` in place: rho -> sum_k K_k rho K_k^dagger."""
    def reset(self) -> None:
        """Set any contents to |0...0><0...0|."""
    def set_zero_state(self) -> None:
        """Set a freshly created (all-zero) matrix to |0...0><0...0|."""
    def density_matrix(self) -> list[float]:
        """A copy of the interleaved matrix."""
    def probabilities(self, targets: _Ints) -> list[float]:
        """Outcome probabilities of measuring `targets`."""
    def measure(self, targets: _Ints, u: float) -> int:
        """Sample an outcome of `targets` with the draw `u` in [0, 1), collapse the matrix, return the outcome."""
    def __reduce_ex__(self, protocol: SupportsIndex, /) -> tuple[Any, ...]: ...
    def __setstate__(self, state: _State, /) -> None: ...
    def __copy__(self) -> Self: ...
    def __deepcopy__(self, memo: dict[int, Any], /) -> Self: ...
    if sys.version_info >= (3, 12):
        def __buffer__(self, flags: int, /) -> memoryview: ...
        def __release_buffer__(self, buffer: memoryview, /) -> None: ...
