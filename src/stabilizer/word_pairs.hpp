// Two 64-bit words as one 128-bit value (the vector extension GCC and Clang
// share; one SSE2 register on x86-64, two words elsewhere). The bit columns
// of PackedTableau hold an even number of words, so its loops step through
// them two words at a time with no remainder.
#pragma once

#include <cstdint>
#include <cstring>

namespace nimbic::stabilizer {

using Pair = uint64_t __attribute__((vector_size(16)));

inline Pair load_pair(const uint64_t* p) {
  Pair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void store_pair(uint64_t* p, Pair v) { std::memcpy(p, &v, sizeof v); }

// All ones where `bit` is set, else all zeros.
inline Pair broadcast_bit(uint64_t bit) { return Pair{0, 0} - Pair{bit, bit}; }

}  // namespace nimbic::stabilizer
