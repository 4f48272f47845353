#include "stabilizer/sampler.hpp"

#include <vector>

#include "stabilizer/bit_matrix.hpp"
#include "stabilizer/wyrand.hpp"

namespace nimbic::stabilizer {

namespace {

template <class Out>
void sample_rows(const MeasurementProgram& prog, const Out* offsets, uint64_t seeded, int64_t first,
                 int64_t count, Out* out) {
  const int64_t m = prog.num_measurements, nr = prog.num_random, fw = prog.form_words;
  // State increment from the first draw of a repetition to each random draw.
  std::vector<uint64_t> step(static_cast<size_t>(nr));
  for (int64_t v = 0; v < nr; ++v) step[size_t(v)] = uint64_t(prog.random_position[size_t(v)]) * WyRand::kIncrement;
  const uint64_t per_rep = uint64_t(m) * WyRand::kIncrement;
  uint64_t base = seeded + (uint64_t(first) * uint64_t(m) + 1) * WyRand::kIncrement;
  const uint64_t* forms = prog.forms.data();
  std::vector<uint64_t> vars(static_cast<size_t>(fw));
  for (int64_t rep = 0; rep < count; ++rep, base += per_rep) {
    Out* row = out + (first + rep) * m;
    if (fw == 1) {
      uint64_t bits = 0;
      for (int64_t v = 0; v < nr; ++v) bits |= (WyRand::mix(base + step[size_t(v)]) >> 63) << v;
      for (int64_t k = 0; k < m; ++k) row[k] = Out(parity(forms[k] & bits)) ^ offsets[k];
    } else {
      std::fill(vars.begin(), vars.end(), 0);
      for (int64_t v = 0; v < nr; ++v)
        vars[size_t(v / 64)] |= (WyRand::mix(base + step[size_t(v)]) >> 63) << (v % 64);
      for (int64_t k = 0; k < m; ++k) {
        const uint64_t* f = forms + k * fw;
        uint64_t acc = 0;
        for (int64_t w = 0; w < fw; ++w) acc ^= f[w] & vars[size_t(w)];
        row[k] = Out(parity(acc)) ^ offsets[k];
      }
    }
  }
}

}  // namespace

void sample_repetitions(const MeasurementProgram& prog, std::span<const uint8_t> offsets, uint64_t seeded,
                        int64_t repetitions, uint8_t* out) {
  sample_rows<uint8_t>(prog, offsets.data(), seeded, 0, repetitions, out);
}

void sample_repetitions(const MeasurementProgram& prog, std::span<const int64_t> offsets, uint64_t seeded,
                        int64_t repetitions, int64_t* out) {
  sample_rows<int64_t>(prog, offsets.data(), seeded, 0, repetitions, out);
}

}  // namespace nimbic::stabilizer
