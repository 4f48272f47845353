"""The module's published surface: function table order, docstrings, parameter
names and kinds, and the classes' method tables."""
import re

import pytest

import nimbic_native as nn

FUNCTION_TABLE = [
    ('clifford_run', 'clifford_run(instructions: Sequence[int], num_qubits: int, invert_mask: Sequence[int], repetitions: int, seed: int) -> Sequence[int]'),
    ('clifford_tableau', 'clifford_tableau(instructions: Sequence[int], num_qubits: int) -> Sequence[int]'),
    ('clifford_state_vector', 'clifford_state_vector(tableau: Sequence[int], num_qubits: int) -> Sequence[float]'),
    ('jacobi_eig', 'jacobi_eig(matrix: Sequence[float], n: int) -> Sequence[float]'),
    ('simultaneous_diag', 'simultaneous_diag(real: Sequence[float], imag: Sequence[float], n: int) -> Sequence[float]'),
    ('matrix_det', 'matrix_det(matrix: Sequence[float], n: int) -> Sequence[float]'),
    ('matrix_inverse', 'matrix_inverse(matrix: Sequence[float], n: int) -> Sequence[float]'),
    ('solve3', 'solve3(matrix: Sequence[float], rhs: Sequence[float]) -> Sequence[float]'),
    ('kron_factor', 'kron_factor(matrix: Sequence[float]) -> Sequence[float]'),
    ('matmul', 'matmul(a: Sequence[float], b: Sequence[float], dim: int) -> Sequence[float]'),
    ('kron', 'kron(a: Sequence[float], a_dim: int, b: Sequence[float], b_dim: int) -> Sequence[float]'),
    ('apply_gate', 'apply_gate(state: Sequence[float], gate: Sequence[float], num_qubits: int, targets: Sequence[int]) -> Sequence[float]'),
    ('dagger', 'dagger(a: Sequence[float], dim: int) -> Sequence[float]'),
    ('add_scaled', 'add_scaled(a: Sequence[float], b: Sequence[float], dim: int, scale: float) -> Sequence[float]'),
    ('matvec', 'matvec(matrix: Sequence[float], vector: Sequence[float], dim: int) -> Sequence[float]'),
    ('state_to_density', 'state_to_density(state: Sequence[float]) -> Sequence[float]'),
    ('sandwich', 'sandwich(a: Sequence[float], u: Sequence[float], dim: int) -> Sequence[float]'),
    ('channel', 'channel(rho: Sequence[float], ops: Sequence[float], num_ops: int, dim: int) -> Sequence[float]'),
    ('embed_operator', 'embed_operator(operator: Sequence[float], op_dim: int, targets: Sequence[int], num_qubits: int) -> Sequence[float]'),
    ('state_probabilities', 'state_probabilities(state: Sequence[float], targets: Sequence[int], num_qubits: int) -> Sequence[float]'),
    ('collapse_state', 'collapse_state(state: Sequence[float], targets: Sequence[int], outcome: int, num_qubits: int) -> Sequence[float]'),
    ('density_probabilities', 'density_probabilities(rho: Sequence[float], targets: Sequence[int], num_qubits: int) -> Sequence[float]'),
    ('density_collapse', 'density_collapse(rho: Sequence[float], targets: Sequence[int], outcome: int, num_qubits: int) -> Sequence[float]'),
    ('pauli_expansion', 'pauli_expansion(matrix: Sequence[float], num_qubits: int) -> Sequence[float]'),
    ('sample_outcome', 'sample_outcome(probabilities: Sequence[float], u: float) -> int'),
    ('is_identity_matrix', 'is_identity_matrix(matrix: Sequence[float], dim: int, atol: float) -> int'),
    ('matrix_allclose', 'matrix_allclose(a: Sequence[float], b: Sequence[float], dim: int, atol: float) -> int'),
    ('version', 'version() -> str'),
]

