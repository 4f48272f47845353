// The packed tableaux against the plain layout's row-by-row rules, bit for
// bit: (1) PackedTableau with its InverseTableau over random gates and
// measurements, for n = 1..70 and a few wider registers, with the inverse
// also checked against its definition on small registers; (2) NativeTableau
// (which keeps them as its working form) against the plain-layout procedure
// it replaced, through resets, reads and reassigned counts, errors included.

#include <vector>

#include "check.hpp"
#include "common/panic.hpp"
#include "stabilizer/inverse_tableau.hpp"
#include "stabilizer/native_tableau.hpp"
#include "stabilizer/packed_tableau.hpp"
#include "stabilizer/state_vector_rows.hpp"
#include "stabilizer/tableau.hpp"

namespace nimbic {

// Buffer fields from plain memory (the module takes them from the Python
// allocator); released when the check ends.
namespace {
std::vector<std::vector<int64_t>>& field_blocks() {
  static std::vector<std::vector<int64_t>> blocks;
  return blocks;
}
}  // namespace

BufferField allocate_buffer_field(int64_t length) {
  BufferField field;
  if (length <= 0) return field;
  field_blocks().emplace_back(size_t(length + 2), 0);
  field.data = field_blocks().back().data() + 2;
  field.length = field.capacity = length;
  return field;
}

void release_buffer_field(BufferField& field) { field = BufferField{}; }

}  // namespace nimbic

using namespace nimbic;
using namespace nimbic::stabilizer;
using namespace nimbic::checks;

namespace {

struct Plain {
  int64_t n;
  std::vector<int64_t> x, z, r;
  explicit Plain(int64_t count) : n(count), x(size_t(count * (2 * count + 1))), z(x.size()), r(size_t(2 * count + 1)) {
    reset_unchecked(view());
  }
  Tableau view() { return Tableau{n, x, z, r}; }
  std::vector<uint8_t> flat() {
    std::vector<uint8_t> out(size_t((2 * n + 1) * (2 * n + 1)));
    to_flat_unchecked(view(), out);
    return out;
  }
};

// Row i of a plain tableau (n <= 64) as i^phase X^x Z^z, qubit j on bit j.
PauliString plain_row(Plain& t, int64_t i) {
  PauliString p;
  for (int64_t j = 0; j < t.n; ++j) {
    p.x |= uint64_t(t.x[size_t(i * t.n + j)]) << j;
    p.z |= uint64_t(t.z[size_t(i * t.n + j)]) << j;
  }
  p.phase = unsigned(2 * t.r[size_t(i)] + popcount(p.x & p.z)) & 3;
  return p;
}

// The inverse holds C^dag P C for P = X_q (row q) and Z_q (row n+q), over
// the generators. Mapping such a row i^e X^u Z^w back through the tableau,
// generator X_j to row j and Z_j to row n+j, must give P with phase 0.
bool inverse_is_exact(Plain& t, const InverseTableau& g) {
  const int64_t n = t.n;
  for (int64_t i = 0; i < 2 * n; ++i) {
    const uint64_t u = g.row(i)[0], w = g.row(i)[1];
    PauliString image{0, 0, unsigned(2 * g.sign(i) + popcount(u & w)) & 3};
    for (int64_t j = 0; j < n; ++j)
      if (u >> j & 1) image = multiply(image, plain_row(t, j));
    for (int64_t j = 0; j < n; ++j)
      if (w >> j & 1) image = multiply(image, plain_row(t, n + j));
    const uint64_t bit = uint64_t(1) << (i % n);
    if (image.x != (i < n ? bit : 0) || image.z != (i < n ? 0 : bit) || image.phase != 0) return false;
  }
  return true;
}

}  // namespace

