// Picking an outcome from a list of probabilities with the caller's draw u,
// shared by the state-vector and density-matrix measurements.
#pragma once

#include <cstdint>
#include <span>

namespace nimbic {

// First index whose running sum of probabilities exceeds u, else the last
// index (-1 for an empty list).
int64_t sample_outcome(std::span<const double> probabilities, double u);

}  // namespace nimbic
