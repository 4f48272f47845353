// The core routines of the packed sampling entries of nimbic_scale._native:
// argument checks beyond the binding (the mask's bits, the batch size), then
// the packed run kernels. Their results become PackedShots and PackedBatches
// objects through the to_py overloads here (found by the wrapper template's
// argument-dependent lookup).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "binding/python.hpp"
#include "stabilizer/packed_run.hpp"

namespace nimbic::scale {

struct ShotsResult {
  std::vector<uint8_t> bytes;
  int64_t rows = 0;
  int64_t num_measurements = 0;
};

struct BatchesResult {
  std::unique_ptr<stabilizer::PackedRun> run;
  int64_t batch_size = 0;
};

PyObject* to_py(ShotsResult& result);
PyObject* to_py(BatchesResult& result);

ShotsResult clifford_run_packed(std::span<const int64_t> instructions, int64_t num_qubits,
                                std::span<const int64_t> invert_mask, int64_t repetitions, int64_t seed);

BatchesResult clifford_run_batches(std::span<const int64_t> instructions, int64_t num_qubits,
                                   std::span<const int64_t> invert_mask, int64_t repetitions, int64_t seed,
                                   int64_t batch_size);

}  // namespace nimbic::scale