METHOD_TABLES = {
    nn.NativeState: [
        ("set_amplitudes", "values: Sequence[float]",
         "set_amplitudes overwrites the state with `values` (interleaved complex)."),
        ("apply_gate", "gate: Sequence[float], targets: Sequence[int]",
         "apply_gate applies a gate matrix to `targets`, in place."),
        ("reset", "", "reset sets the state to `|0...0>` without building a Python list."),
        ("set_zero_state", "", "set_zero_state sets a freshly created (zeroed) state to `|0...0>`."),
        ("amplitudes", "", "amplitudes returns the state as an interleaved complex buffer."),
        ("probabilities", "targets: Sequence[int]",
         "probabilities returns the probability of each outcome of measuring `targets`."),
        ("measure", "targets: Sequence[int], u: float",
         "measure samples `targets` with a uniform draw `u` in [0, 1), collapses the\n"
         "state and returns the outcome."),
    ],
    nn.NativeDensity: [
        ("set_from_amplitudes", "values: Sequence[float]",
         "set_from_amplitudes sets the density matrix to `|psi><psi|` of `values`."),
        ("apply_channel", "operators: Sequence[float], num_operators: int, targets: Sequence[int]",
         "apply_channel applies the Kraus operators in `operators` (concatenated) to\n"
         "`targets`: `rho -> sum_i K_i rho K_i^dagger`."),
        ("reset", "", "reset sets the density matrix to `|0...0><0...0|` without a Python list."),
        ("set_zero_state", "", "set_zero_state sets a freshly created (zeroed) density matrix to `|0><0|`."),
        ("density_matrix", "", "density_matrix returns the density matrix as an interleaved complex buffer."),
        ("probabilities", "targets: Sequence[int]",
         "probabilities returns the probability of each outcome of measuring `targets`."),
        ("measure", "targets: Sequence[int], u: float",
         "measure samples `targets` with a uniform draw `u` in [0, 1), collapses the\n"
         "state and returns the outcome."),
    ],
    nn.NativeTableau: [
        ("reset", "", "reset returns the tableau to `|0...0>`."),
        ("apply", "code: int, a: int, b: int", "apply runs one instruction (see the `instr_*` codes) in place."),
        ("measure", "a: int, u: float", "measure measures qubit `a` with a random outcome drawn from `u` in [0, 1)."),
        ("state_vector", "", "state_vector reconstructs the state, up to a global phase."),
        ("stabilizer_tableau", "", "stabilizer_tableau returns the flattened tableau, for inspection."),
    ],
}

VALID = {"int": 0, "float": 0.0, "Sequence[float]": [], "Sequence[int]": []}
EXPECTED = {
    "int": "{p}: expected int, got object",
    "float": "{p}: expected float, got object",
    "Sequence[float]": "{name}(): {p} expected a sequence, got object",
    "Sequence[int]": "{name}(): {p} expected a sequence, got object",
}


def parse_params(signature):
    return [tuple(part.split(": ")) for part in signature.split(", ")] if signature else []


def test_module_docstring():
    assert nn.__doc__ == "clifford_run runs a Clifford circuit `repetitions` times and returns the"


def test_function_table_order_and_docstrings():
    published = [n for n, v in vars(nn).items() if callable(v) and not isinstance(v, type)]
    assert published == [name for name, _ in FUNCTION_TABLE]
    for name, doc in FUNCTION_TABLE:
        assert getattr(nn, name).__doc__ == doc


def check_parameters(fn, name, params):
    """Each parameter is bound by its name and converted by its declared kind:
    with earlier parameters valid, the first bad one is the one reported."""
    for j, (p, kind) in enumerate(params):
        kwargs = {q: VALID[k] for q, k in params[:j]}
        kwargs.update({q: object() for q, _ in params[j:]})
        with pytest.raises(TypeError) as info:
            fn(**kwargs)
        assert str(info.value) == EXPECTED[kind].format(name=name, p=p)
    with pytest.raises(TypeError, match=rf"^{name}\(\) got an unexpected keyword argument 'nope'$"):
        fn(nope=1)


@pytest.mark.parametrize("name, doc", FUNCTION_TABLE[:-1])
def test_function_parameters(name, doc):
    signature = re.fullmatch(rf"{name}\((.*)\) -> .*", doc).group(1)
    check_parameters(getattr(nn, name), name, parse_params(signature))


@pytest.mark.parametrize("cls", list(METHOD_TABLES))
def test_method_tables(cls):
    methods = [n for n, v in vars(cls).items() if callable(v) and not n.startswith("__")]
    assert methods == [name for name, _, _ in METHOD_TABLES[cls]]
    obj = cls(1)
    for name, signature, doc in METHOD_TABLES[cls]:
        assert getattr(cls, name).__doc__ == doc
        params = parse_params(signature)
        if params:
            check_parameters(getattr(obj, name), name, params)
        else:
            with pytest.raises(TypeError, match="takes no arguments"):
                getattr(obj, name)(1)
