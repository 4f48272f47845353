// State-vector measurement: the outcome sums at every thread count against
// one thread (with chunks small enough that the checked states have many),
// the one-outcome sum against the same outcome of the full list, and the
// in-place collapse against the collapse into a new array.
#include <algorithm>

#include "check.hpp"
#include "common/qubits.hpp"
#include "statevector/measurement.hpp"
#include "statevector/outcome_sums.hpp"

using namespace nimbic;
using namespace nimbic::statevector;
using namespace nimbic::checks;

NIMBIC_CHECK_FAMILY(statevector_measurement) {
  Random rng(7201);
  for (int64_t n = 1; n <= 12; ++n)
    for (int64_t k = 0; k <= std::min<int64_t>(n, 10); k += (k < 4 ? 1 : 3))
      for (int trial = 0; trial < 2; ++trial) {
        std::vector<int64_t> targets = rng.targets(n, k);
        if (trial == 1)  // the lowest qubits, in descending order
          for (int64_t i = 0; i < k; ++i) targets[size_t(i)] = n - 1 - i;
        const std::vector<uint64_t> offsets = group_offsets(targets, n);
        const std::vector<double> state = rng.floats(size_t(2) << n);
        const std::string what = "n=" + std::to_string(n) + " targets=" + describe_targets(targets);
        for (uint64_t chunk : {uint64_t(1), uint64_t(4), uint64_t(64), kChunkBases}) {
          std::vector<double> want(offsets.size(), 0.0);
          {
            SingleThread one;
            outcome_sums(state.data(), n, offsets, want.data(), chunk);
          }
          for_each_thread_count([&](unsigned threads) {
            std::vector<double> got(offsets.size(), 0.0);
            outcome_sums(state.data(), n, offsets, got.data(), chunk);
            const std::string where = what + " chunk=" + std::to_string(chunk) + " threads=" + std::to_string(threads);
            ctx.same_bits(want, got, "outcome sums " + where);
            const size_t j = size_t(rng.below(offsets.size()));
            const double one = outcome_sum(state.data(), n, offsets.back(), offsets[j], chunk);
            ctx.same_bits(std::span(&want[j], 1), std::span(&one, 1), "one outcome " + where);
          });
        }
        const std::vector<double> probs = state_probabilities(state, targets, n);
        const int64_t outcome = int64_t(rng.below(probs.size()));
        const std::vector<double> want = collapse_state(state, targets, outcome, n);
        for_each_thread_count([&](unsigned threads) {
          ctx.same_bits(want, collapse_state(state, targets, outcome, n),
                        "collapse " + what + " threads=" + std::to_string(threads));
          std::vector<double> got = state;
          collapse_in_place(got, targets, outcome, probs[size_t(outcome)], n);
          ctx.same_bits(want, got, "collapse in place " + what + " threads=" + std::to_string(threads));
        });
      }
}
