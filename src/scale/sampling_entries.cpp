#include "scale/sampling_entries.hpp"

#include <algorithm>
#include <string>

#include "binding/shim.hpp"
#include "scale/packed_shots.hpp"

namespace nimbic::scale {

namespace {

// A packed bit holds 0 or 1: any other mask entry is a ValueError, raised
// before anything is allocated. The routine then returns an empty result and
// the wrapper reports the pending exception.
bool mask_is_bits(const char* name, std::span<const int64_t> invert_mask) {
  const int64_t k = stabilizer::first_non_bit(invert_mask);
  if (k < 0) return true;
  binding::shim_set_error_utf8(PyExc_ValueError, std::string(name) + "(): invert_mask entries must be 0 or 1, got " +
                                                     std::to_string(invert_mask[size_t(k)]) + " at index " +
                                                     std::to_string(k));
  return false;
}

}  // namespace

PyObject* to_py(ShotsResult& result) {
  return new_packed_shots(std::move(result.bytes), result.rows, result.num_measurements);
}

PyObject* to_py(BatchesResult& result) { return new_packed_batches(std::move(result.run), result.batch_size); }

ShotsResult clifford_run_packed(std::span<const int64_t> instructions, int64_t num_qubits,
                                std::span<const int64_t> invert_mask, int64_t repetitions, int64_t seed) {
  ShotsResult out;
  if (!mask_is_bits("clifford_run_packed", invert_mask)) return out;
  const stabilizer::PackedRun run =
      stabilizer::compile_packed_run(instructions, num_qubits, invert_mask, repetitions, seed, repetitions);
  out.bytes = stabilizer::sample_packed_rows(run, 0, run.repetitions);
  out.rows = run.repetitions;
  out.num_measurements = run.num_measurements;
  return out;
}

BatchesResult clifford_run_batches(std::span<const int64_t> instructions, int64_t num_qubits,
                                   std::span<const int64_t> invert_mask, int64_t repetitions, int64_t seed,
                                   int64_t batch_size) {
  BatchesResult out;
  if (!mask_is_bits("clifford_run_batches", invert_mask)) return out;
  if (batch_size < 1) {
    binding::shim_set_error_utf8(
        PyExc_ValueError, "clifford_run_batches(): batch_size must be at least 1, got " + std::to_string(batch_size));
    return out;
  }
  out.run = std::make_unique<stabilizer::PackedRun>(
      stabilizer::compile_packed_run(instructions, num_qubits, invert_mask, repetitions, seed, batch_size));
  out.batch_size = batch_size;
  return out;
}

}  // namespace nimbic::scale
