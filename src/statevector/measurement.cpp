#include "statevector/measurement.hpp"

#include <cmath>
#include <cstring>

#include "common/memory.hpp"
#include "common/outcome_bits.hpp"
#include "common/panic.hpp"
#include "common/qubits.hpp"
#include "common/split_work.hpp"
#include "statevector/outcome_sums.hpp"

namespace nimbic::statevector {

void check_measured_state(std::span<const double> state, std::span<const int64_t> targets, int64_t num_qubits) {
  check_targets(targets, num_qubits);
  require_length(int64_t(state.size()), state_floats(num_qubits));
}

std::vector<double> state_probabilities(std::span<const double> state, std::span<const int64_t> targets,
                                        int64_t num_qubits) {
  const size_t k = targets.size();
  if (num_qubits < 0 || num_qubits > 62) return zero_floats(k >= 64 ? 0 : Count(1) << k);
  check_measured_state(state, targets, num_qubits);
  std::vector<double> probs = zero_floats(Count(1) << k);
  // Amplitude b | offset(j) of a group has outcome index j.
  outcome_sums(state.data(), num_qubits, group_offsets(targets, num_qubits), probs.data());
  return probs;
}

void collapse_in_place(std::span<double> state, std::span<const int64_t> targets, int64_t outcome, double probability,
                       int64_t num_qubits) {
  const std::vector<uint64_t> offsets = group_offsets(targets, num_qubits);
  const uint64_t mask = offsets.back();
  const uint64_t pattern = offsets[size_t(outcome)];
  const double scale = probability > 0 ? 1.0 / std::sqrt(probability) : 0.0;
  const uint64_t dim = uint64_t(1) << num_qubits;
  // Indices agree on their outcome in runs of `low`: scale a run or clear it.
  const uint64_t low = mask == 0 ? dim : mask & (~mask + 1);
  double* amp = state.data();
  if (low < 8) {
    split_work(dim, 1, 8, [&](unsigned, uint64_t begin, uint64_t end) {
      for (uint64_t i = begin; i < end; ++i) {
        const bool keep = (i & mask) == pattern;
        amp[2 * i] = keep ? amp[2 * i] * scale : 0.0;
        amp[2 * i + 1] = keep ? amp[2 * i + 1] * scale : 0.0;
      }
    });
    return;
  }
  split_work(dim, 1, low, [&](unsigned, uint64_t begin, uint64_t end) {
    for (uint64_t start = begin; start < end; start += low) {
      double* run = amp + 2 * start;
      if ((start & mask) == pattern) {
        for (uint64_t f = 0; f < 2 * low; ++f) run[f] = run[f] * scale;
      } else {
        std::memset(run, 0, size_t(2 * low) * sizeof(double));
      }
    }
  });
}

std::vector<double> collapse_state(std::span<const double> state, std::span<const int64_t> targets, int64_t outcome,
                                   int64_t num_qubits) {
  if (num_qubits < 0 || num_qubits > 62) return {};
  check_targets(targets, num_qubits);
  const OutcomeBits ob = outcome_bits(targets, outcome, num_qubits);
  const bool valid = ob.valid;
  const uint64_t pattern = ob.pattern;
  const int64_t len = int64_t(state.size());
  if (valid && len < state_floats(num_qubits)) {
    // Only amplitudes of the requested outcome are read: the first one past
    // the end decides the error.
    const uint64_t first = next_matching(uint64_t(len / 2), ob.mask, pattern, num_qubits);
    if (first != kNoIndex) panic_get(int64_t(2 * first) >= len ? int64_t(2 * first) : int64_t(2 * first + 1), len);
  }
  std::vector<double> out = zero_floats(Count(2) << num_qubits);
  if (!valid) return out;
  const double sum = outcome_sum(state.data(), num_qubits, ob.mask, pattern);
  const double scale = sum > 0 ? 1.0 / std::sqrt(sum) : 0.0;
  const uint64_t free_bits = ((uint64_t(1) << num_qubits) - 1) & ~ob.mask;
  const uint64_t count = uint64_t(1) << (num_qubits - int64_t(__builtin_popcountll(ob.mask)));
  split_work(count, 1, 1, [&](unsigned, uint64_t begin, uint64_t end) {
    uint64_t b = deposit_bits(begin, free_bits);
    for (uint64_t c = begin; c < end; ++c, b = ((b | ob.mask) + 1) & free_bits) {
      const uint64_t i = b | pattern;
      out[2 * i] = state[2 * i] * scale;
      out[2 * i + 1] = state[2 * i + 1] * scale;
    }
  });
  return out;
}

}  // namespace nimbic::statevector
