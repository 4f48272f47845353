// The Pauli operator a stabilizer tableau's bit pair denotes, numbered as
// the Pauli strings of the linear-algebra expansion number them (0 = I,
// 1 = X, 2 = Y, 3 = Z). Shared by the stabilizer reconstruction and linalg.
#pragma once

#include <cstdint>

namespace nimbic {

// (1, 0) X, (0, 1) Z, (1, 1) Y, every other pair I.
inline int pauli_type(int64_t x, int64_t z) {
  if (x == 1 && z == 0) return 1;
  if (x == 0 && z == 1) return 3;
  if (x == 1 && z == 1) return 2;
  return 0;
}

}  // namespace nimbic
