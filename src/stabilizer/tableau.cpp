#include "stabilizer/tableau.hpp"

#include <algorithm>

#include "common/panic.hpp"

namespace nimbic::stabilizer {

namespace {

int64_t add_sat(int64_t a, int64_t b) {
  int64_t s;
  if (__builtin_add_overflow(a, b, &s)) return b > 0 ? INT64_MAX : INT64_MIN;
  return s;
}

int64_t mul_sat(int64_t a, int64_t b) {
  int64_t p;
  if (__builtin_mul_overflow(a, b, &p)) return ((a < 0) != (b < 0)) ? INT64_MIN : INT64_MAX;
  return p;
}

// Plain access: the caller has made sure every index is inside its array.
struct Direct {
  static constexpr bool kWrites = true;
  static int64_t index(int64_t row, int64_t n, int64_t col) { return row * n + col; }
  static int64_t plus(int64_t a, int64_t b) { return a + b; }
  static int64_t twice(int64_t n) { return 2 * n; }
  static void clear(std::span<int64_t> a) { std::fill(a.begin(), a.end(), 0); }
  static int64_t get(std::span<int64_t> a, int64_t i) { return a[size_t(i)]; }
  static void set(std::span<int64_t> a, int64_t i, int64_t v) { a[size_t(i)] = v; }
};

// A dry run: every access is bounds-checked and raises the index error, and
// nothing is written. The sequence of accesses of every rule depends only on
// entries that the rule has not yet written (a row's selecting bit is read
// before that row changes), so the dry run meets the same first failing
// access as the real run would.
struct Probe {
  static constexpr bool kWrites = false;
  static int64_t index(int64_t row, int64_t n, int64_t col) { return add_sat(mul_sat(row, n), col); }
  static int64_t plus(int64_t a, int64_t b) { return add_sat(a, b); }
  static int64_t twice(int64_t n) { return mul_sat(2, n); }
  static void clear(std::span<int64_t>) {}
  static int64_t get(std::span<int64_t> a, int64_t i) {
    if (i < 0 || i >= int64_t(a.size())) panic_get(i, int64_t(a.size()));
    return a[size_t(i)];
  }
  static void set(std::span<int64_t> a, int64_t i, int64_t) {
    if (i < 0 || i >= int64_t(a.size())) panic_set(i, int64_t(a.size()));
  }
};

// The update rules, written once for both kinds of access. Within a row the
// reads come first, in the order the rule names them, then the writes.
template <class A>
struct Rules {
  Tableau t;

  int64_t n() const { return t.num_qubits; }
  int64_t rows() const { return A::twice(t.num_qubits); }
  int64_t at(int64_t row, int64_t col) const { return A::index(row, t.num_qubits, col); }

  void hadamard(int64_t a) {
    for (int64_t i = 0; i < rows(); ++i) {
      const int64_t k = at(i, a);
      const int64_t xa = A::get(t.x, k), za = A::get(t.z, k), ri = A::get(t.r, i);
      A::set(t.r, i, ri ^ (xa & za));
      A::set(t.x, k, za);
      A::set(t.z, k, xa);
    }
  }

  void phase(int64_t a) {
    for (int64_t i = 0; i < rows(); ++i) {
      const int64_t k = at(i, a);
      const int64_t xa = A::get(t.x, k), za = A::get(t.z, k), ri = A::get(t.r, i);
      A::set(t.r, i, ri ^ (xa & za));
      A::set(t.z, k, za ^ xa);
    }
  }

  // Pauli X flips the sign of rows with a Z component on a, Pauli Z of rows
  // with an X component.
  void flip_sign_by(std::span<int64_t> bits, int64_t a) {
    for (int64_t i = 0; i < rows(); ++i) {
      const int64_t v = A::get(bits, at(i, a)), ri = A::get(t.r, i);
      A::set(t.r, i, ri ^ v);
    }
  }

  void cnot(int64_t a, int64_t b) {
    for (int64_t i = 0; i < rows(); ++i) {
      const int64_t ka = at(i, a), kb = at(i, b);
      const int64_t xa = A::get(t.x, ka), zb = A::get(t.z, kb), xb = A::get(t.x, kb), za = A::get(t.z, ka);
      const int64_t ri = A::get(t.r, i);
      A::set(t.r, i, ri ^ (xa & zb & (xb ^ za ^ 1)));
      A::set(t.x, kb, xb ^ xa);
      A::set(t.z, ka, za ^ zb);
    }
  }

