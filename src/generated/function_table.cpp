// The declarative tables: one entry per function or method, giving its core
// routine, its name, its parameter names and its docstring. The wrappers are
// instantiated from these entries.
#include "generated/function_table.hpp"

#include <string>

#include "binding/wrapper.hpp"
#include "density/native_density.hpp"
#include "stabilizer/clifford_batch.hpp"
#include "stabilizer/native_tableau.hpp"
#include "statevector/gates.hpp"
#include "statevector/measurement.hpp"
#include "statevector/native_state.hpp"

namespace nimbic::generated {

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
      function<&statevector::apply_gate>(
          "apply_gate", {"state", "gate", "num_qubits", "targets"},
          "apply_gate(state: Sequence[float], gate: Sequence[float], num_qubits: int, targets: Sequence[int]) "
          "-> Sequence[float]"),
      function<&statevector::state_probabilities>(
          "state_probabilities", {"state", "targets", "num_qubits"},
          "state_probabilities(state: Sequence[float], targets: Sequence[int], num_qubits: int) -> "
          "Sequence[float]"),
      function<&statevector::collapse_state>(
          "collapse_state", {"state", "targets", "outcome", "num_qubits"},
          "collapse_state(state: Sequence[float], targets: Sequence[int], outcome: int, num_qubits: int) -> "
          "Sequence[float]"),
      function<&statevector::sample_outcome>("sample_outcome", {"probabilities", "u"},
                                             "sample_outcome(probabilities: Sequence[float], u: float) -> int"),
      function<&version>("version", {}, "version() -> str"),
  };
  static PyMethodDef* sealed_table = seal(table);
  return sealed_table;
}

PyMethodDef* native_state_methods() {
  namespace sv = statevector;
  static std::vector<PyMethodDef> table = {
      method<&sv::NativeState::set_amplitudes>("set_amplitudes", {"values"},
                                  "set_amplitudes overwrites the state with `values` (interleaved complex)."),
      method<&sv::NativeState::apply_gate>("apply_gate", {"gate", "targets"},
                              "apply_gate applies a gate matrix to `targets`, in place."),
      method<&sv::NativeState::reset>("reset", {}, "reset sets the state to `|0...0>` without building a Python list."),
      method<&sv::NativeState::set_zero_state>("set_zero_state", {},
                                  "set_zero_state sets a freshly created (zeroed) state to `|0...0>`."),
      method<&sv::NativeState::amplitudes>("amplitudes", {}, "amplitudes returns the state as an interleaved complex buffer."),
      method<&sv::NativeState::probabilities>("probabilities", {"targets"},
                                 "probabilities returns the probability of each outcome of measuring `targets`."),
      method<&sv::NativeState::measure>("measure", {"targets", "u"},
                           "measure samples `targets` with a uniform draw `u` in [0, 1), collapses the\n"
                           "state and returns the outcome."),
  };
  static PyMethodDef* sealed_table = seal(table);
  return sealed_table;
}

PyMethodDef* native_density_methods() {
  static std::vector<PyMethodDef> table;
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
      method<&NativeTableau::stabilizer_tableau>("stabilizer_tableau", {},
                                                 "stabilizer_tableau returns the flattened tableau, for inspection."),
  };
  static PyMethodDef* sealed_table = seal(table);
  return sealed_table;
}

}  // namespace nimbic::generated
