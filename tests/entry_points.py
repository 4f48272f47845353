"""Every entry point of the module with the role of each parameter, and a
small successful call and a failing call of each. The fuzz, leak and thread
tests draw from these tables; a test checks they cover the whole module."""
import math

import nimbic_native as nn

# Parameters (name, role) of each entry point. The role tells the fuzz what
# values make sense to vary:
#   floats   list of floats (states, matrices, operators)
#   ints     list of ints (masks)         targets  list of qubit numbers
#   instr    Clifford instruction stream  tableau  flattened tableau
#   qubits   a qubit count                dim      a matrix dimension
#   count    a number of items            int      any integer
#   qubit    one qubit operand            code     an instruction code
#   float    a float (draws, tolerances, scales)
FUNCTIONS = {
    "clifford_run": (("instructions", "instr"), ("num_qubits", "qubits"), ("invert_mask", "ints"),
                     ("repetitions", "count"), ("seed", "int")),
    "clifford_tableau": (("instructions", "instr"), ("num_qubits", "qubits")),
    "clifford_state_vector": (("tableau", "tableau"), ("num_qubits", "qubits")),
    "jacobi_eig": (("matrix", "floats"), ("n", "dim")),
    "simultaneous_diag": (("real", "floats"), ("imag", "floats"), ("n", "dim")),
    "matrix_det": (("matrix", "floats"), ("n", "dim")),
    "matrix_inverse": (("matrix", "floats"), ("n", "dim")),
    "solve3": (("matrix", "floats"), ("rhs", "floats")),
    "kron_factor": (("matrix", "floats"),),
    "matmul": (("a", "floats"), ("b", "floats"), ("dim", "dim")),
    "kron": (("a", "floats"), ("a_dim", "dim"), ("b", "floats"), ("b_dim", "dim")),
    "apply_gate": (("state", "floats"), ("gate", "floats"), ("num_qubits", "qubits"), ("targets", "targets")),
    "dagger": (("a", "floats"), ("dim", "dim")),
    "add_scaled": (("a", "floats"), ("b", "floats"), ("dim", "dim"), ("scale", "float")),
    "matvec": (("matrix", "floats"), ("vector", "floats"), ("dim", "dim")),
    "state_to_density": (("state", "floats"),),
    "sandwich": (("a", "floats"), ("u", "floats"), ("dim", "dim")),
    "channel": (("rho", "floats"), ("ops", "floats"), ("num_ops", "count"), ("dim", "dim")),
    "embed_operator": (("operator", "floats"), ("op_dim", "dim"), ("targets", "targets"),
                       ("num_qubits", "qubits")),
    "state_probabilities": (("state", "floats"), ("targets", "targets"), ("num_qubits", "qubits")),
    "collapse_state": (("state", "floats"), ("targets", "targets"), ("outcome", "int"),
                       ("num_qubits", "qubits")),
    "density_probabilities": (("rho", "floats"), ("targets", "targets"), ("num_qubits", "qubits")),
    "density_collapse": (("rho", "floats"), ("targets", "targets"), ("outcome", "int"),
                         ("num_qubits", "qubits")),
    "pauli_expansion": (("matrix", "floats"), ("num_qubits", "qubits")),
    "sample_outcome": (("probabilities", "floats"), ("u", "float")),
    "is_identity_matrix": (("matrix", "floats"), ("dim", "dim"), ("atol", "float")),
    "matrix_allclose": (("a", "floats"), ("b", "floats"), ("dim", "dim"), ("atol", "float")),
    "version": (),
}

CLASSES = {"NativeState": nn.NativeState, "NativeDensity": nn.NativeDensity,
           "NativeTableau": nn.NativeTableau}

