#include "common/sample_outcome.hpp"

namespace nimbic {

int64_t sample_outcome(std::span<const double> probabilities, double u) {
  double running = 0.0;
  for (size_t i = 0; i < probabilities.size(); ++i) {
    running = running + probabilities[i];
    if (running > u) return int64_t(i);
  }
  return int64_t(probabilities.size()) - 1;
}

}  // namespace nimbic
