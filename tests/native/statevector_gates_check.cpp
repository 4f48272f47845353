// State-vector gate kernels: the AVX2 kernels, at every thread count, against
// the scalar kernels on one thread, for n = 1..12 and every target shape.
#include <algorithm>

#include "check.hpp"
#include "common/qubits.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/gates.hpp"

using namespace nimbic;
using namespace nimbic::statevector;
using namespace nimbic::checks;

namespace {

// A random gate, or a random signed permutation (with perm/sign filled).
std::vector<double> random_gate(Random& rng, size_t size, bool permutation, std::vector<int64_t>& perm,
                                std::vector<double>& sign) {
  if (!permutation) return rng.floats(2 * size * size);
  perm.resize(size);
  sign.resize(size);
  for (size_t r = 0; r < size; ++r) perm[r] = int64_t(r);
  std::shuffle(perm.begin(), perm.end(), rng.engine());
  std::vector<double> gate(2 * size * size, 0.0);
  for (size_t r = 0; r < size; ++r) {
    sign[r] = rng.below(2) ? -1.0 : 1.0;
    gate[2 * (r * size + size_t(perm[r]))] = sign[r];
  }
  return gate;
}

std::string describe(const char* kernel, int64_t n, std::span<const int64_t> targets, unsigned threads) {
  return std::string(kernel) + " n=" + std::to_string(n) + " targets=" + describe_targets(targets) +
         " threads=" + std::to_string(threads);
}

}  // namespace

NIMBIC_CHECK_FAMILY(statevector_1q) {
  Random rng(7101);
  for (int64_t n = 1; n <= 12; ++n)
    for (int64_t t = 0; t < n; ++t) {
      const std::vector<double> state = rng.floats(size_t(2) << n), gate = rng.floats(8);
      std::vector<double> want = state;
      apply_gate_1q_scalar(want.data(), n, t, gate.data());
      for_each_thread_count([&](unsigned threads) {
        std::vector<double> got = state;
        if (apply_gate_1q_avx2(got.data(), n, t, gate.data()))
          ctx.same_bits(want, got, describe("1q", n, std::vector<int64_t>{t}, threads));
      });
    }
}

NIMBIC_CHECK_FAMILY(statevector_2q_adjacent) {
  Random rng(7102);
  for (int64_t n = 2; n <= 12; ++n)
    for (int64_t t = 1; t < n; ++t)
      for (bool permutation : {false, true}) {
        std::vector<int64_t> perm;
        std::vector<double> sign;
        const std::vector<double> state = rng.floats(size_t(2) << n);
        const std::vector<double> gate = random_gate(rng, 4, permutation, perm, sign);
        const int64_t* p = permutation ? perm.data() : nullptr;
        const double* s = permutation ? sign.data() : nullptr;
        std::vector<double> want = state;
        apply_gate_2q_adjacent_scalar(want.data(), n, t, gate.data(), p, s);
        for_each_thread_count([&](unsigned threads) {
          std::vector<double> got = state;
          if (apply_gate_2q_adjacent_avx2(got.data(), n, t, gate.data(), p, s))
            ctx.same_bits(want, got,
                          describe(permutation ? "2q adjacent permutation" : "2q adjacent", n,
                                   std::vector<int64_t>{t - 1, t}, threads));
        });
      }
}

NIMBIC_CHECK_FAMILY(statevector_general) {
  Random rng(7103);
  for (int64_t n = 2; n <= 12; ++n)
    for (int64_t k = 2; k <= std::min<int64_t>(n, 5); ++k)
      for (int trial = 0; trial < 4; ++trial)
        for (bool permutation : {false, true}) {
          // Random target lists, plus the lowest qubits, where groups pair up differently.
          std::vector<int64_t> targets = rng.targets(n, k);
          if (trial == 0)
            for (int64_t i = 0; i < k; ++i) targets[size_t(i)] = n - 1 - i;
          const std::vector<uint64_t> offsets = group_offsets(targets, n);
          std::vector<int64_t> perm;
          std::vector<double> sign;
          const std::vector<double> state = rng.floats(size_t(2) << n);
          const std::vector<double> gate = random_gate(rng, offsets.size(), permutation, perm, sign);
          const int64_t* p = permutation ? perm.data() : nullptr;
          const double* s = permutation ? sign.data() : nullptr;
          std::vector<double> want = state;
          apply_gate_general_scalar(want.data(), n, gate.data(), offsets, p, s);
          for_each_thread_count([&](unsigned threads) {
            std::vector<double> got = state;
            if (apply_gate_general_avx2(got.data(), n, gate.data(), offsets, p, s))
              ctx.same_bits(want, got, describe(permutation ? "general permutation" : "general", n, targets, threads));
          });
        }
}