METHODS = {
    "NativeState": {
        "set_amplitudes": (("values", "floats"),),
        "apply_gate": (("gate", "floats"), ("targets", "targets")),
        "reset": (), "set_zero_state": (), "amplitudes": (),
        "probabilities": (("targets", "targets"),),
        "measure": (("targets", "targets"), ("u", "float")),
    },
    "NativeDensity": {
        "set_from_amplitudes": (("values", "floats"),),
        "apply_channel": (("operators", "floats"), ("num_operators", "count"), ("targets", "targets")),
        "reset": (), "set_zero_state": (), "density_matrix": (),
        "probabilities": (("targets", "targets"),),
        "measure": (("targets", "targets"), ("u", "float")),
    },
    "NativeTableau": {
        "reset": (),
        "apply": (("code", "code"), ("a", "qubit"), ("b", "qubit")),
        "measure": (("a", "qubit"), ("u", "float")),
        "state_vector": (), "stabilizer_tableau": (),
    },
}

# Methods that change their object.
IN_PLACE = {"set_amplitudes", "apply_gate", "reset", "set_zero_state", "measure",
            "set_from_amplitudes", "apply_channel", "apply"}

R = 1 / math.sqrt(2)
H = [R, 0.0, R, 0.0, R, 0.0, -R, 0.0]
X = [0.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.0]
I2 = [1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0]
CNOT = [1.0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1.0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 1.0, 0, 0, 0, 0, 0, 1.0, 0, 0, 0]
PLUS = [R, 0.0, R, 0.0]
RHO_PLUS = [0.5, 0.0, 0.5, 0.0, 0.5, 0.0, 0.5, 0.0]
BELL_STREAM = [0, 0, 0, 6, 0, 1, 9, 0, 0, 9, 1, 0]
SYM2 = [2.0, 1.0, 1.0, 3.0]
DAMPING = [1.0, 0.0, 0.0, 0.0, 0.0, 0.0, math.sqrt(0.7), 0.0,
           0.0, 0.0, math.sqrt(0.3), 0.0, 0.0, 0.0, 0.0, 0.0]


def prepared(cls_name):
    """A small object of the class in a non-trivial state."""
    obj = CLASSES[cls_name](1 if cls_name != "NativeTableau" else 2)
    if cls_name == "NativeState":
        obj.set_amplitudes(PLUS)
    elif cls_name == "NativeDensity":
        obj.set_from_amplitudes(PLUS)
    else:
        obj.apply(0, 0, 0)
    return obj


# Small arguments of a successful call and of a failing call (index error,
# qubit error, bad type or impossible size) of every entry point.
ARGS = {
    "clifford_run": (BELL_STREAM, 2, [1], 4, 7),
    "clifford_tableau": (BELL_STREAM, 2),
    "clifford_state_vector": ([0, 1, 0, 1, 0, 0, 0, 0, 0], 1),
    "jacobi_eig": (SYM2, 2),
    "simultaneous_diag": (SYM2, [0.0, 0.5, 0.5, 0.0], 2),
    "matrix_det": (H, 2),
    "matrix_inverse": (H, 2),
    "solve3": ([2.0, 0, 0, 0, 3.0, 0, 0, 0, 4.0], [1.0, 1.0, 1.0]),
    "kron_factor": (CNOT,),
    "matmul": (H, X, 2),
    "kron": (H, 2, X, 2),
    "apply_gate": ([1.0, 0.0, 0.0, 0.0], H, 1, [0]),
    "dagger": (H, 2),
    "add_scaled": (H, X, 2, 0.5),
    "matvec": (H, PLUS, 2),
    "state_to_density": (PLUS,),
    "sandwich": (RHO_PLUS, H, 2),
    "channel": (RHO_PLUS, DAMPING, 2, 2),
    "embed_operator": (X, 2, [1], 2),
    "state_probabilities": (PLUS, [0], 1),
    "collapse_state": (PLUS, [0], 1, 1),
    "density_probabilities": (RHO_PLUS, [0], 1),
    "density_collapse": (RHO_PLUS, [0], 0, 1),
    "pauli_expansion": (H, 1),
    "sample_outcome": ([0.25, 0.75], 0.5),
    "is_identity_matrix": (I2, 2, 1e-12),
    "matrix_allclose": (H, H, 2, 1e-12),
    "version": (),
    "NativeState": (2,),
    "NativeDensity": (1,),
    "NativeTableau": (2,),
    "NativeState.set_amplitudes": (PLUS,),
    "NativeState.apply_gate": (H, [0]),
    "NativeState.probabilities": ([0],),
    "NativeState.measure": ([0], 0.7),
    "NativeDensity.set_from_amplitudes": (PLUS,),
    "NativeDensity.apply_channel": (DAMPING, 2, [0]),
    "NativeDensity.probabilities": ([0],),
    "NativeDensity.measure": ([0], 0.7),
    "NativeTableau.apply": (6, 0, 1),
    "NativeTableau.measure": (0, 0.7),
}

