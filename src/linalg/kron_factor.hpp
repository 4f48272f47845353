// Splitting a two-qubit operator into a global factor and two single-qubit
// factors of determinant 1: M = g * (A (x) B).
#pragma once

#include <span>
#include <vector>

namespace nimbic::linalg {

// The 2-by-2 matrix (8 floats) divided by the principal square root of its
// determinant; an unchanged copy when |det| < 1e-14.
std::vector<double> normalize_det2(std::span<const double> m);

// [g.re, g.im, A (8 floats), B (8 floats)] with g.re >= 0, read around the
// entry of largest modulus. Nothing checks that M is a product.
std::vector<double> kron_factor(std::span<const double> matrix);

}  // namespace nimbic::linalg
