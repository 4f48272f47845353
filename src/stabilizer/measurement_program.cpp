#include "stabilizer/measurement_program.hpp"

#include <algorithm>
#include <cassert>

#include "common/interrupt.hpp"
#include "stabilizer/bit_matrix.hpp"
#include "stabilizer/instruction_stream.hpp"
#include "stabilizer/packed_tableau.hpp"
#include "stabilizer/tableau.hpp"

namespace nimbic::stabilizer {

namespace {

uint64_t bit_of(const uint64_t* words, int64_t pos) { return (words[pos / 64] >> (pos % 64)) & 1; }

// Bit i of the result is the XOR of bits 0..i-1 of v.
uint64_t exclusive_prefix_parity(uint64_t v) {
  uint64_t p = v;
  p ^= p << 1;
  p ^= p << 2;
  p ^= p << 4;
  p ^= p << 8;
  p ^= p << 16;
  p ^= p << 32;
  return p ^ v;
}

// The packed tableau plus, for each stabilizer row, the variable part of its
// sign (the constant part is the tableau's own sign column). Destabilizer
// signs never reach an outcome and are not kept exact here.
class SymbolicTableau {
 public:
  explicit SymbolicTableau(int64_t n) : t_(n), n_(n), half_(t_.half_words()) { forms_.assign(size_t(n_ * stride_), 0); }

  PackedTableau& tableau() { return t_; }
  int64_t variables() const { return variables_; }

  // Measures qubit a: appends the variables of the outcome to `vars` and
  // returns its constant.
  uint8_t measure(int64_t a, std::vector<int64_t>& vars) {
    const uint64_t* xa_stab = t_.x(a) + half_;
    for (int64_t w = 0; w < half_; ++w) {
      if (xa_stab[w] != 0) {
        const int64_t pivot = w * 64 + __builtin_ctzll(xa_stab[w]);
        return measure_random(a, pivot, vars);
      }
    }
    return measure_determined(a, vars);
  }

 private:
  uint64_t* form(int64_t stab_row) { return forms_.data() + stab_row * stride_; }

  void grow_forms() {
    const int64_t wider = stride_ * 2;
    std::vector<uint64_t> next(size_t(n_ * wider), 0);
    for (int64_t i = 0; i < n_; ++i) std::copy_n(form(i), stride_, next.data() + i * wider);
    forms_.swap(next);
    stride_ = wider;
  }

  // Stabilizer row n+ps has an X on a: every other row with an X on a is
  // multiplied by it (all at once: each such row reads only itself and the
  // pivot row, which does not change), the pivot row moves to destabilizer
  // ps and becomes +-Z_a with a fresh variable as its sign.
  uint8_t measure_random(int64_t a, int64_t ps, std::vector<int64_t>& vars) {
    const int64_t all = t_.words(), pivot_pos = 64 * half_ + ps;
    std::vector<uint64_t>& absorb = scratch_a_;
    absorb.assign(t_.x(a), t_.x(a) + all);
    absorb[size_t(pivot_pos / 64)] &= ~(uint64_t(1) << (pivot_pos % 64));
    // Phase exponents modulo 4 of the stabilizer rows that absorb the pivot,
    // bit-sliced: lo + 2*hi.
    std::vector<uint64_t>& lo = scratch_b_;
    std::vector<uint64_t>& hi = scratch_c_;
    lo.assign(size_t(half_), 0);
    hi.assign(size_t(half_), 0);
    const uint64_t* absorb_stab = absorb.data() + half_;
    for (int64_t j = 0; j < n_; ++j) {
      uint64_t *xj = t_.x(j), *zj = t_.z(j);
      const uint64_t xp = bit_of(xj, pivot_pos), zp = bit_of(zj, pivot_pos);
      if ((xp | zp) == 0) continue;
      for (int64_t w = 0; w < half_; ++w) {
        const uint64_t k = absorb_stab[w], xk = xj[half_ + w], zk = zj[half_ + w];
        uint64_t plus, minus;
        if (xp && zp) {  // Y times (xk, zk): +1 for Z, -1 for X
          plus = ~xk & zk;
          minus = xk & ~zk;
        } else if (xp) {  // X: +1 for Y, -1 for Z
          plus = xk & zk;
          minus = ~xk & zk;
        } else {  // Z: +1 for X, -1 for Y
          plus = xk & ~zk;
          minus = xk & zk;
        }
        plus &= k;
        minus &= k;
        hi[size_t(w)] ^= lo[size_t(w)] & plus;
        lo[size_t(w)] ^= plus;
        hi[size_t(w)] ^= ~lo[size_t(w)] & minus;
        lo[size_t(w)] ^= minus;
      }
      if (xp)
        for (int64_t w = 0; w < all; ++w) xj[w] ^= absorb[size_t(w)];
      if (zp)
        for (int64_t w = 0; w < all; ++w) zj[w] ^= absorb[size_t(w)];
    }
    // Commuting rows pick up an even exponent: the sign gains the pivot's
    // sign and hi.
    uint64_t* signs = t_.r() + half_;
    const uint64_t pivot_sign = bit_of(t_.r(), pivot_pos) ? ~uint64_t(0) : 0;
    for (int64_t w = 0; w < half_; ++w) {
      const uint64_t k = absorb_stab[w];
      assert((lo[size_t(w)] & k) == 0);
      signs[w] ^= k & (hi[size_t(w)] ^ pivot_sign);
      for (uint64_t bits = k; bits != 0; bits &= bits - 1) {
        uint64_t* dst = form(w * 64 + __builtin_ctzll(bits));
        const uint64_t* src = form(ps);
        for (int64_t f = 0; f < stride_; ++f) dst[f] ^= src[f];
      }
    }
    // The pivot row replaces destabilizer ps and becomes Z on a.
    for (int64_t j = 0; j < n_; ++j) {
      uint64_t *xj = t_.x(j), *zj = t_.z(j);
      const uint64_t clear = ~(uint64_t(1) << (ps % 64));
      xj[ps / 64] = (xj[ps / 64] & clear) | (bit_of(xj, pivot_pos) << (ps % 64));
      zj[ps / 64] = (zj[ps / 64] & clear) | (bit_of(zj, pivot_pos) << (ps % 64));
      xj[pivot_pos / 64] &= ~(uint64_t(1) << (pivot_pos % 64));
      zj[pivot_pos / 64] &= ~(uint64_t(1) << (pivot_pos % 64));
    }
    t_.z(a)[pivot_pos / 64] |= uint64_t(1) << (pivot_pos % 64);
    t_.r()[pivot_pos / 64] &= ~(uint64_t(1) << (pivot_pos % 64));
    const int64_t v = variables_++;
    if (v / 64 >= stride_) grow_forms();
    std::fill_n(form(ps), stride_, 0);
    form(ps)[v / 64] = uint64_t(1) << (v % 64);
    vars.push_back(v);
    return 0;
  }

