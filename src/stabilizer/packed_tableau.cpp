#include "stabilizer/packed_tableau.hpp"

#include <algorithm>
#include <cstring>

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

PackedTableau::PackedTableau(int64_t num_qubits, uint64_t* columns, uint64_t* signs)
    : n_(num_qubits), half_(half_words_for(num_qubits)), columns_(columns), signs_(signs) {}

OwnedPackedTableau::OwnedPackedTableau(int64_t num_qubits)
    : columns_(size_t(PackedTableau::column_words_for(num_qubits))),
      signs_(size_t(2 * PackedTableau::half_words_for(num_qubits))),
      view_(num_qubits, columns_.data(), signs_.data()) {
  view_.set_zero_state();
}

void PackedTableau::set_zero_state() {
  std::fill_n(columns_, column_words_for(n_), 0);
  std::fill_n(signs_, words(), 0);
  for (int64_t q = 0; q < n_; ++q) {
    x(q)[q / 64] |= uint64_t(1) << (q % 64);
    z(q)[half_ + q / 64] |= uint64_t(1) << (q % 64);
  }
}

// Each gate runs over the words of its columns; rows are independent, so a
// composite gate applies its steps word by word.

void PackedTableau::hadamard(int64_t a) {
  uint64_t *__restrict xa = x(a), *__restrict za = z(a), *__restrict rr = r();
  for (int64_t w = 0; w < words(); ++w) {
    rr[w] ^= xa[w] & za[w];
    std::swap(xa[w], za[w]);
  }
}

void PackedTableau::phase(int64_t a) {
  uint64_t *__restrict xa = x(a), *__restrict za = z(a), *__restrict rr = r();
  for (int64_t w = 0; w < words(); ++w) {
    rr[w] ^= xa[w] & za[w];
    za[w] ^= xa[w];
  }
}

// Three phase steps: the sign flips where x = 1 and z = 0, then z ^= x.
void PackedTableau::phase_dagger(int64_t a) {
  uint64_t *__restrict xa = x(a), *__restrict za = z(a), *__restrict rr = r();
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
  uint64_t *__restrict xa = x(a), *__restrict za = z(a), *__restrict xb = x(b), *__restrict zb = z(b),
                       *__restrict rr = r();
  for (int64_t w = 0; w < words(); ++w) {
    rr[w] ^= xa[w] & zb[w] & ~(xb[w] ^ za[w]);
    xb[w] ^= xa[w];
    za[w] ^= zb[w];
  }
}

