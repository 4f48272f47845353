#include "stabilizer/packed_tableau.hpp"

#include <algorithm>
#include <cstring>

#include "common/interrupt.hpp"
#include "common/memory.hpp"
#include "common/panic.hpp"
#include "stabilizer/bit_matrix.hpp"
#include "stabilizer/tableau.hpp"
#include "stabilizer/word_pairs.hpp"

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

// Each gate runs over the words of its columns, two at a time (a column has
// an even number of words); rows are independent, so a composite gate
// applies its steps word by word.

void PackedTableau::hadamard(int64_t a) {
  uint64_t *xa = x(a), *za = z(a), *rr = r();
  for (int64_t w = 0, count = words(); w < count; w += 2) {
    const Pair x1 = load_pair(xa + w), z1 = load_pair(za + w);
    store_pair(rr + w, load_pair(rr + w) ^ (x1 & z1));
    store_pair(xa + w, z1);
    store_pair(za + w, x1);
  }
}

void PackedTableau::phase(int64_t a) {
  uint64_t *xa = x(a), *za = z(a), *rr = r();
  for (int64_t w = 0, count = words(); w < count; w += 2) {
    const Pair x1 = load_pair(xa + w), z1 = load_pair(za + w);
    store_pair(rr + w, load_pair(rr + w) ^ (x1 & z1));
    store_pair(za + w, z1 ^ x1);
  }
}

// Three phase steps: the sign flips where x = 1 and z = 0, then z ^= x.
void PackedTableau::phase_dagger(int64_t a) {
  uint64_t *xa = x(a), *za = z(a), *rr = r();
  for (int64_t w = 0, count = words(); w < count; w += 2) {
    const Pair x1 = load_pair(xa + w), z1 = load_pair(za + w);
    store_pair(rr + w, load_pair(rr + w) ^ (x1 & ~z1));
    store_pair(za + w, z1 ^ x1);
  }
}

void PackedTableau::flip_signs(const uint64_t* bits) {
  uint64_t* rr = r();
  for (int64_t w = 0, count = words(); w < count; w += 2) store_pair(rr + w, load_pair(rr + w) ^ load_pair(bits + w));
}

void PackedTableau::flip_signs_y(int64_t a) {
  const uint64_t *xa = x(a), *za = z(a);
  uint64_t* rr = r();
  for (int64_t w = 0, count = words(); w < count; w += 2)
    store_pair(rr + w, load_pair(rr + w) ^ load_pair(xa + w) ^ load_pair(za + w));
}

void PackedTableau::cnot(int64_t a, int64_t b) {
  uint64_t *xa = x(a), *za = z(a), *xb = x(b), *zb = z(b), *rr = r();
  for (int64_t w = 0, count = words(); w < count; w += 2) {
    const Pair x1 = load_pair(xa + w), z1 = load_pair(za + w), x2 = load_pair(xb + w), z2 = load_pair(zb + w);
    store_pair(rr + w, load_pair(rr + w) ^ (x1 & z2 & ~(x2 ^ z1)));
    store_pair(xb + w, x2 ^ x1);
    store_pair(za + w, z1 ^ z2);
  }
}

void PackedTableau::cz(int64_t a, int64_t b) {
  uint64_t *xa = x(a), *za = z(a), *xb = x(b), *zb = z(b), *rr = r();
  for (int64_t w = 0, count = words(); w < count; w += 2) {
    Pair s = load_pair(rr + w), x1 = load_pair(xa + w), z1 = load_pair(za + w), x2 = load_pair(xb + w),
         z2 = load_pair(zb + w);
    s ^= x2 & z2;  // Hadamard on b
    std::swap(x2, z2);
    s ^= x1 & z2 & ~(x2 ^ z1);  // CNOT a -> b
    x2 ^= x1;
    z1 ^= z2;
    s ^= x2 & z2;  // Hadamard on b
    std::swap(x2, z2);
    store_pair(rr + w, s);
    store_pair(za + w, z1);
    store_pair(xb + w, x2);
    store_pair(zb + w, z2);
  }
}

