// clifford_state_vector split over 1, 2, 3 and 8 threads against one thread,
// bit for bit: tableaux of random circuits (the direct construction of a
// stabilizer state) and tableaux with random stabilizer rows (the expansion
// used for rows that anticommute or depend on each other), n = 1..12.
#include <vector>

#include "check.hpp"
#include "stabilizer/packed_tableau.hpp"
#include "stabilizer/state_vector.hpp"
#include "stabilizer/tableau.hpp"

using namespace nimbic;
using namespace nimbic::stabilizer;
using namespace nimbic::checks;

namespace {

// The flattened tableau after a random circuit of gates.
std::vector<int64_t> circuit_tableau(Random& rng, int64_t n) {
  OwnedPackedTableau t(n);
  for (int64_t i = 0; i < 6 * n; ++i) {
    const int64_t code = int64_t(rng.below(n >= 2 ? 9 : 6)), a = int64_t(rng.below(uint64_t(n)));
    int64_t b = int64_t(rng.below(uint64_t(n)));
    while (is_two_qubit(code) && b == a) b = int64_t(rng.below(uint64_t(n)));
    t->apply(code, a, b);
  }
  std::vector<uint8_t> flat(size_t((2 * n + 1) * (2 * n + 1)), 0);
  t->write_flat(flat.data());
  return std::vector<int64_t>(flat.begin(), flat.end());
}

// Random entries 0/1 in the stabilizer rows, signs included.
std::vector<int64_t> random_tableau(Random& rng, int64_t n) {
  std::vector<int64_t> flat(size_t((2 * n + 1) * (2 * n + 1)), 0);
  for (int64_t i = n * (2 * n + 1); i < 2 * n * (2 * n + 1); ++i) flat[size_t(i)] = int64_t(rng.below(4) == 0);
  return flat;
}

}  // namespace

NIMBIC_CHECK_FAMILY(stabilizer_state_vector) {
  Random rng(7331);
  for (int64_t n = 1; n <= 12; ++n)
    for (int trial = 0; trial < 8; ++trial) {
      const std::vector<int64_t> flat = trial % 2 == 0 ? circuit_tableau(rng, n) : random_tableau(rng, n);
      std::vector<double> want;
      {
        SingleThread one;
        want = clifford_state_vector(flat, n);
      }
      for_each_thread_count([&](unsigned threads) {
        const std::vector<double> got = clifford_state_vector(flat, n);
        ctx.same_bits(
            want, got,
            "n=" + std::to_string(n) + " trial=" + std::to_string(trial) + " threads=" + std::to_string(threads));
      });
    }
}
