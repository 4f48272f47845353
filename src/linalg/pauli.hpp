// Pauli operators as dense matrices, and the expansion of a 2^n-by-2^n
// complex matrix over the 4^n Pauli strings.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "common/memory.hpp"

namespace nimbic::linalg {

struct Complex {
  double re = 0.0;
  double im = 0.0;
};

// Entry (row b, column a) of the single-qubit Pauli of `type` (0 = I, 1 = X,
// 2 = Y, anything else = Z); 0 for every other combination.
Complex pauli_entry(int64_t type, int64_t a, int64_t b);

// Coefficients c_j = tr(P_j M) / 2^n of M over the Pauli strings P_j, so that
// sum_j c_j P_j == M. String j has the type of the qubit on basis bit w in
// base-4 digit w (qubit 0 is the most significant digit). 2*4^n floats; empty
// for n < 0 or n >= 32.
std::vector<double> pauli_expansion(std::span<const double> matrix, int64_t num_qubits);

// Bytes pauli_expansion takes for a matrix of `matrix_length` floats: the
// converted matrix, its work arrays, the coefficients and the list of floats
// they become; 0 where it returns early or raises for the length first.
Count pauli_expansion_bytes(int64_t matrix_length, int64_t num_qubits);

}  // namespace nimbic::linalg
