#include "common/qubits.hpp"
#include "statevector/gate_kernels.hpp"

namespace nimbic::statevector {

Groups::Groups(int64_t n, std::span<const uint64_t> offsets_, uint64_t control_mask, uint64_t control_pattern)
    : num_qubits(n), offsets(offsets_) {
  const uint64_t all = n >= 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1;
  mask = offsets.back() | control_mask;
  pattern = control_pattern;
  free_bits = all & ~mask;
  low = mask != 0 ? mask & (~mask + 1) : all + 1;
  count = uint64_t(1) << (n - int64_t(__builtin_popcountll(mask)));
}

uint64_t Groups::base(uint64_t counter) const { return deposit_bits(counter, free_bits) | pattern; }

}  // namespace nimbic::statevector
