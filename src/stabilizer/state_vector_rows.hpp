// The stabilizer rows of a flattened tableau as bit masks, shared by the two
// reconstruction paths. Qubit j sits on bit n-1-j, as in a basis index.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "stabilizer/bit_matrix.hpp"

namespace nimbic::stabilizer {

// The Pauli string i^phase * X^x * Z^z (phase mod 4). A row with sign s and
// bits (x, z) is s * (tensor of I, X, Y, Z) = i^(2[s<0] + |x&z|) X^x Z^z,
// since Y = i X Z.
struct PauliString {
  uint64_t x = 0;
  uint64_t z = 0;
  unsigned phase = 0;
};

// a * b in the same form: Z^za X^xb = (-1)^|za & xb| X^xb Z^za.
inline PauliString multiply(const PauliString& a, const PauliString& b) {
  return {a.x ^ b.x, a.z ^ b.z, (a.phase + b.phase + 2 * unsigned(parity(a.z & b.x))) & 3};
}

// One Gauss-Jordan step on the x or z parts (`part`) at `bit`: the first
// string from `next` on with that bit set is moved to `next` and multiplies
// every other string from `from` on that has the bit, and `next` advances.
// False when no string from `next` on has the bit.
inline bool eliminate(std::vector<PauliString>& v, size_t& next, uint64_t PauliString::* part, size_t from, int bit) {
  const uint64_t m = uint64_t(1) << bit;
  size_t p = next;
  while (p < v.size() && !(v[p].*part & m)) ++p;
  if (p == v.size()) return false;
  std::swap(v[p], v[next]);
  for (size_t q = from; q < v.size(); ++q)
    if (q != next && (v[q].*part & m)) v[q] = multiply(v[q], v[next]);
  ++next;
  return true;
}

// The column of the reference product for tableaux whose stabilizer rows do
// not commute or are not independent: exact for every row list.
std::vector<double> state_vector_by_expansion(const std::vector<PauliString>& rows, int num_qubits);

}  // namespace nimbic::stabilizer
