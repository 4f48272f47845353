// A channel on d x d blocks as one linear map: vec(A) = S vec(B) with
// S[(a,b),(c,e)] = sum_k K_k[a][c] conj(K_k[b][e]), (a,b) read as a*d + b.
// Applying S costs one complex product per non-zero entry of S, whatever the
// number of operators; common channels (damping, dephasing, depolarizing)
// have only a few non-zero entries per row. Skipping the exact zeros of S,
// and the imaginary parts of a real S, gives the same bits as the full
// complex sum for finite matrix entries: a zero term never changes a sum
// that starts from +0.0.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::density {

// The rows of a square complex matrix without its exactly-zero entries.
struct SparseMap {
  int64_t size = 0;                // D
  std::vector<int64_t> row_start;  // D + 1 entries into the arrays below
  std::vector<int64_t> column;
  std::vector<double> re, im;
  bool real = true;  // every kept entry has im == 0.0
};

// From m operators of d x d split into real and imaginary parts (entry
// (k, i, j) at k*d^2 + i*d + j). Each entry of S sums its m products from
// 0.0 in operator order.
SparseMap build_superoperator(int64_t num_operators, int64_t dim, std::span<const double> re,
                              std::span<const double> im);

}  // namespace nimbic::density
