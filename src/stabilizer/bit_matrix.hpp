// Small bit-level helpers of the packed tableau: a 64 x 64 bit transpose,
// the spreading of 8 bits into 8 bytes of 0/1, population count and parity.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

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

// Writes bits 0..count-1 of `bits` as `count` bytes of 0/1 (count <= 64),
// each XORed with the matching byte of `offsets` when one is given.
inline void spread_bits(uint64_t bits, int64_t count, uint8_t* dst, const uint8_t* offsets = nullptr) {
  int64_t c = 0;
  for (; c + 8 <= count; c += 8) {
    uint64_t bytes = kByteSpread.table[(bits >> c) & 255];
    if (offsets != nullptr) {
      uint64_t o;
      std::memcpy(&o, offsets + c, 8);
      bytes ^= o;
    }
    std::memcpy(dst + c, &bytes, 8);
  }
  for (; c < count; ++c) dst[c] = uint8_t(((bits >> c) & 1) ^ (offsets != nullptr ? offsets[c] : 0));
}

// Set bits, without relying on a population-count instruction (the
// baseline x86-64 has none, and the builtin then calls a library routine).
inline int popcount(uint64_t v) {
  v -= (v >> 1) & 0x5555555555555555ull;
  v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return int((v * 0x0101010101010101ull) >> 56);
}

inline int parity(uint64_t v) { return __builtin_parityll(v); }

}  // namespace nimbic::stabilizer
