// Inputs shared by the density checks: every target shape of n qubits (each
// set of k targets, in increasing and in a shuffled order) and labels for
// the cases.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "check.hpp"

namespace nimbic::checks {

// Calls one(targets) for every subset of [0, n) with k in [k_min, k_max]
// members: in increasing order, and shuffled when that differs.
template <class Case>
void for_each_target_shape(Random& rng, int64_t n, int64_t k_min, int64_t k_max, Case&& one) {
  for (uint64_t set = 0; set < (uint64_t(1) << n); ++set) {
    const int64_t k = int64_t(__builtin_popcountll(set));
    if (k < k_min || k > k_max) continue;
    std::vector<int64_t> targets;
    for (int64_t q = 0; q < n; ++q)
      if (set >> (n - 1 - q) & 1) targets.push_back(q);
    one(targets);
    if (k < 2) continue;
    const std::vector<int64_t> sorted = targets;
    while (targets == sorted) std::shuffle(targets.begin(), targets.end(), rng.engine());
    one(targets);
  }
}

inline std::string label(const std::string& kernel, int64_t n, const std::vector<int64_t>& targets, unsigned threads) {
  return kernel + " n=" + std::to_string(n) + " targets=" + describe_targets(targets) +
         " threads=" + std::to_string(threads);
}

}  // namespace nimbic::checks
