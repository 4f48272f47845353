// Scalar dense kernel: gather each group's amplitudes, then write every row.
#include <vector>

#include "common/split_work.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/split_groups.hpp"

namespace nimbic::statevector {

namespace {

void one_target(double* state, const Groups& groups, const double* g, uint64_t begin, uint64_t end) {
  const double g00r = g[0], g00i = g[1], g01r = g[2], g01i = g[3];
  const double g10r = g[4], g10i = g[5], g11r = g[6], g11i = g[7];
  const uint64_t s = groups.offsets[1];
  uint64_t b = groups.base(begin);
  for (uint64_t c = begin; c < end; ++c, b = groups.next(b)) {
    double* p0 = state + 2 * b;
    double* p1 = state + 2 * (b | s);
    const double a0r = p0[0], a0i = p0[1], a1r = p1[0], a1i = p1[1];
    p0[0] = (g00r * a0r - g00i * a0i) + (g01r * a1r - g01i * a1i);
    p0[1] = (g00r * a0i + g00i * a0r) + (g01r * a1i + g01i * a1r);
    p1[0] = (g10r * a0r - g10i * a0i) + (g11r * a1r - g11i * a1i);
    p1[1] = (g10r * a0i + g10i * a0r) + (g11r * a1i + g11i * a1r);
  }
}

void any_size(double* state, const Groups& groups, const double* matrix, double* ar, uint64_t begin, uint64_t end) {
  const std::span<const uint64_t> off = groups.offsets;
  const size_t size = off.size();
  double* ai = ar + size;
  uint64_t b = groups.base(begin);
  for (uint64_t c = begin; c < end; ++c, b = groups.next(b)) {
    for (size_t j = 0; j < size; ++j) {
      ar[j] = state[2 * (b | off[j])];
      ai[j] = state[2 * (b | off[j]) + 1];
    }
    for (size_t r = 0; r < size; ++r) {
      const double* row = matrix + 2 * r * size;
      double re = 0.0, im = 0.0;
      for (size_t j = 0; j < size; ++j) {
        re += row[2 * j] * ar[j] - row[2 * j + 1] * ai[j];
        im += row[2 * j] * ai[j] + row[2 * j + 1] * ar[j];
      }
      state[2 * (b | off[r])] = re;
      state[2 * (b | off[r]) + 1] = im;
    }
  }
}

}  // namespace

void dense_scalar(double* state, const Groups& groups, const double* matrix) {
  const size_t size = groups.offsets.size();
  if (size == 2) {
    split_groups(groups.count, 2, 1, 4,
                 [&](unsigned, uint64_t begin, uint64_t end) { one_target(state, groups, matrix, begin, end); });
    return;
  }
  // Gathered amplitudes of each part, allocated before the split.
  std::vector<double> scratch(2 * size * split_parts(groups.count, size, 1));
  split_groups(groups.count, size, 1, size * size, [&](unsigned part, uint64_t begin, uint64_t end) {
    any_size(state, groups, matrix, scratch.data() + 2 * size * part, begin, end);
  });
}

}  // namespace nimbic::statevector
