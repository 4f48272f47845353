// The stabilizer tableau bit-packed and qubit-major. For each qubit, the x
// bits of all generator rows form one bit column of `words()` 64-bit words,
// and so do the z bits; the signs form one more column. Destabilizer row i
// sits at bit i and stabilizer row n+i at bit 64*half_words() + i, so
// destabilizer i and its stabilizer share a bit position within their halves.
// The scratch row is not held. Every gate is a few word operations per
// column and updates the rows exactly as the plain tableau does.
//
// A PackedTableau is a view over storage its owner provides (a vector for
// whole-circuit runs, an object's own buffers for NativeTableau).
#pragma once

#include <cstdint>
#include <vector>

namespace nimbic::stabilizer {

class PackedTableau {
 public:
  // Words of one half of a bit column for n qubits.
  static int64_t half_words_for(int64_t n) { return (n + 63) / 64; }
  // Words of the x and z columns of n qubits (the signs take one column).
  static int64_t column_words_for(int64_t n) { return 2 * n * 2 * half_words_for(n); }

  // A view of n >= 0 qubits over `columns` (column_words_for(n) words: the x
  // columns of qubits 0..n-1, then their z columns) and `signs` (2 *
  // half_words_for(n) words). The storage is not initialised here.
  PackedTableau(int64_t num_qubits, uint64_t* columns, uint64_t* signs);

  int64_t num_qubits() const { return n_; }
  int64_t half_words() const { return half_; }
  int64_t words() const { return 2 * half_; }
  uint64_t* x(int64_t q) { return columns_ + q * words(); }
  uint64_t* z(int64_t q) { return columns_ + (n_ + q) * words(); }
  uint64_t* r() { return signs_; }
  const uint64_t* x(int64_t q) const { return columns_ + q * words(); }
  const uint64_t* z(int64_t q) const { return columns_ + (n_ + q) * words(); }
  const uint64_t* r() const { return signs_; }

  // Bit position of generator row `row` (0 <= row < 2n).
  int64_t position(int64_t row) const { return row < n_ ? row : 64 * half_ + (row - n_); }

  // |0...0>: destabilizer i is +X_i, stabilizer i is +Z_i.
  void set_zero_state();

  // One instruction with valid operands (0 <= a, b < n, a != b for two-qubit
  // codes); codes outside 0..8 do nothing.
  void apply(int64_t code, int64_t a, int64_t b);

  // Asks the memory system for the x and z columns of qubit q.
  void prefetch(int64_t q) const {
    for (int64_t w = 0; w < words(); w += 8) {
      __builtin_prefetch(x(q) + w, 1);
      __builtin_prefetch(z(q) + w, 1);
    }
  }

  // The first stabilizer (0..n-1, counted within the stabilizers) with an X
  // on qubit a, or -1 when there is none.
  int64_t stabilizer_with_x(int64_t a) const;

  // The random-outcome update of measuring qubit a, whose first stabilizer
  // with an X on a is `pivot`: every other row with an X on a is multiplied
  // by the pivot row (the sign rule of a row product: the phase exponent
  // modulo 4, nonzero gives sign 1), the pivot row moves to destabilizer
  // `pivot` and becomes Z_a with sign `outcome`. `scratch` holds 3 *
  // words() words. Writes to `touched` (room for n) the qubits on which the
  // pivot row or the destabilizer it replaces acts, and returns their count.
  int64_t measure_random(int64_t a, int64_t pivot, uint64_t outcome, uint64_t* scratch, int64_t* touched);

  // The flattened tableau, (2n+1)^2 bytes of 0/1, rows of x bits, z bits and
  // the sign; the scratch row (the last) is left as `out` holds it.
  void write_flat(uint8_t* out) const;

  // Rows 0..2n-1 into the plain layout: x and z row-major with row stride n,
  // one sign per row.
  void write_plain(int64_t* x, int64_t* z, int64_t* r) const;

 private:
  void hadamard(int64_t a);
  void phase(int64_t a);
  void phase_dagger(int64_t a);
  void flip_signs(const uint64_t* bits);
  void flip_signs_y(int64_t a);
  void cnot(int64_t a, int64_t b);
  void cz(int64_t a, int64_t b);
  void swap(int64_t a, int64_t b);
  template <class Sink>
  void for_each_row_chunk(int64_t first_column, Sink&& sink) const;

  int64_t n_ = 0;
  int64_t half_ = 0;
  uint64_t* columns_ = nullptr;
  uint64_t* signs_ = nullptr;
};

// A packed tableau with storage of its own.
class OwnedPackedTableau {
 public:
  explicit OwnedPackedTableau(int64_t num_qubits);
  PackedTableau& operator*() { return view_; }
  PackedTableau* operator->() { return &view_; }

 private:
  std::vector<uint64_t> columns_, signs_;
  PackedTableau view_;
};

// Raises MemoryError when the tableau of n qubits in the plain layout (two
// arrays of n*(2n+1) 64-bit entries and one of 2n+1) does not fit in memory.
void check_tableau_size(int64_t num_qubits);

}  // namespace nimbic::stabilizer
