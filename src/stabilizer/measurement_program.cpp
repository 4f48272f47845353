#include "stabilizer/measurement_program.hpp"

#include "common/interrupt.hpp"
#include "stabilizer/instruction_stream.hpp"
#include "stabilizer/inverse_tableau.hpp"
#include "stabilizer/tableau.hpp"

namespace nimbic::stabilizer {

MeasurementProgram compile_measurements(std::span<const int64_t> instructions, int64_t n) {
  MeasurementProgram prog;
  const int64_t count = instruction_count(instructions);
  for (int64_t i = 0; i < count; ++i) prog.num_measurements += instructions[size_t(3 * i)] == instr_measure;
  const int64_t m = prog.num_measurements;
  prog.constant.assign(size_t(m), 0);
  if (n == 0) {  // no qubit: every gate is no operation and every outcome 0
    prog.form_start.assign(size_t(m + 1), 0);
    return prog;
  }
  // The inverse tableau with symbolic signs: a determined outcome is the
  // sign of one row, a random one a new variable.
  std::vector<uint64_t> rows(size_t(InverseTableau::row_storage_for(n))),
      signs(size_t(InverseTableau::sign_storage_for(n))), scratch(size_t(InverseTableau::measure_scratch_for(n)));
  SignForms forms(2 * n);
  InverseTableau inverse(n, rows.data(), signs.data(), &forms);
  inverse.set_identity();
  prog.form_start.push_back(0);
  int64_t k = 0;
  InterruptionTicker ticker(uint64_t(1) << 16);
  for (int64_t i = 0; i < count; ++i) {
    ticker.tick(uint64_t(n));
    const int64_t code = instructions[size_t(3 * i)], a = instructions[size_t(3 * i + 1)],
                  b = instructions[size_t(3 * i + 2)];
    check_instruction(code, a, b, n, true);
    if (code == instr_measure) {
      const int64_t pivot = inverse.random_pivot(a);
      if (pivot >= 0) {
        prog.random_position.push_back(k);
        prog.form_vars.push_back(forms.variables());
        inverse.measure_random(a, pivot, 0, scratch.data());
      } else {
        prog.constant[size_t(k)] = uint8_t(inverse.sign(n + a));
        const uint64_t* form = forms.form(n + a);
        for (int64_t w = 0; w < forms.stride(); ++w)
          for (uint64_t bits = form[w]; bits != 0; bits &= bits - 1)
            prog.form_vars.push_back(w * 64 + __builtin_ctzll(bits));
      }
      prog.form_start.push_back(int64_t(prog.form_vars.size()));
      ++k;
    } else {
      inverse.apply(code, a, b);
    }
  }
  prog.num_random = forms.variables();
  return prog;
}

}  // namespace nimbic::stabilizer
