#include "stabilizer/packed_from_plain.hpp"

#include <algorithm>
#include <new>
#include <vector>

#include "common/count.hpp"
#include "common/memory.hpp"
#include "common/split_work.hpp"
#include "stabilizer/bit_matrix.hpp"
#include "stabilizer/word_pairs.hpp"

namespace nimbic::stabilizer {

namespace {

// Words the row products below take at a time (four Pairs of each sum).
constexpr int64_t kChunk = 8;

// The generator rows packed row-major (row m: `stride` words of x bits, then
// as many of z bits, qubit j at bit j % 64 of word j / 64; `half` words hold
// bits, the rest up to a multiple of kChunk is zero), each with its phase:
// row m is i^phase[m] X^x Z^z, phase = 2 r + its number of Y factors.
struct Rows {
  int64_t n, half, stride;
  std::vector<uint64_t> bits;
  std::vector<uint8_t> phase;
  Rows(int64_t count, int64_t words)
      : n(count),
        half(words),
        stride((words + kChunk - 1) / kChunk * kChunk),
        bits(size_t(4 * count * stride), 0),
        phase(size_t(2 * count)) {}
  const uint64_t* x(int64_t m) const { return bits.data() + m * 2 * stride; }
  const uint64_t* z(int64_t m) const { return x(m) + stride; }
};

// Packs rows 0..2n-1 and their signs; false when an entry or a sign is not
// 0 or 1.
bool pack_rows(const Tableau& plain, Rows& rows) {
  const int64_t n = rows.n, half = rows.half;
  for (int64_t m = 0; m < 2 * n; ++m) {
    uint64_t* x = rows.bits.data() + m * 2 * rows.stride;
    uint64_t* z = x + rows.stride;
    const int64_t* px = plain.x.data() + m * n;
    const int64_t* pz = plain.z.data() + m * n;
    uint64_t any = uint64_t(plain.r[size_t(m)]);
    int64_t y = 0;
    for (int64_t w = 0; w < half; ++w) {
      const int64_t first = 64 * w, count = std::min<int64_t>(64, n - first);
      uint64_t xw = 0, zw = 0;
      for (int64_t c = 0; c < count; ++c) {
        const uint64_t xv = uint64_t(px[first + c]), zv = uint64_t(pz[first + c]);
        any |= xv | zv;
        xw |= xv << c;
        zw |= zv << c;
      }
      x[w] = xw;
      z[w] = zw;
      y += popcount(xw & zw);
    }
    if (any > 1) return false;
    rows.phase[size_t(m)] = uint8_t((2 * plain.r[size_t(m)] + y) & 3);
  }
  return true;
}

// The bit columns and signs of the packed tableau from the rows, 64 x 64
// blocks at a time.
void write_columns(const Rows& rows, const Tableau& plain, PackedTableau& t) {
  const int64_t n = rows.n, half = rows.half;
  uint64_t block[64];
  for (int64_t part = 0; part < 2; ++part) {
    for (int64_t g = 0; g < 2 * half; ++g) {
      // Word g of a column: destabilizers from 64g in the first half,
      // stabilizers from n + 64(g - half) in the second.
      const int64_t first = g < half ? 64 * g : n + 64 * (g - half);
      const int64_t count = std::min<int64_t>(64, (g < half ? n : 2 * n) - first);
      for (int64_t qw = 0; qw < half; ++qw) {
        for (int64_t k = 0; k < 64; ++k)
          block[k] = k < count ? (part == 0 ? rows.x(first + k) : rows.z(first + k))[qw] : 0;
        transpose64(block);
        const int64_t q0 = 64 * qw, columns = std::min<int64_t>(64, n - q0);
        for (int64_t c = 0; c < columns; ++c) (part == 0 ? t.x(q0 + c) : t.z(q0 + c))[g] = block[c];
      }
    }
  }
  uint64_t* signs = t.r();
  std::fill_n(signs, t.words(), 0);
  for (int64_t m = 0; m < 2 * n; ++m) {
    const int64_t pos = t.position(m);
    signs[pos / 64] |= uint64_t(plain.r[size_t(m)]) << (pos % 64);
  }
}

// Row k of the inverse (X_q for k = q, Z_q for k = n + q), its bits read
// from the packed columns, mapped back through the tableau: generator X_i
// to destabilizer row i, Z_i to stabilizer row i. When the image is +-X_q or
// +-Z_q, sets `sign` to make it + and returns true.
//
// The image is i^(number of Y factors of the row) times the rows' product in
// increasing order, i^(sum of phases) X^x1 Z^z1 X^x2 Z^z2 ...; bringing every
// X to the left costs -1 for each pair m < l where z_m and x_l overlap an odd
// number of times, so that parity is collected (`cross`) beside the sums of
// the x and z bits, kChunk words at a time (the sums stay in registers).
bool inverse_sign(const Rows& rows, const PackedTableau& t, int64_t k, uint64_t& sign) {
  const int64_t n = rows.n, half = rows.half, q = k % n;
  const uint64_t* column = k < n ? t.z(q) : t.x(q);
  const uint64_t* destabilizers = column + half;  // the row's x bits
  const uint64_t* stabilizers = column;           // its z bits
  auto for_each_row = [&](auto&& body) {
    for (int64_t part = 0; part < 2; ++part) {
      const uint64_t* selected = part == 0 ? destabilizers : stabilizers;
      for (int64_t w = 0; w < half; ++w)
        for (uint64_t bits = selected[w]; bits != 0; bits &= bits - 1) body(part * n + 64 * w + __builtin_ctzll(bits));
    }
  };
  int64_t e = 0;
  for (int64_t w = 0; w < half; ++w) e += popcount(destabilizers[w] & stabilizers[w]);
  for_each_row([&](int64_t m) { e += rows.phase[size_t(m)]; });
  uint64_t odd = 0;
  for (int64_t c0 = 0; c0 < half; c0 += kChunk) {
    Pair xs[kChunk / 2]{}, zs[kChunk / 2]{}, cross[kChunk / 2]{};
    for_each_row([&](int64_t m) {
      const uint64_t *x = rows.x(m) + c0, *z = rows.z(m) + c0;
      for (int64_t i = 0; i < kChunk / 2; ++i) {
        const Pair xv = load_pair(x + 2 * i);
        cross[i] ^= zs[i] & xv;
        zs[i] ^= load_pair(z + 2 * i);
        xs[i] ^= xv;
      }
    });
    for (int64_t w = c0; w < c0 + kChunk; ++w) {
      const uint64_t bit = w == q / 64 ? uint64_t(1) << (q % 64) : 0;
      const int64_t i = (w - c0) / 2, lane = (w - c0) % 2;
      if (xs[i][lane] != (k < n ? bit : 0) || zs[i][lane] != (k < n ? 0 : bit)) return false;
      odd ^= cross[i][lane];
    }
  }
  e += 2 * parity(odd);
  if ((e & 1) != 0) return false;
  sign = uint64_t(e >> 1) & 1;
  return true;
}

}  // namespace

bool pack_plain_tableau(Tableau plain, PackedTableau& tableau, InverseTableau& inverse) {
  const int64_t n = plain.num_qubits, half = PackedTableau::half_words_for(n);
  const int64_t column_words = PackedTableau::column_words_for(n);
  // The rows (their words padded to whole chunks) and the staged columns.
  const Count stride = (half + kChunk - 1) / kChunk * kChunk;
  const Count bytes = 8 * (4 * Count(n) * stride + Count(column_words)) + 2 * Count(n);
  if (bytes > (Count(16) << 20) && bytes > available_memory()) return false;
  try {
    Rows rows(n, half);
    if (!pack_rows(plain, rows)) return false;
    std::vector<uint64_t> columns(static_cast<size_t>(column_words)), signs(static_cast<size_t>(2 * half));
    PackedTableau staged(n, columns.data(), signs.data());
    write_columns(rows, plain, staged);
    // The rows of the inverse are independent: split over threads in runs
    // of 64, each writing whole words of signs.
    const unsigned parts = split_parts(uint64_t(2 * n), uint64_t(n * half), 64);
    std::vector<uint64_t> inverse_signs(static_cast<size_t>(InverseTableau::sign_storage_for(n)));
    std::vector<uint8_t> refused(parts, 0);
    split_work(uint64_t(2 * n), uint64_t(n * half), 64, [&](unsigned part, uint64_t begin, uint64_t end) {
      for (int64_t k = int64_t(begin); k < int64_t(end); ++k) {
        uint64_t sign = 0;
        if (!inverse_sign(rows, staged, k, sign)) {
          refused[part] = 1;
          return;
        }
        inverse_signs[size_t(k / 64)] |= sign << (k % 64);
      }
    });
    if (std::find(refused.begin(), refused.end(), 1) != refused.end()) return false;
    // Every row has been read: the packed storage may now be written.
    std::copy(columns.begin(), columns.end(), tableau.x(0));
    std::copy(signs.begin(), signs.end(), tableau.r());
    for (int64_t q = 0; q < n; ++q) {
      for (int64_t kind = 0; kind < 2; ++kind) {
        const uint64_t* column = kind == 0 ? staged.z(q) : staged.x(q);
        uint64_t* row = inverse.row(kind * n + q);
        std::copy_n(column + half, half, row);
        std::copy_n(column, half, row + half);
      }
    }
    inverse.set_signs(inverse_signs.data());
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace nimbic::stabilizer
