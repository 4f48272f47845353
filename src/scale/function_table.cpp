// The declarative table of nimbic_scale._native: the native helpers of the
// nimbic_scale package, one entry per function (core routine, name,
// parameter names), wrapped by the same templates as nimbic_native's table.
#include "scale/function_table.hpp"

#include <vector>

#include "binding/wrapper.hpp"
#include "scale/sampling_entries.hpp"

namespace nimbic::scale {

using binding::function;

PyMethodDef* scale_functions() {
  static std::vector<PyMethodDef> table = {
      // Packed sampling (nimbic_scale.sampling).
      function<&clifford_run_packed>(
          "clifford_run_packed", {"instructions", "num_qubits", "invert_mask", "repetitions", "seed"},
          "clifford_run_packed(instructions: Sequence[int], num_qubits: int, invert_mask: Sequence[int], "
          "repetitions: int, seed: int) -> PackedShots"),
      function<&clifford_run_batches>(
          "clifford_run_batches", {"instructions", "num_qubits", "invert_mask", "repetitions", "seed", "batch_size"},
          "clifford_run_batches(instructions: Sequence[int], num_qubits: int, invert_mask: Sequence[int], "
          "repetitions: int, seed: int, batch_size: int) -> PackedBatches"),

      // Distributed state vectors (nimbic_scale.mpi).

  };
  static PyMethodDef* sealed = [] {
    table.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
    return table.data();
  }();
  return sealed;
}

}  // namespace nimbic::scale
