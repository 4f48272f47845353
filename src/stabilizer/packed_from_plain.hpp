// The packed form of a tableau given in the plain layout: the tableau packed
// qubit-major (PackedTableau) and its inverse with signs (InverseTableau).
//
// Only a true tableau has an inverse: every entry 0 or 1, and rows with the
// commutation relations of destabilizers and stabilizers (destabilizer i
// anticommutes with stabilizer i and with no other row; every other pair
// commutes). A plain layout may hold any bits (restored from a pickle, or
// left by a reassigned count), and the packed form follows the plain rules
// bit for bit only on a true tableau, so for any other nothing is built.
//
// The inverse rows need no elimination: for a tableau of the Clifford C,
// C^dag X_q C has, over the generators, x bits (the z bits of the stabilizers
// on q) and z bits (the z bits of the destabilizers on q), and C^dag Z_q C
// the same with the x bits. Mapping each such row back through the tableau
// gives +-X_q or +-Z_q exactly when the rows form a tableau, which checks it,
// and its phase gives the row's sign.
#pragma once

#include "stabilizer/inverse_tableau.hpp"
#include "stabilizer/packed_tableau.hpp"
#include "stabilizer/tableau.hpp"

namespace nimbic::stabilizer {

// When rows 0..2n-1 of `plain` (n = plain.num_qubits >= 0, its arrays
// holding them) form a tableau, writes its packed form into `tableau` and
// the inverse into `inverse` (both views of n qubits) and returns true.
// Otherwise, or when the working memory (about n*n bytes) cannot be had,
// returns false and writes nothing. The packed storage may overlap the
// plain arrays: every row is read before the first write. The scratch row is
// not read. The rows of the inverse are computed on all cores the split
// policy allows; the result does not depend on their number.
bool pack_plain_tableau(Tableau plain, PackedTableau& tableau, InverseTableau& inverse);

}  // namespace nimbic::stabilizer