namespace {

std::vector<int64_t> tableau_sizes(bool objects) {
  std::vector<int64_t> sizes;
  if (objects) sizes = {-1, 0, 1, 2, 15};
  for (int64_t n = objects ? 16 : 1; n <= 70; ++n) sizes.push_back(n);
  for (int64_t n : {127, 128, 129, 200}) sizes.push_back(n);
  return sizes;
}

// A gate code 0..8 on valid operands.
void random_gate(Random& rng, int64_t n, int64_t& code, int64_t& a, int64_t& b) {
  code = int64_t(rng.below(n >= 2 ? 9 : 6));
  a = int64_t(rng.below(uint64_t(n)));
  b = int64_t(rng.below(uint64_t(n)));
  while (is_two_qubit(code) && b == a) b = int64_t(rng.below(uint64_t(n)));
}

double random_u(Random& rng) { return double(rng.engine()() >> 11) * 0x1p-53; }

std::string describe(int64_t n, int step, const char* what) {
  return std::string(what) + " n=" + std::to_string(n) + " step=" + std::to_string(step);
}

}  // namespace

NIMBIC_CHECK_FAMILY(stabilizer_packed_tableau) {
  Random rng(7311);
  for (int64_t n : tableau_sizes(false)) {
    Plain plain(n);
    OwnedPackedTableau packed(n);
    std::vector<uint64_t> rows(size_t(InverseTableau::row_storage_for(n))),
        signs(size_t(InverseTableau::sign_storage_for(n)));
    InverseTableau inverse(n, rows.data(), signs.data());
    inverse.set_identity();
    std::vector<uint64_t> scratch(size_t(3 * packed->words() + InverseTableau::measure_scratch_for(n)));
    std::vector<int64_t> touched(static_cast<size_t>(n));
    const int steps = int(200 + 3 * n);
    for (int step = 0; step < steps; ++step) {
      if (rng.below(10) < 3) {
        const int64_t a = int64_t(rng.below(uint64_t(n)));
        const double u = random_u(rng);
        const int64_t want = measure_unchecked(plain.view(), a, u);
        const int64_t pivot = inverse.random_pivot(a);
        ctx.expect(pivot == packed->stabilizer_with_x(a), describe(n, step, "pivot"));
        int64_t got;
        if (pivot < 0) {
          got = int64_t(inverse.sign(n + a));
          // The scratch row holds the product of the selected stabilizers: +-Z_a.
          std::vector<uint8_t> scratch_row(size_t(2 * n + 1), 0);
          scratch_row[size_t(n + a)] = 1;
          scratch_row[size_t(2 * n)] = uint8_t(got);
          const std::vector<uint8_t> flat = plain.flat();
          ctx.same_bits(scratch_row, std::span(flat).last(size_t(2 * n + 1)), describe(n, step, "scratch row"));
        } else {
          const uint64_t outcome = u < 0.5 ? 0 : 1;
          const int64_t count = packed->measure_random(a, pivot, outcome, scratch.data(), touched.data());
          uint64_t* inverse_scratch = scratch.data() + 3 * packed->words();
          if (step % 2 == 0)
            inverse.measure_random(a, pivot, outcome, inverse_scratch, {touched.data(), size_t(count)});
          else
            inverse.measure_random(a, pivot, outcome, inverse_scratch);  // every row, as the compile does
          got = int64_t(outcome);
        }
        ctx.expect(got == want, describe(n, step, "outcome"));
      } else {
        int64_t code, a, b;
        random_gate(rng, n, code, a, b);
        apply_unchecked(plain.view(), code, a, b);
        packed->apply(code, a, b);
        inverse.apply(code, a, b);
      }
      if (step % 20 == 19) {
        std::vector<uint8_t> want = plain.flat(), got(want.size(), 0);
        packed->write_flat(got.data());
        want.resize(size_t(2 * n * (2 * n + 1)));
        got.resize(want.size());
        ctx.same_bits(want, got, describe(n, step, "rows"));
        if (n <= 64) ctx.expect(inverse_is_exact(plain, inverse), describe(n, step, "inverse"));
      }
    }
  }
}