  void apply(int64_t code, int64_t a, int64_t b) {
    switch (code) {
      case instr_h:
        hadamard(a);
        break;
      case instr_s:
        phase(a);
        break;
      case instr_sdg:
        phase(a);
        phase(a);
        phase(a);
        break;
      case instr_x:
        flip_sign_by(t.z, a);
        break;
      case instr_y:
        flip_sign_by(t.z, a);
        flip_sign_by(t.x, a);
        break;
      case instr_z:
        flip_sign_by(t.x, a);
        break;
      case instr_cnot:
        cnot(a, b);
        break;
      case instr_cz:
        hadamard(b);
        cnot(a, b);
        hadamard(b);
        break;
      case instr_swap:
        cnot(a, b);
        cnot(b, a);
        cnot(a, b);
        break;
      default:
        break;
    }
  }

  // Row h becomes row h times row i; its sign follows the phase exponents
  // accumulated modulo 4 (nonzero gives sign 1).
  void rowsum(int64_t h, int64_t i) {
    const int64_t rh = A::get(t.r, h), ri = A::get(t.r, i);
    int64_t acc = 2 * rh + 2 * ri;
    for (int64_t j = 0; j < n(); ++j) {
      const int64_t ki = at(i, j), kh = at(h, j);
      const int64_t x1 = A::get(t.x, ki), z1 = A::get(t.z, ki);
      const int64_t x2 = A::get(t.x, kh), z2 = A::get(t.z, kh);
      acc += pauli_phase(x1, z1, x2, z2);
    }
    A::set(t.r, h, (acc & 3) != 0 ? 1 : 0);
    for (int64_t j = 0; j < n(); ++j) {
      const int64_t ki = at(i, j), kh = at(h, j);
      A::set(t.x, kh, A::get(t.x, kh) ^ A::get(t.x, ki));
      A::set(t.z, kh, A::get(t.z, kh) ^ A::get(t.z, ki));
    }
  }

  int64_t measure(int64_t a, double u) {
    const int64_t nq = n(), rows2 = rows();
    for (int64_t p = nq; p < rows2; ++p) {
      if (A::get(t.x, at(p, a)) != 1) continue;
      // Random outcome: every other row with an X on a absorbs the pivot.
      for (int64_t k = 0; k < rows2; ++k)
        if (k != p && A::get(t.x, at(k, a)) == 1) rowsum(k, p);
      const int64_t d = p - nq;
      for (int64_t j = 0; j < nq; ++j) {
        A::set(t.x, at(d, j), A::get(t.x, at(p, j)));
        A::set(t.z, at(d, j), A::get(t.z, at(p, j)));
      }
      A::set(t.r, d, A::get(t.r, p));
      for (int64_t j = 0; j < nq; ++j) {
        A::set(t.x, at(p, j), 0);
        A::set(t.z, at(p, j), 0);
      }
      A::set(t.z, at(p, a), 1);
      const int64_t outcome = u < 0.5 ? 0 : 1;  // NaN gives 1
      A::set(t.r, p, outcome);
      return outcome;
    }
    // Determined outcome: the scratch row collects the product of the
    // stabilizers paired with destabilizers that have an X on a.
    const int64_t s = rows2;
    for (int64_t j = 0; j < nq; ++j) {
      A::set(t.x, at(s, j), 0);
      A::set(t.z, at(s, j), 0);
    }
    A::set(t.r, s, 0);
    for (int64_t i = 0; i < nq; ++i)
      if (A::get(t.x, at(i, a)) == 1) rowsum(s, nq + i);
    return A::get(t.r, s);
  }

  void reset() {
    A::clear(t.x);
    A::clear(t.z);
    A::clear(t.r);
    const int64_t nq = n();
    if (nq <= 0) return;  // no diagonal to set (and nq * nq might not fit)
    const int64_t stride = A::plus(nq, 1), z0 = A::index(nq, nq, 0);
    for (int64_t i = 0; i < nq; ++i) {
      A::set(t.x, A::index(i, stride, 0), 1);
      A::set(t.z, A::index(i, stride, z0), 1);
    }
  }

