// Small bit-level helpers of the packed tableau: a 64 x 64 bit transpose,
// the spreading of 8 bits into 8 bytes of 0/1, and parity.
#pragma once

#include <array>
#include <cstdint>

namespace nimbic::stabilizer {

// Afterwards bit c of m[r] holds what bit r of m[c] held.
inline void transpose64(uint64_t* m) {
  uint64_t mask = 0x00000000FFFFFFFFull;
  for (int s = 32; s != 0; s >>= 1, mask ^= mask << s) {
    for (int k = 0; k < 64; k = (k + s + 1) & ~s) {
      const uint64_t t = ((m[k] >> s) ^ m[k + s]) & mask;
      m[k] ^= t << s;
      m[k + s] ^= t;
    }
  }
}

// Byte c of spread_bits(v) is bit c of v (little-endian byte order).
struct ByteSpread {
  std::array<uint64_t, 256> table{};
  constexpr ByteSpread() {
    for (int v = 0; v < 256; ++v)
      for (int c = 0; c < 8; ++c)
        if ((v >> c) & 1) table[size_t(v)] |= uint64_t(1) << (8 * c);
  }
};
inline constexpr ByteSpread kByteSpread{};

inline uint64_t parity(uint64_t v) { return uint64_t(__builtin_popcountll(v) & 1); }

}  // namespace nimbic::stabilizer