void PackedTableau::cz(int64_t a, int64_t b) {
  uint64_t *__restrict xa = x(a), *__restrict za = z(a), *__restrict xb = x(b), *__restrict zb = z(b),
                       *__restrict rr = r();
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
  uint64_t *__restrict xa = x(a), *__restrict za = z(a), *__restrict xb = x(b), *__restrict zb = z(b),
                       *__restrict rr = r();
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

int64_t PackedTableau::stabilizer_with_x(int64_t a) const {
  const uint64_t* stabs = x(a) + half_;
  for (int64_t w = 0; w < half_; ++w)
    if (stabs[w] != 0) return w * 64 + __builtin_ctzll(stabs[w]);
  return -1;
}

void PackedTableau::measure_random(int64_t a, int64_t pivot, uint64_t outcome, uint64_t* scratch) {
  const int64_t all = words(), pos = position(n_ + pivot), pw = pos / 64;
  const uint64_t pb = uint64_t(1) << (pos % 64);
  // Rows that absorb the pivot, and their phase exponents modulo 4,
  // bit-sliced: lo + 2*hi. Every such row reads only itself and the pivot
  // row, which does not change, so all are updated at once.
  uint64_t* absorb = scratch;
  uint64_t* lo = scratch + all;
  uint64_t* hi = scratch + 2 * all;
  std::copy_n(x(a), all, absorb);
  std::fill_n(lo, 2 * all, 0);
  absorb[pw] &= ~pb;
  for (int64_t j = 0; j < n_; ++j) {
    uint64_t *__restrict xj = x(j), *__restrict zj = z(j);
    const uint64_t xp = (xj[pw] & pb) != 0 ? ~uint64_t(0) : 0, zp = (zj[pw] & pb) != 0 ? ~uint64_t(0) : 0;
    if ((xp | zp) == 0) continue;
    const uint64_t* k = absorb;
    uint64_t *__restrict l = lo, *__restrict h = hi;
    for (int64_t w = 0; w < all; ++w) {
      // The pivot's Pauli on qubit j times the row's: nonzero exponent where
      // they anticommute, -1 where `neg` is set.
      const uint64_t xk = xj[w], zk = zj[w];
      const uint64_t anti = ((xp & zk) ^ (zp & xk)) & k[w];
      const uint64_t neg = xp ^ zp ^ xk ^ zk ^ (xp & zk);
      h[w] ^= (l[w] ^ neg) & anti;
      l[w] ^= anti;
      xj[w] = xk ^ (xp & k[w]);
      zj[w] = zk ^ (zp & k[w]);
    }
  }
  uint64_t* rr = r();
  const uint64_t rp = (rr[pw] & pb) != 0 ? ~uint64_t(0) : 0;
  for (int64_t w = 0; w < all; ++w) {
    const uint64_t k = absorb[w];
    rr[w] = (rr[w] & ~k) | (k & (lo[w] | (hi[w] ^ rr[w] ^ rp)));
  }
  // The pivot row replaces its destabilizer and becomes +-Z_a.
  const int64_t dw = pivot / 64;
  const uint64_t db = uint64_t(1) << (pivot % 64);
  auto move_bit = [&](uint64_t* col) {
    col[dw] = (col[dw] & ~db) | ((col[pw] & pb) != 0 ? db : 0);
    col[pw] &= ~pb;
  };
  for (int64_t j = 0; j < n_; ++j) {
    move_bit(x(j));
    move_bit(z(j));
  }
  move_bit(rr);
  z(a)[pw] |= pb;
  if (outcome != 0) rr[pw] |= pb;
}

// Calls sink(row, q0, bits, count) for every row 0..2n-1 and every run of up
// to 64 qubits starting at q0: bit c of `bits` is the x (or z) bit of qubit
// q0+c. 64 x 64 blocks are transposed at a time.
template <class Sink>
void PackedTableau::for_each_row_chunk(int64_t first_column, Sink&& sink) const {
  uint64_t block[64];
  for (int64_t half = 0; half < 2; ++half) {
    for (int64_t w = 0; w < half_; ++w) {
      const int64_t first_row = w * 64, rows = std::min<int64_t>(64, n_ - first_row);
      for (int64_t q0 = 0; q0 < n_; q0 += 64) {
        const int64_t cols = std::min<int64_t>(64, n_ - q0);
        for (int64_t k = 0; k < 64; ++k)
          block[k] = k < cols ? columns_[(first_column + q0 + k) * words() + half * half_ + w] : 0;
        transpose64(block);
        for (int64_t b = 0; b < rows; ++b) sink(half * n_ + first_row + b, q0, block[b], cols);
      }
    }
  }
}

void PackedTableau::write_flat(uint8_t* out) const {
  const int64_t width = 2 * n_ + 1;
  for (int64_t part = 0; part < 2; ++part)
    for_each_row_chunk(part * n_, [&](int64_t row, int64_t q0, uint64_t bits, int64_t count) {
      spread_bits(bits, count, out + row * width + part * n_ + q0);
    });
  for (int64_t row = 0; row < 2 * n_; ++row) {
    const int64_t pos = position(row);
    out[row * width + 2 * n_] = uint8_t((signs_[pos / 64] >> (pos % 64)) & 1);
  }
}

void PackedTableau::write_plain(int64_t* x, int64_t* z, int64_t* r) const {
  for (int64_t part = 0; part < 2; ++part) {
    int64_t* dst = part == 0 ? x : z;
    for_each_row_chunk(part * n_, [&](int64_t row, int64_t q0, uint64_t bits, int64_t count) {
      int64_t* out = dst + row * n_ + q0;
      for (int64_t c = 0; c < count; ++c) out[c] = int64_t((bits >> c) & 1);
    });
  }
  for (int64_t row = 0; row < 2 * n_; ++row) {
    const int64_t pos = position(row);
    r[row] = int64_t((signs_[pos / 64] >> (pos % 64)) & 1);
  }
}

}  // namespace nimbic::stabilizer
