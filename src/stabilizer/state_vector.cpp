#include "stabilizer/state_vector.hpp"

#include <cmath>
#include <utility>

#include "common/interrupt.hpp"
#include "common/memory.hpp"
#include "common/panic.hpp"
#include "common/pauli_type.hpp"
#include "common/split_work_interruptible.hpp"
#include "stabilizer/state_vector_rows.hpp"

namespace nimbic::stabilizer {

namespace {

// Beyond this many qubits no state vector (2^(n+4) bytes) can exist.
constexpr int64_t kMaxQubits = 56;

// The reference construction reads stabilizer row k (from float b = k(2n+1))
// as x_j at b + j and z_j at b + n + j for j = 0..n-1, then the sign at
// b + 2n. Raises the index error of its first read past the end.
void check_tableau_length(size_t length, int64_t n) {
  const Count len = Count(length);
  const Count width = Count(2) * n + 1;
  if (len >= Count(2) * n * width) return;
  Count row = len / width;  // the first row not wholly present...
  if (row < n) row = n;     // ...among the stabilizer rows, the only ones read
  const Count base = row * width;
  const Count index = len <= base ? base : len <= base + n ? base + n : len;
  panic_get(int64_t(index), int64_t(length));
}

// Stabilizer rows as Pauli strings (entry pairs other than (1, 0), (0, 1) and
// (1, 1) denote I); a sign entry of 1 is -1, any other +1.
std::vector<PauliString> read_rows(std::span<const int64_t> tableau, int n) {
  std::vector<PauliString> rows(static_cast<size_t>(n));
  const size_t width = size_t(2 * n + 1);
  for (int k = 0; k < n; ++k) {
    const int64_t* row = &tableau[size_t(n + k) * width];
    PauliString& p = rows[size_t(k)];
    for (int j = 0; j < n; ++j) {
      const int type = pauli_type(row[j], row[n + j]);
      const uint64_t bit = uint64_t(1) << (n - 1 - j);
      if (type == 1 || type == 2) p.x |= bit;
      if (type == 2 || type == 3) p.z |= bit;
    }
    p.phase = (2 * unsigned(row[2 * n] == 1) + unsigned(__builtin_popcountll(p.x & p.z))) & 3;
  }
  return rows;
}

bool pairwise_commuting(const std::vector<PauliString>& rows) {
  for (size_t a = 0; a < rows.size(); ++a)
    for (size_t b = a + 1; b < rows.size(); ++b)
      if (parity((rows[a].x & rows[b].z) ^ (rows[a].z & rows[b].x))) return false;
  return true;
}

// Generators of a stabilizer group in reduced form, from Gauss-Jordan
// elimination by group products (phases kept). The first `rank_x` strings
// have independent x parts, each leading x bit set in no other string; the
// others have x = 0 and z parts reduced the same way, with pivot bits
// `z_pivots`.
struct ReducedGroup {
  std::vector<PauliString> gens;
  size_t rank_x = 0;
  std::vector<int> z_pivots;
};

// Requires commuting rows; false when they are dependent.
bool reduce(std::vector<PauliString> gens, int n, ReducedGroup& out) {
  size_t next = 0;
  for (int bit = n - 1; bit >= 0; --bit) eliminate(gens, next, &PauliString::x, 0, bit);
  out.rank_x = next;
  for (int bit = n - 1; bit >= 0; --bit)
    if (eliminate(gens, next, &PauliString::z, out.rank_x, bit)) out.z_pivots.push_back(bit);
  if (next != gens.size()) return false;
  out.gens = std::move(gens);
  return true;
}

inline int leading_bit(uint64_t v) { return 63 - __builtin_clzll(v); }

// The state of n independent commuting generators. Its support is the affine
// space c + span(x parts of the x-type generators), c solving the constraints
// of the Z-type ones; on it the amplitudes share one magnitude and their
// phases follow psi[p ^ x] = i^phase (-1)^|z & p| psi[p] for each generator.
// Column c_min (the lowest support index) of 2^n |psi><psi| is 2^(n-k) times
// those phases relative to c_min, with squared norm 2^(2n-k) for k = rank_x.
std::vector<double> stabilizer_state(const ReducedGroup& g, int n) {
  const size_t k = g.rank_x;
  uint64_t c = 0;
  for (size_t i = 0; i < g.z_pivots.size(); ++i)
    if (g.gens[k + i].phase == 2) c |= uint64_t(1) << g.z_pivots[i];
  for (size_t i = 0; i < k; ++i)  // leading bits descend: lowest point of c + span
    if (c >> leading_bit(g.gens[i].x) & 1) c ^= g.gens[i].x;

  // Support point t (t < 2^k) is c ^ (x_j for each bit j of t), taking the
  // x-type generators by ascending leading bit: the points then ascend with
  // t, and every point's leading bits spell t.
  std::vector<const PauliString*> x_gens(k);
  for (size_t j = 0; j < k; ++j) x_gens[j] = &g.gens[k - 1 - j];
  // Phases by doubling: point t + 2^j comes from point t by generator j, and
  // |z_j & point(t)| mod 2 is linear in t: parity(z_j & c) ^ parity(mask_j & t).
  std::vector<uint8_t> phase(size_t(1) << k);
  phase[0] = 0;
  for (size_t j = 0; j < k; ++j) {
    interruption_point();
    const PauliString& s = *x_gens[j];
    uint64_t mask = 0;
    for (size_t i = 0; i < j; ++i) mask |= uint64_t(parity(s.z & x_gens[i]->x)) << i;
    const unsigned base = s.phase + 2 * unsigned(parity(s.z & c));
    const uint64_t half = uint64_t(1) << j;
    split_work_interruptible(half, 1, 16, [&](unsigned, uint64_t begin, uint64_t end) {
      for (uint64_t t = begin; t < end; ++t)
        phase[half + t] = uint8_t((phase[t] + base + 2 * unsigned(parity(mask & t))) & 3);
    });
  }

  const double norm2 = std::ldexp(1.0, 2 * n - int(k));
  const double scale = 1.0 / std::sqrt(norm2);
  const double v = std::ldexp(1.0, n - int(k)) * scale;  // entry 2^(n-k) times 1/sqrt(norm2)
  const double re_of[4] = {v, 0.0, -v, 0.0};
  const double im_of[4] = {0.0, v, 0.0, -v};
  // Going from point t - 1 to point t flips generators 0..ctz(t).
  std::vector<uint64_t> flips(k + 1, 0);
  for (size_t j = 0; j < k; ++j) flips[j] = (j ? flips[j - 1] : 0) ^ x_gens[j]->x;
  std::vector<double> out = zeroed<double>(size_t(2) << n);
  double* o = out.data();
  // Every t writes its own point, so the points may be filled in parts.
  split_work_interruptible(phase.size(), 2, 16, [&](unsigned, uint64_t begin, uint64_t end) {
    uint64_t point = c;
    for (size_t j = 0; j < k; ++j)
      if (begin >> j & 1) point ^= x_gens[j]->x;
    for (uint64_t t = begin; t < end; ++t) {
      if (t != begin) point ^= flips[size_t(__builtin_ctzll(t))];
      o[2 * point] = re_of[phase[t]];
      o[2 * point + 1] = im_of[phase[t]];
    }
  });
  return out;
}

}  // namespace

std::vector<double> clifford_state_vector(std::span<const int64_t> tableau, int64_t num_qubits) {
  if (num_qubits < 0) return {};
  if (num_qubits == 0) return {1.0, 0.0};
  // A tableau row index beyond 64 bits: no such tableau or matrix can exist.
  if (num_qubits > (int64_t(1) << 30)) panic_out_of_memory();
  check_tableau_length(tableau.size(), num_qubits);
  if (num_qubits > kMaxQubits) panic_out_of_memory();
  const int n = int(num_qubits);
  check_result(Count(2) << n);

  std::vector<PauliString> rows = read_rows(tableau, n);
  ReducedGroup group;
  if (pairwise_commuting(rows) && reduce(rows, n, group)) return stabilizer_state(group, n);
  return state_vector_by_expansion(rows, n);
}

}  // namespace nimbic::stabilizer
