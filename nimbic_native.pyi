"""Native engine of a quantum-circuit simulator: state vectors, density
matrices, stabilizer tableaux and dense complex linear algebra.

Complex data is interleaved ``[re0, im0, re1, im1, ...]``; matrices are
row-major; qubit 0 is the most significant bit of a basis index.
"""

import sys
from collections.abc import Sequence

def clifford_run(
    instructions: Sequence[int], num_qubits: int, invert_mask: Sequence[int], repetitions: int, seed: int
) -> list[int]:
    """Run a Clifford circuit `repetitions` times with seeded measurements; rows of measured bits."""

def clifford_tableau(instructions: Sequence[int], num_qubits: int) -> list[int]:
    """Flattened tableau of a Clifford circuit applied to |0...0>."""

def clifford_state_vector(tableau: Sequence[int], num_qubits: int) -> list[float]:
    """State vector (up to global phase) of a flattened stabilizer tableau."""

def jacobi_eig(matrix: Sequence[float], n: int) -> list[float]:
    """Eigenvalues then eigenvectors (columns) of a real symmetric matrix, by Jacobi rotations."""

def simultaneous_diag(real: Sequence[float], imag: Sequence[float], n: int) -> list[float]:
    """One real orthogonal basis diagonalising two commuting real symmetric matrices."""

def matrix_det(matrix: Sequence[float], n: int) -> list[float]:
    """Determinant [re, im] of a complex matrix."""

def matrix_inverse(matrix: Sequence[float], n: int) -> list[float]:
    """Inverse of a complex matrix; an empty list when it is singular."""

def solve3(matrix: Sequence[float], rhs: Sequence[float]) -> list[float]:
    """Solution x of a real 3x3 system matrix . x = rhs."""

def kron_factor(matrix: Sequence[float]) -> list[float]:
    """Split a 4x4 matrix into g * (A kron B) with det A = det B = 1: [g, A, B]."""

def matmul(a: Sequence[float], b: Sequence[float], dim: int) -> list[float]:
    """Matrix product a . b of two complex matrices."""

def kron(a: Sequence[float], a_dim: int, b: Sequence[float], b_dim: int) -> list[float]:
    """Kronecker product a kron b (a on the more significant index)."""

def apply_gate(
    state: Sequence[float], gate: Sequence[float], num_qubits: int, targets: Sequence[int]
) -> list[float]:
    """A state vector with a gate applied to `targets`, as a new list."""

def dagger(a: Sequence[float], dim: int) -> list[float]:
    """Conjugate transpose of a complex matrix."""

def add_scaled(a: Sequence[float], b: Sequence[float], dim: int, scale: float) -> list[float]:
    """a + scale * b for complex matrices and a real scale."""

def matvec(matrix: Sequence[float], vector: Sequence[float], dim: int) -> list[float]:
    """Matrix-vector product of a complex matrix and vector."""

def state_to_density(state: Sequence[float]) -> list[float]:
    """Density matrix |psi><psi| of a state vector."""

def sandwich(a: Sequence[float], u: Sequence[float], dim: int) -> list[float]:
    """U . A . U^dagger of complex matrices."""

def channel(rho: Sequence[float], ops: Sequence[float], num_ops: int, dim: int) -> list[float]:
    """Sum of K rho K^dagger over concatenated Kraus operators, on a whole matrix."""

def embed_operator(
    operator: Sequence[float], op_dim: int, targets: Sequence[int], num_qubits: int
) -> list[float]:
    """An operator on `targets` as the full 2^n x 2^n matrix (identity elsewhere)."""

def state_probabilities(state: Sequence[float], targets: Sequence[int], num_qubits: int) -> list[float]:
    """Outcome probabilities of measuring `targets` of a state vector."""

def collapse_state(
    state: Sequence[float], targets: Sequence[int], outcome: int, num_qubits: int
) -> list[float]:
    """A state vector projected onto a measurement outcome and renormalised."""

def density_probabilities(rho: Sequence[float], targets: Sequence[int], num_qubits: int) -> list[float]:
    """Outcome probabilities of measuring `targets` of a density matrix."""

