// clifford_run's sampler: the bit-sliced path, split over 1, 2, 3 and 8
// threads, against the per-repetition path, for byte and 64-bit entries; and
// the per-repetition path of the compiled program against the measurement
// procedure run on the plain tableau, draw by draw.
#include <vector>

#include "check.hpp"
#include "stabilizer/measurement_program.hpp"
#include "stabilizer/sampler.hpp"
#include "stabilizer/tableau.hpp"
#include "stabilizer/wyrand.hpp"

using namespace nimbic;
using namespace nimbic::stabilizer;
using namespace nimbic::checks;

namespace {

// Gates on random qubits with measurements mixed in, plus codes that do
// nothing.
std::vector<int64_t> random_circuit(Random& rng, int64_t n, int64_t length) {
  std::vector<int64_t> out;
  for (int64_t i = 0; i < length; ++i) {
    const int64_t pick = int64_t(rng.below(13));
    int64_t code = pick <= 9 ? pick : pick == 10 ? int64_t(instr_measure) : pick == 11 ? 12 : -1;  // 12, -1: nothing
    const int64_t a = int64_t(rng.below(uint64_t(n)));
    int64_t b = int64_t(rng.below(uint64_t(n)));
    if (is_two_qubit(code)) {
      if (n < 2) code = instr_h;
      while (n >= 2 && b == a) b = int64_t(rng.below(uint64_t(n)));
    }
    out.insert(out.end(), {code, a, b});
  }
  return out;
}

// Outcomes (without offsets) of every repetition, measured on a plain
// tableau with the draws of the seeded generator.
std::vector<uint8_t> plain_outcomes(std::span<const int64_t> circuit, int64_t n, int64_t m, uint64_t seeded,
                                    int64_t repetitions) {
  std::vector<uint8_t> out;
  const size_t entries = size_t(n * (2 * n + 1));
  for (int64_t rep = 0; rep < repetitions; ++rep) {
    std::vector<int64_t> x(entries), z(entries), r(size_t(2 * n + 1));
    const Tableau t{n, x, z, r};
    reset_unchecked(t);
    int64_t k = 0;
    for (size_t i = 0; i + 2 < circuit.size(); i += 3) {
      if (circuit[i] != instr_measure) {
        apply_unchecked(t, circuit[i], circuit[i + 1], circuit[i + 2]);
        continue;
      }
      const uint64_t draw = WyRand::mix(seeded + uint64_t(rep * m + k++ + 1) * WyRand::kIncrement);
      const double u = double(draw >> 12) * 0x1p-52;
      out.push_back(uint8_t(measure_unchecked(t, circuit[i + 1], u)));
    }
  }
  return out;
}

}  // namespace

NIMBIC_CHECK_FAMILY(stabilizer_sampler) {
  Random rng(7301);
  const int64_t repetition_counts[] = {1, 3, 63, 64, 65, 130, 200, 700};
  for (int64_t n = 1; n <= 12; ++n)
    for (int trial = 0; trial < 6; ++trial) {
      const std::vector<int64_t> circuit = random_circuit(rng, n, 10 + int64_t(rng.below(60)));
      const MeasurementProgram prog = compile_measurements(circuit, n);
      const int64_t m = prog.num_measurements;
      if (m == 0) continue;
      const int64_t reps = repetition_counts[rng.below(8)];
      const uint64_t seeded = rng.engine()();
      const std::string what = "n=" + std::to_string(n) + " trial=" + std::to_string(trial);

      const std::vector<uint8_t> plain = plain_outcomes(circuit, n, m, seeded, reps);
      // The constants of the outcomes are folded into the offsets.
      std::vector<uint8_t> want(size_t(reps * m));
      sample_repetitions_scalar(prog, prog.constant, seeded, reps, want.data());
      ctx.same_bits(plain, want, "compiled against plain " + what);

      std::vector<uint8_t> small(static_cast<size_t>(m));
      std::vector<int64_t> wide(static_cast<size_t>(m));
      for (int64_t k = 0; k < m; ++k) {
        small[size_t(k)] = uint8_t(rng.below(2) ? 255 : rng.below(2));
        wide[size_t(k)] = int64_t(rng.engine()());
      }
      std::vector<uint8_t> want_small(size_t(reps * m));
      std::vector<int64_t> want_wide(size_t(reps * m));
      sample_repetitions_scalar(prog, small, seeded, reps, want_small.data());
      sample_repetitions_scalar(prog, wide, seeded, reps, want_wide.data());
      for_each_thread_count([&](unsigned threads) {
        std::vector<uint8_t> got_small(size_t(reps * m));
        std::vector<int64_t> got_wide(size_t(reps * m));
        sample_repetitions(prog, small, seeded, reps, got_small.data());
        sample_repetitions(prog, wide, seeded, reps, got_wide.data());
        const std::string where = what + " reps=" + std::to_string(reps) + " threads=" + std::to_string(threads);
        ctx.same_bits(want_small, got_small, "bytes " + where);
        ctx.same_bits(want_wide, got_wide, "wide " + where);
      });
    }
}
