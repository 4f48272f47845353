// Flat complex matrices: d-by-d, row-major, interleaved (entry (r, c) at
// floats 2(r*d + c) and 2(r*d + c) + 1). Every routine returns a new array and
// leaves its inputs alone; a Python-facing dimension below 1 gives an empty
// result, and the two tests answer 1 for it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::linalg {

// 2*d*d floats with 1.0 on the diagonal (no ones for d <= 0).
std::vector<double> complex_identity(int64_t dim);

// Conjugate transpose; the imaginary part is negated by flipping its sign
// bit, so a zero imaginary part becomes -0.0.
std::vector<double> dagger(std::span<const double> a, int64_t dim);
// Kronecker product; a's index is the more significant one.
std::vector<double> kron(std::span<const double> a, int64_t a_dim, std::span<const double> b, int64_t b_dim);
// a*b, skipping every entry of a that is exactly 0 + 0i (NaN is not skipped).
std::vector<double> matmul(std::span<const double> a, std::span<const double> b, int64_t dim);
std::vector<double> matvec(std::span<const double> matrix, std::span<const double> vector, int64_t dim);
// Float by float: b(t) * scale + a(t).
std::vector<double> add_scaled(std::span<const double> a, std::span<const double> b, int64_t dim, double scale);

// 1 when no entry differs from the identity by more than atol (real part
// tested first), else 0; NaN differences never fail. Stops at the first
// failing entry without reading further.
int64_t is_identity_matrix(std::span<const double> matrix, int64_t dim, double atol);
// 1 when |a(t) - b(t)| <= atol (or NaN) for every float t, else 0.
int64_t matrix_allclose(std::span<const double> a, std::span<const double> b, int64_t dim, double atol);

}  // namespace nimbic::linalg