def density_collapse(
    rho: Sequence[float], targets: Sequence[int], outcome: int, num_qubits: int
) -> list[float]:
    """A density matrix projected onto a measurement outcome and renormalised."""

def pauli_expansion(matrix: Sequence[float], num_qubits: int) -> list[float]:
    """Coefficients tr(P_j M) / 2^n of a matrix over all 4^n Pauli strings."""

def sample_outcome(probabilities: Sequence[float], u: float) -> int:
    """First index whose running probability sum exceeds `u`, else the last index."""

def is_identity_matrix(matrix: Sequence[float], dim: int, atol: float) -> int:
    """1 when every entry is within `atol` of the identity, else 0."""

def matrix_allclose(a: Sequence[float], b: Sequence[float], dim: int, atol: float) -> int:
    """1 when every float of a and b differs by at most `atol`, else 0."""

def version() -> str:
    """The module version, "0.1.0"."""

class NativeTableau:
    """A stabilizer tableau held natively, driven one Clifford instruction at a time."""

    num_qubits: int
    def __new__(cls, num_qubits: int) -> NativeTableau: ...
    def reset(self) -> None:
        """Return the tableau to |0...0>."""
    def apply(self, code: int, a: int, b: int) -> None:
        """Run one instruction (H, S, S^dagger, X, Y, Z, CNOT, CZ, SWAP codes 0-8) in place."""
    def measure(self, a: int, u: float) -> int:
        """Measure qubit `a` in the Z basis, drawing a random outcome from `u`."""
    def state_vector(self) -> list[float]:
        """The state vector (up to global phase)."""
    def stabilizer_tableau(self) -> list[int]:
        """The flattened tableau: x bits, z bits and sign of every row."""

class NativeState:
    """A state vector held natively as interleaved complex amplitudes; exports a buffer."""

    num_qubits: int
    def __new__(cls, num_qubits: int) -> NativeState: ...
    def set_amplitudes(self, values: Sequence[float]) -> None:
        """Overwrite the state with interleaved amplitudes (padded or cut)."""
    def apply_gate(self, gate: Sequence[float], targets: Sequence[int]) -> None:
        """Apply a gate matrix to `targets`, in place."""
    def reset(self) -> None:
        """Set the state to |0...0>."""
    def set_zero_state(self) -> None:
        """Set a freshly created (zeroed) state to |0...0>."""
    def amplitudes(self) -> list[float]:
        """A copy of the amplitudes."""
    def probabilities(self, targets: Sequence[int]) -> list[float]:
        """Outcome probabilities of measuring `targets`."""
    def measure(self, targets: Sequence[int], u: float) -> int:
        """Sample an outcome of `targets` with the draw `u`, collapse, return it."""
    if sys.version_info >= (3, 12):
        def __buffer__(self, flags: int, /) -> memoryview: ...
        def __release_buffer__(self, buffer: memoryview, /) -> None: ...

class NativeDensity:
    """A density matrix held natively as an interleaved complex buffer; exports a buffer."""

    num_qubits: int
    def __new__(cls, num_qubits: int) -> NativeDensity: ...
    def set_from_amplitudes(self, values: Sequence[float]) -> None:
        """Set the matrix to |psi><psi| of interleaved amplitudes."""
    def apply_channel(self, operators: Sequence[float], num_operators: int, targets: Sequence[int]) -> None:
        """Apply Kraus operators (concatenated) to `targets`: rho -> sum K rho K^dagger."""
    def reset(self) -> None:
        """Set the matrix to |0...0><0...0|."""
    def set_zero_state(self) -> None:
        """Set a freshly created (zeroed) matrix to |0><0|."""
    def density_matrix(self) -> list[float]:
        """A copy of the matrix."""
    def probabilities(self, targets: Sequence[int]) -> list[float]:
        """Outcome probabilities of measuring `targets`."""
    def measure(self, targets: Sequence[int], u: float) -> int:
        """Sample an outcome of `targets` with the draw `u`, collapse, return it."""
    if sys.version_info >= (3, 12):
        def __buffer__(self, flags: int, /) -> memoryview: ...
        def __release_buffer__(self, buffer: memoryview, /) -> None: ...
