#include "statevector/native_state.hpp"

#include <algorithm>

#include "common/huge_pages.hpp"
#include "common/memory.hpp"
#include "common/panic.hpp"
#include "common/qubits.hpp"
#include "common/sample_outcome.hpp"
#include "common/split_work.hpp"
#include "statevector/gates.hpp"
#include "statevector/measurement.hpp"

namespace nimbic::statevector {

namespace {

// Copies `from` to the start of `to` and zeroes the rest, split over
// threads in 64-byte pieces.
void copy_and_clear(std::span<const double> from, std::span<double> to) {
  const size_t copied = std::min(from.size(), to.size());
  split_work(to.size(), 1, 8, [&](unsigned, uint64_t begin, uint64_t end) {
    const size_t mid = std::clamp<size_t>(copied, begin, end);
    std::copy(from.begin() + std::ptrdiff_t(begin), from.begin() + std::ptrdiff_t(mid),
              to.begin() + std::ptrdiff_t(begin));
    std::fill(to.begin() + std::ptrdiff_t(mid), to.begin() + std::ptrdiff_t(end), 0.0);
  });
}

}  // namespace

NativeState new_native_state(int64_t num_qubits) {
  NativeState record;
  if (num_qubits >= 0 && num_qubits <= 61) {
    record.state = allocate_buffer_field(int64_t(2) << num_qubits);
    prefer_huge_pages(record.state);
  }
  record.num_qubits = num_qubits;
  return record;
}

void NativeState::set_amplitudes(NativeState& self, std::span<const double> values) {
  copy_and_clear(values, self.state.f64());
}

void NativeState::apply_gate(NativeState& self, std::span<const double> gate, std::span<const int64_t> targets) {
  apply_gate_into(self.state.f64(), self.num_qubits, gate, targets);
}

void NativeState::reset(NativeState& self) {
  auto buf = self.state.f64();
  if (buf.empty()) return;
  copy_and_clear({}, buf);
  buf[0] = 1.0;
}

void NativeState::set_zero_state(NativeState& self) {
  auto buf = self.state.f64();
  if (!buf.empty()) buf[0] = 1.0;
}

std::vector<double> NativeState::amplitudes(NativeState& self) {
  auto buf = self.state.f64();
  check_result(Count(buf.size()));
  return std::vector<double>(buf.begin(), buf.end());
}

std::vector<double> NativeState::probabilities(NativeState& self, std::span<const int64_t> targets) {
  return state_probabilities(self.state.f64(), targets, self.num_qubits);
}

int64_t NativeState::measure(NativeState& self, std::span<const int64_t> targets, double u) {
  auto buf = self.state.f64();
  const int64_t n = self.num_qubits;
  const int64_t len = int64_t(buf.size());
  if (n >= 0 && n <= 62) {
    check_measured_state(buf, targets, n);
    // The collapsed state (2^(n+1) floats) is copied back over the whole
    // buffer: a longer buffer would run past it, so refuse before writing.
    if (len > state_floats(n)) panic_get(state_floats(n), state_floats(n));
  } else if (len > 0) {
    // Probabilities and collapse of an out-of-range count are empty; the
    // copy-back reads its first float.
    panic_get(0, 0);
  }
  const std::vector<double> probs = state_probabilities(buf, targets, n);
  const int64_t outcome = sample_outcome(probs, u);
  // Collapsing into a new array and copying it back over the (validated)
  // buffer writes the same values as collapsing in place.
  if (!buf.empty()) collapse_in_place(buf, targets, outcome, probs[size_t(outcome)], n);
  return outcome;
}

}  // namespace nimbic::statevector