  // Rows 0..2n of width 2n+1 into `out`; the dry run only reads.
  void to_flat(uint8_t* out) {
    const int64_t nq = n(), last = rows();
    for (int64_t i = 0; i <= last; ++i) {
      uint8_t* row = A::kWrites ? out + i * (2 * nq + 1) : nullptr;
      for (int64_t j = 0; j < nq; ++j) {
        const int64_t v = A::get(t.x, at(i, j));
        if constexpr (A::kWrites) row[j] = uint8_t(v);
      }
      for (int64_t j = 0; j < nq; ++j) {
        const int64_t v = A::get(t.z, at(i, j));
        if constexpr (A::kWrites) row[nq + j] = uint8_t(v);
      }
      const int64_t v = A::get(t.r, i);
      if constexpr (A::kWrites) row[2 * nq] = uint8_t(v);
    }
  }
};

}  // namespace

bool holds_rows(const Tableau& t) {
  const int64_t n = t.num_qubits;
  if (n < 0 || n > (int64_t(1) << 30)) return false;
  const int64_t entries = n * (2 * n + 1);
  return int64_t(t.x.size()) >= entries && int64_t(t.z.size()) >= entries && int64_t(t.r.size()) >= 2 * n + 1;
}

int64_t flat_entries(int64_t num_qubits) {
  // Beyond 2^47 bytes of 64-bit entries the array cannot exist on x86-64;
  // counts of 2^40 and more either way are past that before squaring (whose
  // 128 bits would not hold the square of a count near 2^63).
  if (num_qubits > (int64_t(1) << 40) || num_qubits < -(int64_t(1) << 40)) panic_out_of_memory();
  const __int128 width = __int128(num_qubits) * 2 + 1;
  const __int128 entries = width * width;
  if (entries > (__int128(1) << 44)) panic_out_of_memory();
  return int64_t(entries);
}

void apply_unchecked(Tableau t, int64_t code, int64_t a, int64_t b) { Rules<Direct>{t}.apply(code, a, b); }
[[gnu::flatten]] int64_t measure_unchecked(Tableau t, int64_t a, double u) { return Rules<Direct>{t}.measure(a, u); }
void reset_unchecked(Tableau t) { Rules<Direct>{t}.reset(); }
void to_flat_unchecked(Tableau t, std::span<uint8_t> out) { Rules<Direct>{t}.to_flat(out.data()); }

void apply_checked(Tableau t, int64_t code, int64_t a, int64_t b) {
  Rules<Probe>{t}.apply(code, a, b);
  Rules<Direct>{t}.apply(code, a, b);
}

int64_t measure_checked(Tableau t, int64_t a, double u) {
  Rules<Probe>{t}.measure(a, u);
  return Rules<Direct>{t}.measure(a, u);
}

void reset_checked(Tableau t) {
  Rules<Probe>{t}.reset();
  Rules<Direct>{t}.reset();
}

void probe_to_flat(Tableau t) { Rules<Probe>{t}.to_flat(nullptr); }

void reset_plain(Tableau t) {
  if (holds_rows(t))
    reset_unchecked(t);
  else
    reset_checked(t);
}

void apply_plain(Tableau t, int64_t code, int64_t a, int64_t b) {
  const int64_t n = t.num_qubits;
  if (n <= 0 || !is_gate(code)) return;
  // Operands in the order the update first reads them (CZ starts with a
  // Hadamard on its target).
  const int64_t first = code == instr_cz ? b : a, second = code == instr_cz ? a : b;
  bool negative = first < 0;
  if (!negative) {
    if (first >= n) panic_qubit_range(first, n);
    if (is_two_qubit(code)) {
      negative = second < 0;
      if (!negative && second >= n) panic_qubit_range(second, n);
      if (!negative && a == b) panic_qubit_duplicate(a);
    }
  }
  if (!negative && holds_rows(t))
    apply_unchecked(t, code, a, b);
  else
    apply_checked(t, code, a, b);
}

int64_t measure_plain(Tableau t, int64_t a, double u) {
  const int64_t n = t.num_qubits;
  if (n >= 1 && a >= n) panic_qubit_range(a, n);
  if (n >= 1 && a >= 0 && holds_rows(t)) return measure_unchecked(t, a, u);
  return measure_checked(t, a, u);
}

}  // namespace nimbic::stabilizer