  // The outcome is the sign of the product, in increasing row order, of the
  // stabilizers paired with destabilizers that have an X on a. Its phase
  // exponent is summed qubit by qubit: on qubit j, row s meets the product
  // of the selected rows before it, whose bits are prefix parities.
  uint8_t measure_determined(int64_t a, std::vector<int64_t>& vars) {
    const uint64_t* selected = t_.x(a);  // destabilizer half: bit i selects stabilizer n+i
    int64_t exponent = 0;
    for (int64_t j = 0; j < n_; ++j) {
      const uint64_t *xs = t_.x(j) + half_, *zs = t_.z(j) + half_;
      uint64_t carry_x = 0, carry_z = 0;
      for (int64_t w = 0; w < half_; ++w) {
        const uint64_t sx = xs[w] & selected[w], sz = zs[w] & selected[w];
        if ((sx | sz) == 0) continue;
        const uint64_t px = exclusive_prefix_parity(sx) ^ carry_x;
        const uint64_t pz = exclusive_prefix_parity(sz) ^ carry_z;
        carry_x ^= parity(sx) ? ~uint64_t(0) : 0;
        carry_z ^= parity(sz) ? ~uint64_t(0) : 0;
        const uint64_t ys = sx & sz, xo = sx & ~sz, zo = ~sx & sz;
        const uint64_t plus = (ys & ~px & pz) | (xo & px & pz) | (zo & px & ~pz);
        const uint64_t minus = (ys & px & ~pz) | (xo & ~px & pz) | (zo & px & pz);
        exponent += __builtin_popcountll(plus) - __builtin_popcountll(minus);
      }
    }
    assert((exponent & 1) == 0);
    uint64_t sign = uint64_t(exponent & 3) >> 1;
    const uint64_t* signs = t_.r() + half_;
    for (int64_t w = 0; w < half_; ++w) sign ^= parity(signs[w] & selected[w]);
    const int64_t words = (variables_ + 63) / 64;
    std::vector<uint64_t>& acc = scratch_a_;
    acc.assign(size_t(words), 0);
    for (int64_t w = 0; w < half_; ++w)
      for (uint64_t bits = selected[w]; bits != 0; bits &= bits - 1) {
        const uint64_t* src = form(w * 64 + __builtin_ctzll(bits));
        for (int64_t f = 0; f < words; ++f) acc[size_t(f)] ^= src[f];
      }
    for (int64_t f = 0; f < words; ++f)
      for (uint64_t bits = acc[size_t(f)]; bits != 0; bits &= bits - 1) vars.push_back(f * 64 + __builtin_ctzll(bits));
    return uint8_t(sign);
  }

  PackedTableau t_;
  int64_t n_, half_;
  int64_t stride_ = 1;
  int64_t variables_ = 0;
  std::vector<uint64_t> forms_;
  std::vector<uint64_t> scratch_a_, scratch_b_, scratch_c_;
};

}  // namespace

MeasurementProgram compile_measurements(std::span<const int64_t> instructions, int64_t n) {
  MeasurementProgram prog;
  const int64_t count = instruction_count(instructions);
  for (int64_t i = 0; i < count; ++i) prog.num_measurements += instructions[size_t(3 * i)] == instr_measure;
  const int64_t m = prog.num_measurements;
  prog.constant.assign(size_t(m), 0);
  if (n == 0) {  // no qubit: every gate is no operation and every outcome 0
    prog.form_start.assign(size_t(m + 1), 0);
    return prog;
  }
  SymbolicTableau sym(n);
  prog.form_start.push_back(0);
  int64_t k = 0;
  InterruptionTicker ticker(uint64_t(1) << 16);
  for (int64_t i = 0; i < count; ++i) {
    ticker.tick(uint64_t(n));
    const int64_t code = instructions[size_t(3 * i)], a = instructions[size_t(3 * i + 1)],
                  b = instructions[size_t(3 * i + 2)];
    check_instruction(code, a, b, n, true);
    if (code == instr_measure) {
      const int64_t before = sym.variables();
      prog.constant[size_t(k)] = sym.measure(a, prog.form_vars);
      if (sym.variables() > before) prog.random_position.push_back(k);
      prog.form_start.push_back(int64_t(prog.form_vars.size()));
      ++k;
    } else {
      sym.tableau().apply(code, a, b);
    }
  }
  prog.num_random = sym.variables();
  return prog;
}

}  // namespace nimbic::stabilizer
