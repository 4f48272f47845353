#include "stabilizer/inverse_tableau.hpp"

#include <algorithm>
#include <cassert>

#include "stabilizer/bit_matrix.hpp"
#include "stabilizer/tableau.hpp"
#include "stabilizer/word_pairs.hpp"

namespace nimbic::stabilizer {

namespace {

// The phase exponent of a product of two Pauli strings, a word (or a Pair
// of words) of each part at a time: per bit, the strings' single-qubit
// Paulis contribute i^1 or i^-1 where they anticommute. The counts are kept
// modulo 4 per bit lane (lo + 2*hi) and summed at the end.
template <class Word>
struct PhaseCount {
  Word lo{}, hi{};
  // Left Pauli (x1, z1) times right Pauli (x2, z2).
  void add(Word x1, Word z1, Word x2, Word z2) {
    const Word anti = (x1 & z2) ^ (z1 & x2);
    const Word neg = x1 ^ x2 ^ z1 ^ z2 ^ (x1 & z2);
    hi ^= (lo ^ neg) & anti;
    lo ^= anti;
  }
};

inline unsigned exponent(const PhaseCount<uint64_t>& c) { return unsigned(popcount(c.lo) + 2 * parity(c.hi)) & 3; }
inline unsigned exponent(const PhaseCount<Pair>& c) {
  return unsigned(popcount(c.lo[0]) + popcount(c.lo[1]) + 2 * parity(c.hi[0] ^ c.hi[1])) & 3;
}

}  // namespace

SignForms::SignForms(int64_t rows) : rows_(rows), data_(size_t(rows + 1), 0) {}

int64_t SignForms::new_variable() {
  if (variables_ == 64 * stride_) {
    const int64_t wider = 2 * stride_;
    std::vector<uint64_t> next(size_t((rows_ + 1) * wider), 0);
    for (int64_t i = 0; i <= rows_; ++i) std::copy_n(form(i), stride_, next.data() + i * wider);
    data_.swap(next);
    stride_ = wider;
  }
  return variables_++;
}

void SignForms::absorb(int64_t dst, int64_t src) {
  uint64_t* __restrict d = form(dst);
  const uint64_t* __restrict s = form(src);
  for (int64_t w = 0, words = stride_; w < words; ++w) d[w] ^= s[w];
}

void SignForms::swap(int64_t a, int64_t b) { std::swap_ranges(form(a), form(a) + stride_, form(b)); }

InverseTableau::InverseTableau(int64_t num_qubits, uint64_t* rows, uint64_t* signs, SignForms* forms)
    : n_(num_qubits), half_(half_words_for(num_qubits)), rows_(rows), signs_(signs), forms_(forms) {}

void InverseTableau::set_identity() {
  std::fill_n(rows_, row_storage_for(n_), 0);
  std::fill_n(signs_, sign_storage_for(n_), 0);
  for (int64_t q = 0; q < n_; ++q) {
    row(q)[q / 64] |= uint64_t(1) << (q % 64);
    row(n_ + q)[half_ + q / 64] |= uint64_t(1) << (q % 64);
  }
}

void InverseTableau::multiply(int64_t dst, int64_t src, unsigned extra) {
  const int64_t h = half_;
  uint64_t* __restrict dx = row(dst), * __restrict dz = dx + h;
  const uint64_t* __restrict sx = row(src), * __restrict sz = sx + h;
  PhaseCount<Pair> pairs;
  int64_t w = 0;
  for (; w + 2 <= h; w += 2) {
    const Pair x1 = load_pair(dx + w), z1 = load_pair(dz + w), x2 = load_pair(sx + w), z2 = load_pair(sz + w);
    pairs.add(x1, z1, x2, z2);
    store_pair(dx + w, x1 ^ x2);
    store_pair(dz + w, z1 ^ z2);
  }
  PhaseCount<uint64_t> last;
  if (w < h) {
    last.add(dx[w], dz[w], sx[w], sz[w]);
    dx[w] ^= sx[w];
    dz[w] ^= sz[w];
  }
  const unsigned e = (exponent(pairs) + exponent(last) + extra) & 3;
  assert((e & 1) == 0);  // the product of the images is Hermitian
  if (((e >> 1) ^ sign(src)) != 0) flip(dst);
  if (forms_ != nullptr) forms_->absorb(dst, src);
}

void InverseTableau::swap_rows(int64_t a, int64_t b) {
  std::swap_ranges(row(a), row(a) + 2 * half_, row(b));
  if (sign(a) != sign(b)) {
    flip(a);
    flip(b);
  }
  if (forms_ != nullptr) forms_->swap(a, b);
}

// The conjugations U^dag P U of the generators a gate changes:
//   H: X <-> Z;  S: X -> -i X Z;  S^dag: X -> i X Z;  X: Z -> -Z;  Z: X -> -X;
//   CNOT(a, b): X_a -> X_a X_b, Z_b -> Z_a Z_b;  CZ: X_a -> X_a Z_b, X_b -> Z_a X_b;
//   SWAP: X_a <-> X_b, Z_a <-> Z_b.
void InverseTableau::apply(int64_t code, int64_t a, int64_t b) {
  switch (code) {
    case instr_h:
      swap_rows(a, n_ + a);
      break;
    case instr_s:
      multiply(a, n_ + a, 3);
      break;
    case instr_sdg:
      multiply(a, n_ + a, 1);
      break;
    case instr_x:
      flip(n_ + a);
      break;
    case instr_y:
      flip(a);
      flip(n_ + a);
      break;
    case instr_z:
      flip(a);
      break;
    case instr_cnot:
      multiply(a, b, 0);
      multiply(n_ + b, n_ + a, 0);
      break;
    case instr_cz:
      multiply(a, n_ + b, 0);
      multiply(b, n_ + a, 0);
      break;
    case instr_swap:
      swap_rows(a, b);
      swap_rows(n_ + a, n_ + b);
      break;
    default:
      break;
  }
}

int64_t InverseTableau::random_pivot(int64_t a) const {
  const uint64_t* xs = row(n_ + a);
  for (int64_t w = 0; w < half_; ++w)
    if (xs[w] != 0) return w * 64 + __builtin_ctzll(xs[w]);
  return -1;
}

// The measurement changes the tableau into C R, where R acts on the
// generators: X_i -> X_i Z_p and Z_i -> Z_i Z_p for the rows that absorbed
// the pivot p (alpha_i and beta_i, the z and x parts of Q = C^dag Z_a C),
// X_p -> Z_p and Z_p -> (-1)^outcome Q. The inverse becomes R^-1 C^dag, so
// every row P turns into R^-1(P), with
//   R^-1(X_i) = X_i X_p^alpha_i,  R^-1(Z_i) = Z_i X_p^beta_i  (i != p),
//   R^-1(Z_p) = X_p,  R^-1(X_p) = V = (-1)^(outcome + sign Q) P_p(alpha_p, 1) W,
// where W is Q without its factor on p. A row's factors off p give back
// themselves times X_p^c, where c = parity(x & alpha ^ z & beta) says
// whether the row anticommutes with W. Every row commutes with Q except row
// X_a, so c follows from the row's bits (x_p, z_p) on p alone: c = [row is
// X_a] ^ (x_p & alpha_p) ^ z_p. A row without X on p thus becomes itself
// with (0, 0) on p, or (1, 0) for row X_a. A row with X on p becomes T times
// itself with (c, 0) on p, where T is V (z_p = 0) or i V X_p (z_p = 1):
// W times the row off p, and on p the Pauli (t, 1) times (c, 0), t = alpha_p
// ^ z_p, which is Z X = i Y (t = 0) or Y X = -i Z (t = 1) when c = 1. The
// sign of T is that of V, and -1 more for i V X_p when alpha_p = 0 (i Z X =
// -Y).
template <class Rows>
void InverseTableau::measure_rows(int64_t a, int64_t p, uint64_t outcome, uint64_t* scratch, Rows&& rows) {
  const int64_t h = half_, pw = p / 64;
  const uint64_t pb = uint64_t(1) << (p % 64);
  uint64_t* wx = scratch;  // W: x part, z part
  uint64_t* wz = scratch + h;
  auto* support = reinterpret_cast<int64_t*>(scratch + 2 * h);
  const uint64_t* q = row(n_ + a);
  std::copy_n(q, 2 * h, wx);
  const bool alpha_p = (wz[pw] & pb) != 0;
  const uint64_t v_sign = outcome ^ sign(n_ + a);
  wx[pw] &= ~pb;
  wz[pw] &= ~pb;
  int64_t words = 0;  // the words where W is not the identity
  for (int64_t w = 0; w < h; ++w)
    if ((wx[w] | wz[w]) != 0) support[words++] = w;
  int64_t variable = -1, q_form = -1;
  if (forms_ != nullptr) {
    variable = forms_->new_variable();
    q_form = forms_->spare();
    std::copy_n(forms_->form(n_ + a), forms_->stride(), forms_->form(q_form));
  }
  const bool a_had_x = (row(a)[pw] & pb) != 0;
  rows([&](int64_t i) {
    uint64_t* x = row(i);
    uint64_t* z = x + h;
    const bool zp = (z[pw] & pb) != 0;
    if ((x[pw] & pb) == 0) {
      z[pw] &= ~pb;
      return;
    }
    const bool c = (i == a) != (alpha_p != zp), t = alpha_p != zp;
    PhaseCount<uint64_t> count;
    for (int64_t k = 0; k < words; ++k) {
      const int64_t w = support[k];
      count.add(wx[w], wz[w], x[w], z[w]);
      x[w] ^= wx[w];
      z[w] ^= wz[w];
    }
    const unsigned e = (exponent(count) + (c ? (t ? 3 : 1) : 0)) & 3;
    assert((e & 1) == 0);
    x[pw] = (t != c) ? x[pw] | pb : x[pw] & ~pb;
    z[pw] |= pb;
    if (((e >> 1) ^ v_sign ^ uint64_t(zp && !alpha_p)) != 0) flip(i);
    if (forms_ != nullptr) {
      forms_->absorb(i, q_form);
      forms_->form(i)[variable / 64] ^= uint64_t(1) << (variable % 64);
    }
  });
  if (!a_had_x) row(a)[pw] |= pb;
}

void InverseTableau::measure_random(int64_t a, int64_t pivot, uint64_t outcome, uint64_t* scratch) {
  measure_rows(a, pivot, outcome, scratch, [&](auto&& update) {
    for (int64_t i = 0; i < 2 * n_; ++i) update(i);
  });
}

// A row has bits on the pivot p only if it is X_q or Z_q for a qubit q on
// which the pivot stabilizer or its destabilizer acts: the x bit of P's
// image at p says whether P anticommutes with the stabilizer, the z bit
// whether it anticommutes with the destabilizer.
void InverseTableau::measure_random(int64_t a, int64_t pivot, uint64_t outcome, uint64_t* scratch,
                                    std::span<const int64_t> qubits) {
  measure_rows(a, pivot, outcome, scratch, [&](auto&& update) {
    for (int64_t q : qubits) {
      update(q);
      update(n_ + q);
    }
  });
}

}  // namespace nimbic::stabilizer