namespace {

// NativeTableau as it was before the working form: every method runs the
// plain-layout procedure on its buffers with the stored count.
struct PlainObject {
  int64_t num_qubits;
  std::vector<int64_t> x, z, r;
  explicit PlainObject(int64_t n)  // no entries for a negative count
      : num_qubits(n), x(size_t(n < 0 ? 0 : n * (2 * n + 1))), z(x.size()), r(size_t(n < 0 ? 0 : 2 * n + 1)) {
    reset();
  }
  Tableau view() { return Tableau{num_qubits, x, z, r}; }
  void reset() { reset_plain(view()); }
  void apply(int64_t code, int64_t a, int64_t b) { apply_plain(view(), code, a, b); }
  int64_t measure(int64_t a, double u) { return measure_plain(view(), a, u); }
  std::vector<uint8_t> flat() {
    const int64_t entries = flat_entries(num_qubits);
    if (!holds_rows(view())) probe_to_flat(view());
    std::vector<uint8_t> out(size_t(entries), 0);
    if (num_qubits >= 0) to_flat_unchecked(view(), out);
    return out;
  }
};

// The result of a call, or the message of the error it raised.
template <class Call>
std::string outcome_of(Call&& call) {
  try {
    return "ok " + std::to_string(call());
  } catch (const Panic& e) {
    return "panic " + e.message();
  }
}

std::string digest(const std::vector<uint8_t>& flat) {
  std::string s(flat.size(), '0');
  for (size_t i = 0; i < flat.size(); ++i) s[i] = char('0' + flat[i]);
  return s;
}

}  // namespace

NIMBIC_CHECK_FAMILY(stabilizer_native_tableau) {
  Random rng(7321);
  for (int64_t n0 : tableau_sizes(true)) {
    NativeTableau object = new_native_tableau(n0);
    PlainObject plain(n0);
    const int steps = n0 <= 70 ? 300 : 120;
    for (int step = 0; step < steps; ++step) {
      const int64_t count = object.num_qubits, span = std::max<int64_t>(count, 1);
      const uint64_t kind = rng.below(100);
      auto pick = [&](int64_t range) {
        return int64_t(rng.below(2) ? rng.below(uint64_t(std::min<int64_t>(range, 3)))
                                    : rng.below(uint64_t(range + 1)));
      };
      std::string want, got;
      if (kind < 3 && step >= steps / 2) {  // counts are reassigned in the second half only
        const int64_t value = rng.below(2) ? n0 : int64_t(rng.below(uint64_t(n0 + 4))) - 1;
        object.num_qubits = plain.num_qubits = value;
        continue;
      } else if (kind < 6) {
        want = outcome_of([&] { return plain.reset(), 0; });
        got = outcome_of([&] { return NativeTableau::reset(object), 0; });
      } else if (kind < 55) {
        // Half the operands among the first three qubits, so that measuring
        // them again often has a determined outcome.
        const int64_t code = int64_t(rng.below(11)) - 1;
        const int64_t a = rng.below(20) == 0 ? -int64_t(rng.below(3)) - 1 : pick(span);
        const int64_t b = pick(span);
        want = outcome_of([&] { return plain.apply(code, a, b), 0; });
        got = outcome_of([&] { return NativeTableau::apply(object, code, a, b), 0; });
      } else if (kind < 90) {
        const int64_t a = rng.below(20) == 0 ? -int64_t(rng.below(uint64_t(span) * span + 3)) - 1 : pick(span);
        const double u = random_u(rng);
        want = outcome_of([&] { return plain.measure(a, u); });
        got = outcome_of([&] { return NativeTableau::measure(object, a, u); });
      } else {
        std::vector<uint8_t> flat;
        want = outcome_of([&] { return flat = plain.flat(), 0; }) + digest(flat);
        flat.clear();
        got = outcome_of([&] {
                const IntList list = NativeTableau::stabilizer_tableau(object);
                flat = list.small;
                return 0;
              }) +
              digest(flat);
      }
      ctx.expect(want == got, describe(n0, step, (want + " / " + got).substr(0, 200).c_str()));
    }
    // The buffers read with the count they were built for.
    object.num_qubits = plain.num_qubits = n0;
    ctx.expect(digest(plain.flat()) == digest(NativeTableau::stabilizer_tableau(object).small),
               describe(n0, steps, "final"));
    for (BufferField* field : {&object.x, &object.z, &object.r}) release_buffer_field(*field);
  }
}
