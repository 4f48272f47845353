// The diagonal kernel's row-order pass: entry (r, c) is multiplied by
// F[h(r)][h(c)], h the local pattern of the targets, walking the matrix in
// memory order. A row is cut into segments of S = 2^min(n, 4) columns; in a
// segment the factors depend on the target bits below S, and the segment's
// higher target bits pick one of the precomputed factor segments. Each
// factor is stored twice, [fr, fr] and [fi, fi], as the AVX2 product wants.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::density {

struct RowFactors {
  int64_t num_qubits = 0;
  uint64_t d = 0;
  uint64_t segment = 0;                   // S
  std::vector<uint64_t> row_pattern;      // h(r) for every row
  std::vector<uint64_t> segment_pattern;  // h of every segment's first column
  // For row pattern i and segment pattern H: S real parts, each twice, then
  // S imaginary parts, each twice; block (i*d + H) of 4S floats.
  std::vector<double> table;
};

// The tables for factors F (d x d, interleaved) on these targets; d x d x 4S
// floats, so meant for moderate d.
RowFactors row_factors(std::span<const double> factors, std::span<const int64_t> targets, int64_t num_qubits);

// Every product is (xr*fr - xi*fi, xr*fi + xi*fr); both paths give the same
// bits and split the rows over threads. The AVX2 path returns false, having
// done nothing, without AVX2.
void scale_rows(double* rho, const RowFactors& f);
void scale_rows_scalar(double* rho, const RowFactors& f);
bool scale_rows_avx2(double* rho, const RowFactors& f);

}  // namespace nimbic::density
