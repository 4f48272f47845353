// The WyRand generator of `clifford_run`: a 64-bit state that advances by a
// fixed odd constant per draw, and a 128-bit multiply that mixes it. Since
// the state after j draws is seed_state + j * kIncrement, draw j of a run
// can be computed directly, in any order and on any thread.
#pragma once

#include <cstdint>

namespace nimbic::stabilizer {

struct WyRand {
  static constexpr uint64_t kIncrement = 0x2d358dccaa6c78a5ull;
  static constexpr uint64_t kMix = 0x8bb84b93962eacc9ull;

  uint64_t state = 0;

  // Low 32 bits of the seed, then bits 16..47 of it as the high word: seeds
  // that differ only in bits 48..63 give the same generator.
  static uint64_t seed_state(int64_t seed) {
    const uint64_t word0 = uint32_t(uint64_t(seed));
    const uint64_t word1 = uint32_t(uint64_t(seed >> 16));
    return (word1 << 32) | word0;
  }

  // The draw of state s. Its uniform number, (draw >> 12) * 2^-52, is below
  // 0.5 exactly when the top bit of the draw is 0: that bit is a random
  // measurement's outcome.
  static uint64_t mix(uint64_t s) {
    const unsigned __int128 product = (unsigned __int128)s * (s ^ kMix);
    return uint64_t(product >> 64) ^ uint64_t(product);
  }

  void seed(int64_t s) { state = seed_state(s); }
  void skip(uint64_t count) { state += count * kIncrement; }
};

// The process-wide generator, seeded from the clock at load time.
WyRand& default_generator();

}  // namespace nimbic::stabilizer
