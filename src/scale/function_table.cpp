// The declarative table of nimbic_scale._native: the native helpers of the
// nimbic_scale package, one entry per function (core routine, name,
// parameter names), wrapped by the same templates as nimbic_native's table.
#include "scale/function_table.hpp"

#include <vector>

#include "binding/wrapper.hpp"
#include "scale/buffer_param.hpp"
#include "scale/placed_gate.hpp"
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
      function<&gate_plan>("gate_plan", {"gate", "targets", "num_qubits"},
                           "gate_plan(gate, targets, num_qubits) -> [kind, role of each target]: the plan the\n"
                           "single-process engine runs (kind 0 identity, 1 diagonal, 2 permutation, 3 dense;\n"
                           "role 1 acted on, 0 control)."),
      function<&apply_placed_gate>("apply_placed_gate", {"local", "gate", "targets", "positions", "num_qubits", "rank"},
                                   "apply_placed_gate(local, gate, targets, positions, num_qubits, rank): the\n"
                                   "gate on one process's share, each target at its physical position."),
      function<&chunk_sums>("chunk_sums", {"local", "targets", "sums"},
                            "chunk_sums(local, targets, sums): the share's per-chunk outcome sums into\n"
                            "`sums`, chunk-major."),
      function<&continued_sums>("continued_sums", {"local", "targets", "sums"},
                                "continued_sums(local, targets, sums): continues the running outcome sums\n"
                                "`sums` over every base of the share."),
      function<&collapse_share>("collapse_share", {"local", "targets", "outcome", "probability"},
                                "collapse_share(local, targets, outcome, probability): projects the share onto\n"
                                "a local outcome of the given total probability."),

  };
  static PyMethodDef* sealed = [] {
    table.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
    return table.data();
  }();
  return sealed;
}

}  // namespace nimbic::scale
