// The packed sampler: rows split over 1, 2, 3 and 8 threads against the
// per-repetition byte path packed by hand, with offsets, for M on both sides
// of every multiple of 8 and 64; and a packed run cut into ranges against
// the whole run.
#include <algorithm>
#include <vector>

#include "check.hpp"
#include "stabilizer/measurement_program.hpp"
#include "stabilizer/packed_run.hpp"
#include "stabilizer/sampler.hpp"
#include "stabilizer/tableau.hpp"

using namespace nimbic;
using namespace nimbic::stabilizer;
using namespace nimbic::checks;

namespace {

// H on every qubit, then `m` measurements cycling over them, with a CNOT
// between some: random outcomes and parities of earlier ones.
std::vector<int64_t> measuring_circuit(Random& rng, int64_t n, int64_t m) {
  std::vector<int64_t> out;
  for (int64_t q = 0; q < n; ++q) out.insert(out.end(), {instr_h, q, 0});
  for (int64_t k = 0; k < m; ++k) {
    if (n >= 2 && rng.below(3) == 0) out.insert(out.end(), {instr_cnot, k % n, (k + 1) % n});
    out.insert(out.end(), {instr_measure, int64_t(rng.below(uint64_t(n))), 0});
  }
  return out;
}

// Rows of 0/1 bytes packed eight to a byte, lowest bit first.
std::vector<uint8_t> pack(const std::vector<uint8_t>& bits, int64_t reps, int64_t m) {
  const int64_t row_bytes = (m + 7) / 8;
  std::vector<uint8_t> out(size_t(reps * row_bytes));
  for (int64_t r = 0; r < reps; ++r)
    for (int64_t k = 0; k < m; ++k)
      out[size_t(r * row_bytes + k / 8)] |= uint8_t((bits[size_t(r * m + k)] & 1) << (k % 8));
  return out;
}

}  // namespace

NIMBIC_CHECK_FAMILY(stabilizer_packed_sampler) {
  Random rng(1931);
  const int64_t ms[] = {1, 7, 8, 9, 63, 64, 65, 129, 700};
  const int64_t repetition_counts[] = {1, 63, 64, 65, 200, 1100};
  for (int64_t m : ms)
    for (int64_t reps : repetition_counts) {
      const int64_t n = 1 + int64_t(rng.below(70));
      const std::vector<int64_t> circuit = measuring_circuit(rng, n, m);
      const MeasurementProgram prog = compile_measurements(circuit, n);
      const uint64_t seeded = rng.engine()();
      std::vector<uint8_t> offsets(static_cast<size_t>(m));
      std::vector<uint64_t> words(size_t((m + 63) / 64));
      for (int64_t k = 0; k < m; ++k) {
        offsets[size_t(k)] = uint8_t(rng.below(2));
        words[size_t(k / 64)] |= uint64_t(offsets[size_t(k)]) << (k % 64);
      }
      std::vector<uint8_t> bits(size_t(reps * m));
      sample_repetitions_scalar(prog, offsets, seeded, reps, bits.data());
      const std::vector<uint8_t> want = pack(bits, reps, m);
      for_each_thread_count([&](unsigned threads) {
        std::vector<uint8_t> got(want.size(), 0xA5);
        sample_repetitions_packed(prog, words, seeded, reps, got.data());
        ctx.same_bits(
            want, got,
            "m=" + std::to_string(m) + " reps=" + std::to_string(reps) + " threads=" + std::to_string(threads));
      });
    }

  // A run read in uneven ranges gives the rows of one read.
  const std::vector<int64_t> circuit = measuring_circuit(rng, 20, 300);
  const std::vector<int64_t> mask = {1, 0, 1, 1};
  const PackedRun run = compile_packed_run(circuit, 20, mask, 1000, -77, 1000);
  const std::vector<uint8_t> whole = sample_packed_rows(run, 0, 1000);
  std::vector<uint8_t> pieces;
  for (int64_t first = 0, size = 1; first < 1000; first += size, size = size * 3 + 1) {
    const std::vector<uint8_t> part = sample_packed_rows(run, first, std::min<int64_t>(size, 1000 - first));
    pieces.insert(pieces.end(), part.begin(), part.end());
  }
  ctx.same_bits(whole, pieces, "ranges of one run");
}