FAIL_ARGS = {
    "clifford_run": ([9, 5, 0], 2, [], 3, 1),
    "clifford_tableau": ([6, 0, 0], 2),
    "clifford_state_vector": ([0, 1], 1),
    "jacobi_eig": ([1.0, 2.0], 2),
    "simultaneous_diag": (SYM2, [0.0], 2),
    "matrix_det": (H[:5], 2),
    "matrix_inverse": ([], -2**31),
    "solve3": ([1.0] * 9, [1.0]),
    "kron_factor": (H,),
    "matmul": (H, [True], 2),
    "kron": (H, 2, X[:3], 2),
    "apply_gate": ([1.0, 0.0, 0.0, 0.0], H, 1, [1]),
    "dagger": (H[:3], 2),
    "add_scaled": (H, X, 2, "0.5"),
    "matvec": (H, PLUS[:1], 2),
    "state_to_density": ([1.0, None],),
    "sandwich": (RHO_PLUS, H[:4], 2),
    "channel": (RHO_PLUS, DAMPING[:9], 2, 2),
    "embed_operator": (X, 2, [0, 0], 2),
    "state_probabilities": ([], list(range(40)), -1),
    "collapse_state": (PLUS, [3], 1, 1),
    "density_probabilities": (RHO_PLUS[:3], [0], 1),
    "density_collapse": (RHO_PLUS, [0], 0, 2**63),
    "pauli_expansion": (H[:6], 1),
    "sample_outcome": ((0.5, 1j), 0.5),
    "is_identity_matrix": (I2[:2], 2, 1e-12),
    "matrix_allclose": (H, H[:6], 2, 1e-12),
    "version": (1,),
    "NativeState": (40,),
    "NativeDensity": (20,),
    "NativeTableau": (2**62,),
    "NativeState.set_amplitudes": ([1.0, "x"],),
    "NativeState.apply_gate": (H[:7], [0]),
    "NativeState.reset": (1,),
    "NativeState.set_zero_state": (None,),
    "NativeState.amplitudes": (2,),
    "NativeState.probabilities": ([5],),
    "NativeState.measure": ([0, 0], 0.5),
    "NativeDensity.set_from_amplitudes": ([1.0],),
    "NativeDensity.apply_channel": (DAMPING[:9], 2, [0]),
    "NativeDensity.reset": (0,),
    "NativeDensity.set_zero_state": (0,),
    "NativeDensity.density_matrix": (0,),
    "NativeDensity.probabilities": ([-1],),
    "NativeDensity.measure": ([2], 0.5),
    "NativeTableau.apply": (6, 1, 1),
    "NativeTableau.measure": (5, 0.5),
}


# Methods without parameters whose failing call is a count the buffers do
# not hold: the failure comes from the native side, not from binding.
FAIL_COUNT = {"NativeTableau.reset": 3, "NativeTableau.state_vector": 3,
              "NativeTableau.stabilizer_tableau": 3}
for _entry in FAIL_COUNT:
    FAIL_ARGS[_entry] = ()


def callable_of(entry, obj=None):
    """The Python callable of an entry point: a module function, a class, or
    the bound method of `obj` (a prepared object when none is given)."""
    if "." not in entry:
        return getattr(nn, entry) if entry in FUNCTIONS else CLASSES[entry]
    cls_name, method = entry.split(".")
    return getattr(obj if obj is not None else prepared(cls_name), method)


def all_entry_points():
    """Names of every function, constructor and method the module publishes."""
    names = [n for n in dir(nn) if callable(getattr(nn, n)) and not n.startswith("_")]
    for cls_name in CLASSES:
        names += [f"{cls_name}.{m}" for m in dir(CLASSES[cls_name])
                  if not m.startswith("_") and callable(getattr(CLASSES[cls_name], m))]
    return sorted(names)