void PackedTableau::swap(int64_t a, int64_t b) {
  uint64_t *xa = x(a), *za = z(a), *xb = x(b), *zb = z(b), *rr = r();
  for (int64_t w = 0, count = words(); w < count; w += 2) {
    Pair s = load_pair(rr + w), x1 = load_pair(xa + w), z1 = load_pair(za + w), x2 = load_pair(xb + w),
         z2 = load_pair(zb + w);
    s ^= x1 & z2 & ~(x2 ^ z1);  // CNOT a -> b
    x2 ^= x1;
    z1 ^= z2;
    s ^= x2 & z1 & ~(x1 ^ z2);  // CNOT b -> a
    x1 ^= x2;
    z2 ^= z1;
    s ^= x1 & z2 & ~(x2 ^ z1);  // CNOT a -> b
    x2 ^= x1;
    z1 ^= z2;
    store_pair(rr + w, s);
    store_pair(xa + w, x1);
    store_pair(za + w, z1);
    store_pair(xb + w, x2);
    store_pair(zb + w, z2);
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

int64_t PackedTableau::measure_random(int64_t a, int64_t pivot, uint64_t outcome, uint64_t* scratch, int64_t* touched) {
  // The pivot (stabilizer `pivot`) and its destabilizer share a bit: word
  // dw of the first half and word pw of the second.
  const int64_t all = words(), dw = pivot / 64, pw = half_ + dw;
  const uint64_t pb = uint64_t(1) << (pivot % 64);
  // Rows that absorb the pivot, and their phase exponents modulo 4,
  // bit-sliced: lo + 2*hi. Every such row reads only itself and the pivot
  // row, which does not change, so all are updated at once.
  uint64_t* absorb = scratch;
  uint64_t* lo = scratch + all;
  uint64_t* hi = scratch + 2 * all;
  std::copy_n(x(a), all, absorb);
  std::fill_n(lo, 2 * all, 0);
  absorb[pw] &= ~pb;
  int64_t count = 0;
  uint64_t *xj = x(0), *zj = z(0);
  for (int64_t j = 0; j < n_; ++j, xj += all, zj += all) {
    if (((xj[dw] | zj[dw] | xj[pw] | zj[pw]) & pb) == 0) continue;  // neither row acts on qubit j
    touched[count++] = j;
    const uint64_t x_bit = xj[pw] & pb, z_bit = zj[pw] & pb;
    if ((x_bit | z_bit) != 0) {
      const Pair xp = broadcast_bit(x_bit != 0), zp = broadcast_bit(z_bit != 0);
      for (int64_t w = 0; w < all; w += 2) {
        // The pivot's Pauli on qubit j times the row's: nonzero exponent
        // where they anticommute, -1 where `neg` is set.
        const Pair xk = load_pair(xj + w), zk = load_pair(zj + w), k = load_pair(absorb + w);
        const Pair anti = ((xp & zk) ^ (zp & xk)) & k;
        const Pair neg = xp ^ zp ^ xk ^ zk ^ (xp & zk);
        const Pair l = load_pair(lo + w);
        store_pair(hi + w, load_pair(hi + w) ^ ((l ^ neg) & anti));
        store_pair(lo + w, l ^ anti);
        store_pair(xj + w, xk ^ (xp & k));
        store_pair(zj + w, zk ^ (zp & k));
      }
    }
    // The pivot row replaces its destabilizer and is cleared.
    xj[dw] = (xj[dw] & ~pb) | x_bit;
    zj[dw] = (zj[dw] & ~pb) | z_bit;
    xj[pw] &= ~pb;
    zj[pw] &= ~pb;
  }
  uint64_t* rr = r();
  const uint64_t r_bit = rr[pw] & pb;
  const Pair rp = broadcast_bit(r_bit != 0);
  for (int64_t w = 0; w < all; w += 2) {
    const Pair k = load_pair(absorb + w), old = load_pair(rr + w);
    store_pair(rr + w, (old & ~k) | (k & (load_pair(lo + w) | (load_pair(hi + w) ^ old ^ rp))));
  }
  rr[dw] = (rr[dw] & ~pb) | r_bit;
  rr[pw] = (rr[pw] & ~pb) | (outcome != 0 ? pb : 0);
  z(a)[pw] |= pb;  // the pivot row is now +-Z_a
  return count;
}

// Calls sink(row, q0, bits, count) for every row 0..2n-1 and every run of up
// to 64 qubits starting at q0: bit c of `bits` is the x (or z) bit of qubit
// q0+c. 64 x 64 blocks are transposed at a time.
template <class Sink>
void PackedTableau::for_each_row_chunk(int64_t first_column, Sink&& sink) const {
  uint64_t block[64];
  for (int64_t half = 0; half < 2; ++half) {
    for (int64_t w = 0; w < half_; ++w) {
      interruption_point();
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
