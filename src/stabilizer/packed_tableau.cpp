#include "stabilizer/packed_tableau.hpp"

#include <algorithm>
#include <cstring>

#include "common/interrupt.hpp"
#include "common/memory.hpp"
#include "common/panic.hpp"
#include "stabilizer/bit_matrix.hpp"
#include "stabilizer/tableau.hpp"

namespace nimbic::stabilizer {

void check_tableau_size(int64_t num_qubits) {
  const Count n = num_qubits;
  // Beyond 2^60 qubits either way the count alone is past any memory (and
  // the byte count below stays within 128 bits).
  if (n > (Count(1) << 60) || n < -(Count(1) << 60)) panic_out_of_memory();
  // x and z hold n*(2n+1) eight-byte entries each, r 2n+1.
  check_allocatable(16 * n * (2 * n + 1) + 8 * (2 * n + 1));
}

PackedTableau::PackedTableau(int64_t num_qubits) : n_(num_qubits), half_((num_qubits + 63) / 64) {
  check_tableau_size(n_);
  x_.assign(size_t(n_ * words()), 0);
  z_.assign(size_t(n_ * words()), 0);
  r_.assign(size_t(words()), 0);
  for (int64_t q = 0; q < n_; ++q) {
    x(q)[q / 64] |= uint64_t(1) << (q % 64);
    z(q)[half_ + q / 64] |= uint64_t(1) << (q % 64);
  }
}

// Each gate runs over the words of its columns; rows are independent, so a
// composite gate applies its steps word by word.

void PackedTableau::hadamard(int64_t a) {
  uint64_t* __restrict xa = x(a), * __restrict za = z(a), * __restrict rr = r();
  for (int64_t w = 0; w < words(); ++w) {
    rr[w] ^= xa[w] & za[w];
    std::swap(xa[w], za[w]);
  }
}

void PackedTableau::phase(int64_t a) {
  uint64_t* __restrict xa = x(a), * __restrict za = z(a), * __restrict rr = r();
  for (int64_t w = 0; w < words(); ++w) {
    rr[w] ^= xa[w] & za[w];
    za[w] ^= xa[w];
  }
}

// Three phase steps: the sign flips where x = 1 and z = 0, then z ^= x.
void PackedTableau::phase_dagger(int64_t a) {
  uint64_t* __restrict xa = x(a), * __restrict za = z(a), * __restrict rr = r();
  for (int64_t w = 0; w < words(); ++w) {
    rr[w] ^= xa[w] & ~za[w];
    za[w] ^= xa[w];
  }
}

void PackedTableau::flip_signs(const uint64_t* bits) {
  uint64_t* rr = r();
  for (int64_t w = 0; w < words(); ++w) rr[w] ^= bits[w];
}

void PackedTableau::flip_signs_y(int64_t a) {
  const uint64_t *xa = x(a), *za = z(a);
  uint64_t* rr = r();
  for (int64_t w = 0; w < words(); ++w) rr[w] ^= xa[w] ^ za[w];
}

void PackedTableau::cnot(int64_t a, int64_t b) {
  uint64_t* __restrict xa = x(a), * __restrict za = z(a), * __restrict xb = x(b), * __restrict zb = z(b), * __restrict rr = r();
  for (int64_t w = 0; w < words(); ++w) {
    rr[w] ^= xa[w] & zb[w] & ~(xb[w] ^ za[w]);
    xb[w] ^= xa[w];
    za[w] ^= zb[w];
  }
}

void PackedTableau::cz(int64_t a, int64_t b) {
  uint64_t* __restrict xa = x(a), * __restrict za = z(a), * __restrict xb = x(b), * __restrict zb = z(b), * __restrict rr = r();
  for (int64_t w = 0; w < words(); ++w) {
    uint64_t s = rr[w], x1 = xa[w], z1 = za[w], x2 = xb[w], z2 = zb[w];
    s ^= x2 & z2;  // Hadamard on b
    std::swap(x2, z2);
    s ^= x1 & z2 & ~(x2 ^ z1);  // CNOT a -> b
    x2 ^= x1;
    z1 ^= z2;
    s ^= x2 & z2;  // Hadamard on b
    std::swap(x2, z2);
    rr[w] = s;
    za[w] = z1;
    xb[w] = x2;
    zb[w] = z2;
  }
}

void PackedTableau::swap(int64_t a, int64_t b) {
  uint64_t* __restrict xa = x(a), * __restrict za = z(a), * __restrict xb = x(b), * __restrict zb = z(b), * __restrict rr = r();
  for (int64_t w = 0; w < words(); ++w) {
    uint64_t s = rr[w], x1 = xa[w], z1 = za[w], x2 = xb[w], z2 = zb[w];
    s ^= x1 & z2 & ~(x2 ^ z1);  // CNOT a -> b
    x2 ^= x1;
    z1 ^= z2;
    s ^= x2 & z1 & ~(x1 ^ z2);  // CNOT b -> a
    x1 ^= x2;
    z2 ^= z1;
    s ^= x1 & z2 & ~(x2 ^ z1);  // CNOT a -> b
    x2 ^= x1;
    z1 ^= z2;
    rr[w] = s;
    xa[w] = x1;
    za[w] = z1;
    xb[w] = x2;
    zb[w] = z2;
  }
}

void PackedTableau::apply(int64_t code, int64_t a, int64_t b) {
  switch (code) {
    case instr_h:
      hadamard(a);
      break;
    case instr_s:
      phase(a);
      break;
    case instr_sdg:
      phase_dagger(a);
      break;
    case instr_x:
      flip_signs(z(a));
      break;
    case instr_y:
      flip_signs_y(a);
      break;
    case instr_z:
      flip_signs(x(a));
      break;
    case instr_cnot:
      cnot(a, b);
      break;
    case instr_cz:
      cz(a, b);
      break;
    case instr_swap:
      swap(a, b);
      break;
    default:
      break;
  }
}

// Bit columns (one per qubit, `words()` words each) into the byte rows of
// the flattened tableau, 64 rows by 64 qubits at a time.
void PackedTableau::write_half_bits(const std::vector<uint64_t>& bits, int64_t column_offset, uint8_t* out) const {
  const int64_t width = 2 * n_ + 1;
  uint64_t block[64];
  for (int64_t half = 0; half < 2; ++half) {
    for (int64_t w = 0; w < half_; ++w) {
      interruption_point();
      const int64_t first_row = w * 64, rows = std::min<int64_t>(64, n_ - first_row);
      for (int64_t q0 = 0; q0 < n_; q0 += 64) {
        const int64_t cols = std::min<int64_t>(64, n_ - q0);
        for (int64_t k = 0; k < 64; ++k) block[k] = k < cols ? bits[size_t((q0 + k) * words() + half * half_ + w)] : 0;
        transpose64(block);
        for (int64_t b = 0; b < rows; ++b) {
          spread_bits(block[b], cols, out + (half * n_ + first_row + b) * width + column_offset + q0);
        }
      }
    }
  }
}

void PackedTableau::write_flat(uint8_t* out) const {
  const int64_t width = 2 * n_ + 1;
  write_half_bits(x_, 0, out);
  write_half_bits(z_, n_, out);
  for (int64_t row = 0; row < 2 * n_; ++row) {
    const int64_t pos = position(row);
    out[row * width + 2 * n_] = uint8_t((r_[size_t(pos / 64)] >> (pos % 64)) & 1);
  }
}

}  // namespace nimbic::stabilizer
