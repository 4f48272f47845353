// The Python side of packed sampling: PackedShots, a read-only-shaped block of
// bit-packed rows that exports a zero-copy 2-D buffer of unsigned bytes
// (repetitions, ceil(M/8)), and PackedBatches, the iterator that samples a
// compiled run batch by batch. Both own native memory freed with the object.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "binding/python.hpp"
#include "stabilizer/packed_run.hpp"

namespace nimbic::scale {

// Creates both types and adds them to `module`; 0, or -1 with an exception.
int add_sampling_types(PyObject* module);

// A new PackedShots owning `bytes` (rows * ceil(M/8) of them); null with an
// exception when the object cannot be made.
PyObject* new_packed_shots(std::vector<uint8_t>&& bytes, int64_t rows, int64_t num_measurements);

// A new PackedBatches iterator over `run`, at most `batch_size` rows each.
PyObject* new_packed_batches(std::unique_ptr<stabilizer::PackedRun> run, int64_t batch_size);

}  // namespace nimbic::scale
