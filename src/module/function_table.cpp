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

// The package version from pyproject.toml, passed in by the build.
std::string version() { return NIMBIC_VERSION; }

PyMethodDef* seal(std::vector<PyMethodDef>& table) {
  table.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
  return table.data();
}

}  // namespace

PyMethodDef* module_functions() {
  static std::vector<PyMethodDef> table = {
      function<&stabilizer::clifford_run>("clifford_run",
                                          {"instructions", "num_qubits", "invert_mask", "repetitions", "seed"}),
      function<&stabilizer::clifford_tableau>("clifford_tableau", {"instructions", "num_qubits"}),
      function<&stabilizer::clifford_state_vector>("clifford_state_vector", {"tableau", "num_qubits"}),
      function<&linalg::jacobi_eig>("jacobi_eig", {"matrix", "n"}),
      function<&linalg::simultaneous_diag>("simultaneous_diag", {"real", "imag", "n"}),
      function<&linalg::matrix_det>("matrix_det", {"matrix", "n"}),
      function<&linalg::matrix_inverse>("matrix_inverse", {"matrix", "n"}),
      function<&linalg::solve3>("solve3", {"matrix", "rhs"}),
      function<&linalg::kron_factor>("kron_factor", {"matrix"}),
      function<&linalg::matmul>("matmul", {"a", "b", "dim"}),
      function<&linalg::kron>("kron", {"a", "a_dim", "b", "b_dim"}),
      function<&statevector::apply_gate>("apply_gate", {"state", "gate", "num_qubits", "targets"}),
      function<&linalg::dagger>("dagger", {"a", "dim"}),
      function<&linalg::add_scaled>("add_scaled", {"a", "b", "dim", "scale"}),
      function<&linalg::matvec>("matvec", {"matrix", "vector", "dim"}),
      function<&density::state_to_density>("state_to_density", {"state"}),
      function<&density::sandwich>("sandwich", {"a", "u", "dim"}),
      function<&density::channel>("channel", {"rho", "ops", "num_ops", "dim"}),
      function<&density::embed_operator>("embed_operator", {"operator", "op_dim", "targets", "num_qubits"}),
      function<&statevector::state_probabilities>("state_probabilities", {"state", "targets", "num_qubits"}),
      function<&statevector::collapse_state>("collapse_state", {"state", "targets", "outcome", "num_qubits"}),
      function<&density::density_probabilities>("density_probabilities", {"rho", "targets", "num_qubits"}),
      function<&density::density_collapse>("density_collapse", {"rho", "targets", "outcome", "num_qubits"}),
      function<&linalg::pauli_expansion, &linalg::pauli_expansion_bytes>("pauli_expansion", {"matrix", "num_qubits"}),
      function<&sample_outcome>("sample_outcome", {"probabilities", "u"}),
      function<&linalg::is_identity_matrix>("is_identity_matrix", {"matrix", "dim", "atol"}),
      function<&linalg::matrix_allclose>("matrix_allclose", {"a", "b", "dim", "atol"}),
      function<&version>("version", {}),
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
