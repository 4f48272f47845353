// The declarative tables: one entry per function or method, giving its core
// routine, its name, its parameter names and its docstring. The wrappers are
// instantiated from these entries.
#include "module/function_table.hpp"

#include <string>

#include "binding/wrapper.hpp"
#include "common/sample_outcome.hpp"
#include "density/density_measurement.hpp"
#include "density/native_density.hpp"
#include "density/whole_matrix.hpp"
#include "linalg/complex_matrix.hpp"
#include "linalg/elimination.hpp"
#include "linalg/jacobi.hpp"
#include "linalg/kron_factor.hpp"
#include "linalg/pauli.hpp"
#include "stabilizer/clifford_batch.hpp"
#include "stabilizer/native_tableau.hpp"
#include "stabilizer/state_vector.hpp"
#include "statevector/gates.hpp"
#include "statevector/measurement.hpp"
#include "statevector/native_state.hpp"

namespace nimbic::module {

using binding::function;
using binding::method;

namespace {

std::string version() { return "0.1.0"; }

PyMethodDef* seal(std::vector<PyMethodDef>& table) {
  table.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
  return table.data();
}

}  // namespace

PyMethodDef* module_functions() {
  static std::vector<PyMethodDef> table = {
      function<&stabilizer::clifford_run>(
          "clifford_run", {"instructions", "num_qubits", "invert_mask", "repetitions", "seed"},
          "clifford_run(instructions: Sequence[int], num_qubits: int, invert_mask: Sequence[int], "
          "repetitions: int, seed: int) -> Sequence[int]"),
      function<&stabilizer::clifford_tableau>(
          "clifford_tableau", {"instructions", "num_qubits"},
          "clifford_tableau(instructions: Sequence[int], num_qubits: int) -> Sequence[int]"),
      function<&stabilizer::clifford_state_vector>(
          "clifford_state_vector", {"tableau", "num_qubits"},
          "clifford_state_vector(tableau: Sequence[int], num_qubits: int) -> Sequence[float]"),
      function<&linalg::jacobi_eig>("jacobi_eig", {"matrix", "n"},
                                    "jacobi_eig(matrix: Sequence[float], n: int) -> Sequence[float]"),
      function<&linalg::simultaneous_diag>(
          "simultaneous_diag", {"real", "imag", "n"},
          "simultaneous_diag(real: Sequence[float], imag: Sequence[float], n: int) -> Sequence[float]"),
      function<&linalg::matrix_det>("matrix_det", {"matrix", "n"},
                                    "matrix_det(matrix: Sequence[float], n: int) -> Sequence[float]"),
      function<&linalg::matrix_inverse>("matrix_inverse", {"matrix", "n"},
                                        "matrix_inverse(matrix: Sequence[float], n: int) -> Sequence[float]"),
      function<&linalg::solve3>("solve3", {"matrix", "rhs"},
                                "solve3(matrix: Sequence[float], rhs: Sequence[float]) -> Sequence[float]"),
      function<&linalg::kron_factor>("kron_factor", {"matrix"},
                                     "kron_factor(matrix: Sequence[float]) -> Sequence[float]"),
      function<&linalg::matmul>("matmul", {"a", "b", "dim"},
                                "matmul(a: Sequence[float], b: Sequence[float], dim: int) -> Sequence[float]"),
      function<&linalg::kron>(
          "kron", {"a", "a_dim", "b", "b_dim"},
          "kron(a: Sequence[float], a_dim: int, b: Sequence[float], b_dim: int) -> Sequence[float]"),
      function<&statevector::apply_gate>(
          "apply_gate", {"state", "gate", "num_qubits", "targets"},
          "apply_gate(state: Sequence[float], gate: Sequence[float], num_qubits: int, targets: Sequence[int]) "
          "-> Sequence[float]"),
      function<&linalg::dagger>("dagger", {"a", "dim"}, "dagger(a: Sequence[float], dim: int) -> Sequence[float]"),
      function<&linalg::add_scaled>(
          "add_scaled", {"a", "b", "dim", "scale"},
          "add_scaled(a: Sequence[float], b: Sequence[float], dim: int, scale: float) -> Sequence[float]"),
      function<&linalg::matvec>(
          "matvec", {"matrix", "vector", "dim"},
          "matvec(matrix: Sequence[float], vector: Sequence[float], dim: int) -> Sequence[float]"),
      function<&density::state_to_density>("state_to_density", {"state"},
                                           "state_to_density(state: Sequence[float]) -> Sequence[float]"),
      function<&density::sandwich>("sandwich", {"a", "u", "dim"},
                                   "sandwich(a: Sequence[float], u: Sequence[float], dim: int) -> Sequence[float]"),
      function<&density::channel>(
          "channel", {"rho", "ops", "num_ops", "dim"},
          "channel(rho: Sequence[float], ops: Sequence[float], num_ops: int, dim: int) -> Sequence[float]"),
      function<&density::embed_operator>(
          "embed_operator", {"operator", "op_dim", "targets", "num_qubits"},
          "embed_operator(operator: Sequence[float], op_dim: int, targets: Sequence[int], num_qubits: int) -> "
          "Sequence[float]"),
      function<&statevector::state_probabilities>(
          "state_probabilities", {"state", "targets", "num_qubits"},
          "state_probabilities(state: Sequence[float], targets: Sequence[int], num_qubits: int) -> "
          "Sequence[float]"),
      function<&statevector::collapse_state>(
          "collapse_state", {"state", "targets", "outcome", "num_qubits"},
          "collapse_state(state: Sequence[float], targets: Sequence[int], outcome: int, num_qubits: int) -> "
          "Sequence[float]"),
      function<&density::density_probabilities>(
          "density_probabilities", {"rho", "targets", "num_qubits"},
          "density_probabilities(rho: Sequence[float], targets: Sequence[int], num_qubits: int) -> "
          "Sequence[float]"),
      function<&density::density_collapse>(
          "density_collapse", {"rho", "targets", "outcome", "num_qubits"},
          "density_collapse(rho: Sequence[float], targets: Sequence[int], outcome: int, num_qubits: int) -> "
          "Sequence[float]"),
      function<&linalg::pauli_expansion>(
          "pauli_expansion", {"matrix", "num_qubits"},
          "pauli_expansion(matrix: Sequence[float], num_qubits: int) -> Sequence[float]"),
      function<&sample_outcome>("sample_outcome", {"probabilities", "u"},
                                "sample_outcome(probabilities: Sequence[float], u: float) -> int"),
      function<&linalg::is_identity_matrix>(
          "is_identity_matrix", {"matrix", "dim", "atol"},
          "is_identity_matrix(matrix: Sequence[float], dim: int, atol: float) -> int"),
      function<&linalg::matrix_allclose>(
          "matrix_allclose", {"a", "b", "dim", "atol"},
          "matrix_allclose(a: Sequence[float], b: Sequence[float], dim: int, atol: float) -> int"),
      function<&version>("version", {}, "version() -> str"),
  };
  static PyMethodDef* sealed_table = seal(table);
  return sealed_table;
}

PyMethodDef* native_state_methods() {
  namespace sv = statevector;
  static std::vector<PyMethodDef> table = {
      method<&sv::NativeState::set_amplitudes>(
          "set_amplitudes", {"values"}, "set_amplitudes overwrites the state with `values` (interleaved complex)."),
      method<&sv::NativeState::apply_gate>("apply_gate", {"gate", "targets"},
                                           "apply_gate applies a gate matrix to `targets`, in place."),
      method<&sv::NativeState::reset>("reset", {}, "reset sets the state to `|0...0>` without building a Python list."),
      method<&sv::NativeState::set_zero_state>("set_zero_state", {},
                                               "set_zero_state sets a freshly created (zeroed) state to `|0...0>`."),
      method<&sv::NativeState::amplitudes>("amplitudes", {},
                                           "amplitudes returns the state as an interleaved complex buffer."),
      method<&sv::NativeState::probabilities>(
          "probabilities", {"targets"},
          "probabilities returns the probability of each outcome of measuring `targets`."),
      method<&sv::NativeState::measure>("measure", {"targets", "u"},
                                        "measure samples `targets` with a uniform draw `u` in [0, 1), collapses the\n"
                                        "state and returns the outcome."),
  };
  static PyMethodDef* sealed_table = seal(table);
  return sealed_table;
}

PyMethodDef* native_density_methods() {
  using density::NativeDensity;
  static std::vector<PyMethodDef> table = {
      method<&NativeDensity::set_from_amplitudes>(
          "set_from_amplitudes", {"values"},
          "set_from_amplitudes sets the density matrix to `|psi><psi|` of `values`."),
      method<&NativeDensity::apply_channel>(
          "apply_channel", {"operators", "num_operators", "targets"},
          "apply_channel applies the Kraus operators in `operators` (concatenated) to\n"
          "`targets`: `rho -> sum_i K_i rho K_i^dagger`."),
      method<&NativeDensity::reset>("reset", {},
                                    "reset sets the density matrix to `|0...0><0...0|` without a Python list."),
      method<&NativeDensity::set_zero_state>(
          "set_zero_state", {}, "set_zero_state sets a freshly created (zeroed) density matrix to `|0><0|`."),
      method<&NativeDensity::density_matrix>(
          "density_matrix", {}, "density_matrix returns the density matrix as an interleaved complex buffer."),
      method<&NativeDensity::probabilities>(
          "probabilities", {"targets"},
          "probabilities returns the probability of each outcome of measuring `targets`."),
      method<&NativeDensity::measure>("measure", {"targets", "u"},
                                      "measure samples `targets` with a uniform draw `u` in [0, 1), collapses the\n"
                                      "state and returns the outcome."),
  };
  static PyMethodDef* sealed_table = seal(table);
  return sealed_table;
}

PyMethodDef* native_tableau_methods() {
  using stabilizer::NativeTableau;
  static std::vector<PyMethodDef> table = {
      method<&NativeTableau::reset>("reset", {}, "reset returns the tableau to `|0...0>`."),
      method<&NativeTableau::apply>("apply", {"code", "a", "b"},
                                    "apply runs one instruction (see the `instr_*` codes) in place."),
      method<&NativeTableau::measure>("measure", {"a", "u"},
                                      "measure measures qubit `a` with a random outcome drawn from `u` in [0, 1)."),
      method<&NativeTableau::state_vector>("state_vector", {},
                                           "state_vector reconstructs the state, up to a global phase."),
      method<&NativeTableau::stabilizer_tableau>("stabilizer_tableau", {},
                                                 "stabilizer_tableau returns the flattened tableau, for inspection."),
  };
  static PyMethodDef* sealed_table = seal(table);
  return sealed_table;
}

}  // namespace nimbic::module
