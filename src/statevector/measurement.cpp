#include "statevector/measurement.hpp"

#include <cmath>
#include <cstring>

#include "common/memory.hpp"
#include "common/outcome_bits.hpp"
#include "common/panic.hpp"
#include "common/qubits.hpp"
#include "statevector/run_prefetch.hpp"

namespace nimbic::statevector {

void check_measured_state(std::span<const double> state, std::span<const int64_t> targets, int64_t num_qubits) {
  check_targets(targets, num_qubits);
  require_length(int64_t(state.size()), state_floats(num_qubits));
}

namespace {

inline double probability(const double* state, uint64_t i) {
  const double re = state[2 * i], im = state[2 * i + 1];
  return re * re + im * im;
}

// Every outcome's sum runs over its basis indices in increasing order, as the
// documented single pass does; the passes below only interleave the
// independent sums of different outcomes (group by group), which keeps every
// bit and lets the sums proceed in parallel.
template <size_t K>
void accumulate_fixed(const double* state, int64_t num_qubits, std::span<const uint64_t> offsets, double* probs) {
  constexpr size_t size = size_t(1) << K;
  const uint64_t mask = offsets[size - 1];
  const uint64_t low = mask & (~mask + 1);
  uint64_t off[size];
  double acc[size];
  for (size_t j = 0; j < size; ++j) {
    off[j] = offsets[j];
    acc[j] = probs[j];
  }
  // Bases come in runs of `low` consecutive indices.
  RunPrefetch pf(state, num_qubits, offsets, mask, low);
  for_each_group_base(mask | (low - 1), num_qubits, [&](uint64_t start) {
    for (uint64_t b = start; b < start + low; ++b) {
      if ((b & 1) == 0) pf.at(b);
      for (size_t j = 0; j < size; ++j) acc[j] = probability(state, b | off[j]) + acc[j];
    }
  });
  for (size_t j = 0; j < size; ++j) probs[j] = acc[j];
}

void accumulate(const double* state, int64_t num_qubits, std::span<const uint64_t> offsets, double* probs) {
  switch (offsets.size()) {
    case 1: {
      const uint64_t dim = uint64_t(1) << num_qubits;
      double acc = probs[0];
      for (uint64_t i = 0; i < dim; ++i) acc = probability(state, i) + acc;
      probs[0] = acc;
      return;
    }
    case 2:
      return accumulate_fixed<1>(state, num_qubits, offsets, probs);
    case 4:
      return accumulate_fixed<2>(state, num_qubits, offsets, probs);
    case 8:
      return accumulate_fixed<3>(state, num_qubits, offsets, probs);
    default:
      break;
  }
  const size_t size = offsets.size();
  for_each_group_base(offsets[size - 1], num_qubits, [&](uint64_t b) {
    for (size_t j = 0; j < size; ++j) probs[j] = probability(state, b | offsets[j]) + probs[j];
  });
}

}  // namespace

std::vector<double> state_probabilities(std::span<const double> state, std::span<const int64_t> targets,
                                        int64_t num_qubits) {
  const size_t k = targets.size();
  if (num_qubits < 0 || num_qubits > 62) return zero_floats(k >= 64 ? 0 : Count(1) << k);
  check_measured_state(state, targets, num_qubits);
  std::vector<double> probs = zero_floats(Count(1) << k);
  // Amplitude b | offset(j) of a group has outcome index j.
  accumulate(state.data(), num_qubits, group_offsets(targets, num_qubits), probs.data());
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
    for (uint64_t i = 0; i < dim; ++i) {
      const bool keep = (i & mask) == pattern;
      amp[2 * i] = keep ? amp[2 * i] * scale : 0.0;
      amp[2 * i + 1] = keep ? amp[2 * i + 1] * scale : 0.0;
    }
    return;
  }
  for (uint64_t start = 0; start < dim; start += low) {
    double* run = amp + 2 * start;
    if ((start & mask) == pattern) {
      for (uint64_t f = 0; f < 2 * low; ++f) run[f] = run[f] * scale;
    } else {
      std::memset(run, 0, size_t(2 * low) * sizeof(double));
    }
  }
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
  double sum = 0.0;
  for_each_group_base(ob.mask, num_qubits, [&](uint64_t b) {
    const uint64_t i = b | pattern;
    const double re = state[2 * i], im = state[2 * i + 1];
    sum += re * re + im * im;
  });
  const double scale = sum > 0 ? 1.0 / std::sqrt(sum) : 0.0;
  for_each_group_base(ob.mask, num_qubits, [&](uint64_t b) {
    const uint64_t i = b | pattern;
    out[2 * i] = state[2 * i] * scale;
    out[2 * i + 1] = state[2 * i + 1] * scale;
  });
  return out;
}

}  // namespace nimbic::statevector
