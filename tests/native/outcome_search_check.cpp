// The outcome search that bounds measurement reads, against a brute-force scan.
#include "check.hpp"
#include "common/outcome_bits.hpp"

using namespace nimbic;
using namespace nimbic::checks;

NIMBIC_CHECK_FAMILY(outcome_search) {
  Random rng(7201);
  for (int64_t bits = 1; bits <= 10; ++bits)
    for (int trial = 0; trial < 20; ++trial) {
      const uint64_t all = (uint64_t(1) << bits) - 1;
      const uint64_t mask = rng.below(all + 1), pattern = rng.below(all + 1) & mask;
      for (uint64_t lo = 0; lo <= all + 1; ++lo) {
        uint64_t want = kNoIndex;
        for (uint64_t x = lo; x <= all; ++x)
          if ((x & mask) == pattern) {
            want = x;
            break;
          }
        ctx.expect(next_matching(lo, mask, pattern, bits) == want,
                   "bits=" + std::to_string(bits) + " mask=" + std::to_string(mask) + " lo=" + std::to_string(lo));
      }
    }
}
