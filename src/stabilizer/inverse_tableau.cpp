#include "stabilizer/inverse_tableau.hpp"

#include <algorithm>
#include <cassert>

#include "stabilizer/bit_matrix.hpp"
#include "stabilizer/tableau.hpp"

namespace nimbic::stabilizer {

namespace {

// The phase exponent of a product of two Pauli strings, one word of each
// part at a time: per bit, the strings' single-qubit Paulis contribute i^1
// or i^-1 where they anticommute. The counts are kept modulo 4 per bit
// lane (lo + 2*hi) and summed at the end.
struct PhaseCount {
  uint64_t lo = 0, hi = 0;
  // Left Pauli (x1, z1) times right Pauli (x2, z2).
  void add(uint64_t x1, uint64_t z1, uint64_t x2, uint64_t z2) {
    const uint64_t anti = (x1 & z2) ^ (z1 & x2);
    const uint64_t neg = x1 ^ x2 ^ z1 ^ z2 ^ (x1 & z2);
    hi ^= (lo ^ neg) & anti;
    lo ^= anti;
  }
  unsigned exponent() const { return unsigned(__builtin_popcountll(lo) + 2 * __builtin_popcountll(hi)) & 3; }
};

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
  for (int64_t w = 0; w < stride_; ++w) d[w] ^= s[w];
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
  uint64_t* __restrict d = row(dst);
  const uint64_t* __restrict s = row(src);
  PhaseCount count;
  for (int64_t w = 0; w < half_; ++w) {
    const uint64_t x1 = d[w], z1 = d[half_ + w], x2 = s[w], z2 = s[half_ + w];
    count.add(x1, z1, x2, z2);
    d[w] = x1 ^ x2;
    d[half_ + w] = z1 ^ z2;
  }
  const unsigned e = (count.exponent() + extra) & 3;
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
// where W is Q without its factor on p. For a row with parts (x, z):
// the factors off p give back themselves times X_p^c, c = parity(x & alpha
// ^ z & beta); a row without X on p keeps its sign and gets X_p^(z_p ^ c) on
// p; a row with X on p becomes T times itself with (c, 0) on p, where T is V
// (z_p = 0) or i V X_p (z_p = 1).
void InverseTableau::measure_random(int64_t a, int64_t p, uint64_t outcome, uint64_t* scratch) {
  const int64_t h = half_, pw = p / 64;
  const uint64_t pb = uint64_t(1) << (p % 64);
  uint64_t* beta = scratch;
  uint64_t* alpha = scratch + h;
  uint64_t* t0 = scratch + 2 * h;  // T for rows with (1, 0) on p: x part, z part
  uint64_t* t1 = scratch + 4 * h;  // T for rows with (1, 1) on p
  auto* support = reinterpret_cast<int64_t*>(scratch + 6 * h);
  const uint64_t* q = row(n_ + a);
  std::copy_n(q, h, beta);
  std::copy_n(q + h, h, alpha);
  const uint64_t q_sign = sign(n_ + a), alpha_p = (alpha[pw] & pb) != 0 ? 1 : 0;
  beta[pw] &= ~pb;
  alpha[pw] &= ~pb;
  int64_t words = 0;
  for (int64_t w = 0; w < h; ++w)
    if ((beta[w] | alpha[w]) != 0 || w == pw) support[words++] = w;
  std::copy_n(beta, h, t0);
  std::copy_n(alpha, h, t0 + h);
  t0[h + pw] |= pb;
  std::copy_n(t0, 2 * h, t1);
  // V has (alpha_p, 1) on p; i V X_p has (1 - alpha_p, 1) and sign -1 when
  // alpha_p = 0 (i Z X = -Y, i Y X = Z).
  if (alpha_p != 0)
    t0[pw] |= pb;
  else
    t1[pw] |= pb;
  const uint64_t t0_sign = outcome ^ q_sign, t1_sign = t0_sign ^ (alpha_p ^ 1);
  int64_t variable = -1, q_form = -1;
  if (forms_ != nullptr) {
    variable = forms_->new_variable();
    q_form = forms_->spare();
    std::copy_n(forms_->form(n_ + a), forms_->stride(), forms_->form(q_form));
  }
  for (int64_t i = 0; i < 2 * n_; ++i) {
    uint64_t* x = row(i);
    uint64_t* z = x + h;
    const bool xp = (x[pw] & pb) != 0, zp = (z[pw] & pb) != 0;
    uint64_t odd = 0;
    for (int64_t k = 0; k < words; ++k) {
      const int64_t w = support[k];
      odd ^= (x[w] & alpha[w]) ^ (z[w] & beta[w]);
    }
    const bool c = parity(odd) != 0;
    z[pw] &= ~pb;
    if (!xp) {
      x[pw] = (zp != c) ? x[pw] | pb : x[pw] & ~pb;
      continue;
    }
    x[pw] = c ? x[pw] | pb : x[pw] & ~pb;
    const uint64_t* t = zp ? t1 : t0;
    PhaseCount count;
    for (int64_t k = 0; k < words; ++k) {
      const int64_t w = support[k];
      count.add(t[w], t[h + w], x[w], z[w]);
      x[w] ^= t[w];
      z[w] ^= t[h + w];
    }
    const unsigned e = count.exponent();
    assert((e & 1) == 0);
    if (((e >> 1) ^ (zp ? t1_sign : t0_sign)) != 0) flip(i);
    if (forms_ != nullptr) {
      forms_->absorb(i, q_form);
      forms_->form(i)[variable / 64] ^= uint64_t(1) << (variable % 64);
    }
  }
}

}  // namespace nimbic::stabilizer
