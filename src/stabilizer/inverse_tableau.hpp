// The inverse of a stabilizer tableau, bit-packed and row-major. The tableau
// of the state C|0...0> holds C X_i C^dag (destabilizer i) and C Z_i C^dag
// (stabilizer i); its inverse holds, for every qubit q, the Pauli strings
// C^dag X_q C and C^dag Z_q C over the generator indices, with their signs.
// Measuring qubit a is determined exactly when C^dag Z_a C has no X part,
// and the outcome is then its sign, so a determined measurement costs one
// row. A gate U changes C into U C: each changed row is the product of one
// or two rows of the inverse (C^dag U^dag P U C), in time proportional to n.
//
// Row X_q is row q, row Z_q row n+q; each row is half_words() words of x
// bits followed by as many of z bits, and the signs are one bit per row.
// Like PackedTableau it is a view over storage its owner provides.
//
// The signs may also carry forms: when a SignForms is attached, a sign is
// its bit XOR the variables of the row's form, and a random measurement
// introduces a new variable (its outcome) instead of a known bit.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::stabilizer {

// For each row of an inverse tableau, a set of variables (a bit set).
class SignForms {
 public:
  explicit SignForms(int64_t rows);
  int64_t variables() const { return variables_; }
  int64_t stride() const { return stride_; }
  const uint64_t* form(int64_t row) const { return data_.data() + row * stride_; }
  uint64_t* form(int64_t row) { return data_.data() + row * stride_; }
  // A new variable, held by no row yet.
  int64_t new_variable();
  void absorb(int64_t dst, int64_t src);
  void swap(int64_t a, int64_t b);
  // The spare row past the last one, used to keep a copy of a form.
  int64_t spare() const { return rows_; }

 private:
  int64_t rows_ = 0;
  int64_t stride_ = 1;
  int64_t variables_ = 0;
  std::vector<uint64_t> data_;  // rows_ + 1 forms
};

class InverseTableau {
 public:
  static int64_t half_words_for(int64_t n) { return (n + 63) / 64; }
  // Words of the rows and of the signs of n qubits.
  static int64_t row_storage_for(int64_t n) { return 2 * n * 2 * half_words_for(n); }
  static int64_t sign_storage_for(int64_t n) { return (2 * n + 63) / 64; }
  // Words of scratch a random measurement needs.
  static int64_t measure_scratch_for(int64_t n) { return 3 * half_words_for(n); }

  // A view of n >= 0 qubits over `rows` and `signs`, which are not
  // initialised here. `forms`, when given, has 2n rows.
  InverseTableau(int64_t num_qubits, uint64_t* rows, uint64_t* signs, SignForms* forms = nullptr);

  int64_t num_qubits() const { return n_; }
  int64_t half_words() const { return half_; }
  uint64_t* row(int64_t i) { return rows_ + i * 2 * half_; }
  const uint64_t* row(int64_t i) const { return rows_ + i * 2 * half_; }
  uint64_t sign(int64_t i) const { return (signs_[i / 64] >> (i % 64)) & 1; }

  // Asks the memory system for the rows X_q and Z_q.
  void prefetch(int64_t q) const {
    for (int64_t w = 0; w < 2 * half_; w += 8) {
      __builtin_prefetch(row(q) + w, 1);
      __builtin_prefetch(row(n_ + q) + w, 1);
    }
  }

  // The inverse of the identity: row X_q is +X_q, row Z_q is +Z_q.
  void set_identity();

  // One instruction with valid operands (as PackedTableau::apply).
  void apply(int64_t code, int64_t a, int64_t b);

  // For measuring qubit a: the first generator index in the X part of row
  // Z_a, or -1 when the outcome is determined (it is then sign(n + a),
  // XOR the variables of the row's form).
  int64_t random_pivot(int64_t a) const;

  // The update of a random measurement of qubit a with that pivot: the
  // inverse of the tableau after PackedTableau::measure_random(a, pivot,
  // outcome). With forms, `outcome` is 0 and a new variable stands for it.
  // `scratch` holds measure_scratch_for(n) words.
  void measure_random(int64_t a, int64_t pivot, uint64_t outcome, uint64_t* scratch);
  // The same when the caller knows the qubits on which the pivot stabilizer
  // or its destabilizer acts (PackedTableau::measure_random lists them):
  // only the rows X_q and Z_q of those qubits change.
  void measure_random(int64_t a, int64_t pivot, uint64_t outcome, uint64_t* scratch, std::span<const int64_t> qubits);

 private:
  void flip(int64_t i) { signs_[i / 64] ^= uint64_t(1) << (i % 64); }
  // Row dst becomes i^extra times row dst times row src.
  void multiply(int64_t dst, int64_t src, unsigned extra);
  void swap_rows(int64_t a, int64_t b);
  template <class Rows>
  void measure_rows(int64_t a, int64_t pivot, uint64_t outcome, uint64_t* scratch, Rows&& rows);

  int64_t n_ = 0;
  int64_t half_ = 0;
  uint64_t* rows_ = nullptr;
  uint64_t* signs_ = nullptr;
  SignForms* forms_ = nullptr;
};

}  // namespace nimbic::stabilizer
