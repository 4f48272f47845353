// Real symmetric eigen-decomposition by cyclic Jacobi rotations, and the
// simultaneous diagonalisation of two commuting real symmetric matrices.
// These matrices are real and row-major (n*n floats), not interleaved.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::linalg {

// n eigenvalues (the final diagonal, unsorted) followed by the n-by-n
// orthogonal Q whose column k is the eigenvector of eigenvalue k. Empty for
// n < 1.
std::vector<double> jacobi_eig(std::span<const double> matrix, int64_t n);

// One orthogonal Q that diagonalises both A (real) and B (imag): n pairs
// (v_k^T A v_k, v_k^T B v_k), then Q row-major.
std::vector<double> simultaneous_diag(std::span<const double> real, std::span<const double> imag, int64_t n);

}  // namespace nimbic::linalg
