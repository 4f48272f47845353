// The stabilizer tableau of n qubits in its plain layout: 2n+1 rows
// (destabilizers 0..n-1, stabilizers n..2n-1, the scratch row 2n), one bit
// per 64-bit entry, x and z row-major with row stride n, one sign per row.
// A Tableau is a view: copies share the three arrays.
#pragma once

#include <cstdint>
#include <span>

namespace nimbic::stabilizer {

// Instruction codes of a Clifford instruction stream (triples code, a, b).
enum InstrCode : int64_t {
  instr_h = 0,
  instr_s = 1,
  instr_sdg = 2,
  instr_x = 3,
  instr_y = 4,
  instr_z = 5,
  instr_cnot = 6,
  instr_cz = 7,
  instr_swap = 8,
  instr_measure = 9,
};

inline bool is_gate(int64_t code) { return code >= instr_h && code <= instr_swap; }
inline bool is_two_qubit(int64_t code) { return code >= instr_cnot && code <= instr_swap; }

struct Tableau {
  int64_t num_qubits = 0;
  std::span<int64_t> x;
  std::span<int64_t> z;
  std::span<int64_t> r;
};

// Phase exponent (a power of i, in {-1, 0, 1}) picked up when the Pauli
// P(x1, z1) multiplies P(x2, z2).
inline int64_t pauli_phase(int64_t x1, int64_t z1, int64_t x2, int64_t z2) {
  if (x1 == 0 && z1 == 0) return 0;
  if (x1 == 1 && z1 == 1) return z2 - x2;
  if (x1 == 1 && z1 == 0) return z2 * (2 * x2 - 1);
  return x2 * (1 - 2 * z2);
}

// The update rules on a view whose arrays are known to hold every entry the
// call reads or writes (unchecked loops).
void apply_unchecked(Tableau t, int64_t code, int64_t a, int64_t b);
int64_t measure_unchecked(Tableau t, int64_t a, double u);
void reset_unchecked(Tableau t);
// (2n+1)^2 entries into `out`: each row its x bits, its z bits, its sign.
void to_flat_unchecked(Tableau t, std::span<uint8_t> out);

// The same rules with every access bounds-checked: the first access outside
// an array raises its index error ("array.get" / "array.set") before any
// entry is written, and then nothing changes. Otherwise the update is made.
void apply_checked(Tableau t, int64_t code, int64_t a, int64_t b);
int64_t measure_checked(Tableau t, int64_t a, double u);
void reset_checked(Tableau t);
// Raises the index error that flattening would meet first, reading only.
void probe_to_flat(Tableau t);

// The methods of an object whose buffers hold this layout, read with the
// count t.num_qubits: qubit operands are checked first (out of range,
// duplicates; a negative one keeps the index error of the first access it
// reaches), then the unchecked rules run when the buffers hold every entry,
// the checked ones otherwise.
void reset_plain(Tableau t);
void apply_plain(Tableau t, int64_t code, int64_t a, int64_t b);
int64_t measure_plain(Tableau t, int64_t a, double u);

// True when the arrays hold at least n*(2n+1), n*(2n+1) and 2n+1 entries.
bool holds_rows(const Tableau& t);

// Entries of the flattened tableau, (2n+1)^2, for any count (negative ones
// included). Raises MemoryError when such an array of 64-bit integers could
// not exist on this platform.
int64_t flat_entries(int64_t num_qubits);

}  // namespace nimbic::stabilizer
