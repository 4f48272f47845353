// Direct solvers with partial pivoting: determinant and inverse of a complex
// matrix of order n (interleaved, row-major), and a real 3-by-3 solve.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::linalg {

// Pivots whose modulus is below this count as singular.
inline constexpr double kPivotThreshold = 1e-14;

// [re, im] of det(matrix); [1, 0] for n < 1, [0, 0] once a pivot is below the
// threshold.
std::vector<double> matrix_det(std::span<const double> matrix, int64_t n);
// The inverse by Gauss-Jordan elimination, or an empty array when a pivot is
// below the threshold; for n < 1 what complex_identity(n) gives.
std::vector<double> matrix_inverse(std::span<const double> matrix, int64_t n);
// x with matrix * x = rhs for a real 3-by-3 system; no singularity test.
std::vector<double> solve3(std::span<const double> matrix, std::span<const double> rhs);

}  // namespace nimbic::linalg
