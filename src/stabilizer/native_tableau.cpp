#include "stabilizer/native_tableau.hpp"

#include <algorithm>

#include "common/memory.hpp"
#include "common/panic.hpp"
#include "stabilizer/instruction_stream.hpp"
#include "stabilizer/inverse_tableau.hpp"
#include "stabilizer/packed_from_plain.hpp"
#include "stabilizer/packed_tableau.hpp"
#include "stabilizer/state_vector.hpp"

namespace nimbic::stabilizer {

namespace {

// The count the buffers were built for: they hold n*(2n+1), n*(2n+1) and
// 2n+1 entries (no entries for a negative count).
int64_t built_count(const NativeTableau& self) { return self.r.length >= 1 ? (self.r.length - 1) / 2 : -1; }

// Below this many qubits the plain layout serves: every operation on it
// costs little more than the call, and its random measurements are cheaper
// than on the working form, which has two tableaux to update.
constexpr int64_t kWorkingFormFrom = 16;

// Whether the object uses a working form: from kWorkingFormFrom qubits on,
// when it fits in the buffers (the packed tableau in `x`, its inverse in
// `z`, both before the plain scratch row's place, which stays free; both
// sets of signs and the scratch row's code in `r`; it does from 3 qubits
// on).
bool uses_working_form(int64_t n) {
  if (n < kWorkingFormFrom) return false;
  return PackedTableau::column_words_for(n) <= 2 * n * n && InverseTableau::row_storage_for(n) <= 2 * n * n &&
         2 * PackedTableau::half_words_for(n) + InverseTableau::sign_storage_for(n) + 1 <= 2 * n + 1;
}

// The scratch row's code: -1, the row is zero; 2a + s (a >= 0), it is Z_a
// with sign s; -2 - s, its x and z bits are those in its plain place in the
// buffers and its sign is s.
struct WorkingForm {
  PackedTableau tableau;
  InverseTableau inverse;
  int64_t& scratch;
};

WorkingForm working_form(NativeTableau& self, int64_t n) {
  auto* r = static_cast<uint64_t*>(self.r.data);
  const int64_t sign_words = 2 * PackedTableau::half_words_for(n);
  return {PackedTableau(n, static_cast<uint64_t*>(self.x.data), r),
          InverseTableau(n, static_cast<uint64_t*>(self.z.data), r + sign_words), self.r.i64()[size_t(2 * n)]};
}

void start_working_form(NativeTableau& self, int64_t n) {
  WorkingForm w = working_form(self, n);
  w.tableau.set_zero_state();
  w.inverse.set_identity();
  w.scratch = -1;
  self.x.flags = (self.x.flags | NativeTableau::kWorkingForm) & ~NativeTableau::kPlainKept;
}

// Starts a working form from the plain layout the buffers hold with the
// built count n, when its rows form a tableau; otherwise keeps the plain
// layout and says so in the flags (kept when the memory was short: then the
// next call tries again). The scratch row stays in its plain place.
bool resume_working_form(NativeTableau& self, int64_t n) {
  const int64_t scratch_sign = self.r.i64()[size_t(2 * n)];
  WorkingForm w = working_form(self, n);
  if ((scratch_sign == 0 || scratch_sign == 1) && pack_plain_tableau(self.view(), w.tableau, w.inverse)) {
    w.scratch = -2 - scratch_sign;
    self.x.flags |= NativeTableau::kWorkingForm;
    return true;
  }
  self.x.flags |= NativeTableau::kPlainKept;
  return false;
}

// Writes the plain layout of the working form into the buffers and drops
// the working form.
void write_plain_layout(NativeTableau& self) {
  const int64_t n = built_count(self);
  const WorkingForm w = working_form(self, n);
  const int64_t columns = PackedTableau::column_words_for(n), sign_words = w.tableau.words();
  std::vector<uint64_t> saved(size_t(columns + sign_words));
  std::copy_n(w.tableau.x(0), columns, saved.begin());
  std::copy_n(w.tableau.r(), sign_words, saved.begin() + columns);
  const int64_t scratch = w.scratch;
  int64_t *x = self.x.i64().data(), *z = self.z.i64().data(), *r = self.r.i64().data();
  PackedTableau(n, saved.data(), saved.data() + columns).write_plain(x, z, r);
  if (scratch >= -1) {
    std::fill_n(x + 2 * n * n, n, 0);
    std::fill_n(z + 2 * n * n, n, 0);
    r[2 * n] = 0;
    if (scratch >= 0) {
      z[2 * n * n + scratch / 2] = 1;
      r[2 * n] = scratch % 2;
    }
  } else {
    r[2 * n] = -2 - scratch;
  }
  self.x.flags &= ~NativeTableau::kWorkingForm;
}

// Every method on buffers built large enough for a working form starts here
// (through use_working_form). With another count than the built one, the
// buffers are read with that count, so they must hold the plain layout (and
// may change in any way). With the built count, the working form is used
// when held, or started when `resume` asks for it and the plain layout
// allows.
[[gnu::noinline]] bool use_built_working_form(NativeTableau& self, bool resume) {
  const int64_t n = built_count(self);
  if (self.num_qubits != n) {
    if (self.holds_working_form()) write_plain_layout(self);
    self.x.flags &= ~NativeTableau::kPlainKept;
    return false;
  }
  if (self.holds_working_form()) return true;
  if (!resume || (self.x.flags & NativeTableau::kPlainKept) != 0 || !uses_working_form(n)) return false;
  return resume_working_form(self, n);
}

// Buffers built for fewer qubits never hold a working form, whatever the
// count says now: their calls go straight to the plain layout.
inline bool use_working_form(NativeTableau& self, bool resume = false) {
  return self.r.length >= 2 * kWorkingFormFrom + 1 && use_built_working_form(self, resume);
}

}  // namespace

NativeTableau new_native_tableau(int64_t num_qubits) {
  NativeTableau record;
  record.num_qubits = num_qubits;
  if (num_qubits < 0) return record;
  if (num_qubits > (int64_t(1) << 30)) panic_out_of_memory();  // n*(2n+1) entries beyond 2^61
  const int64_t n = num_qubits;
  try {
    record.x = allocate_buffer_field(n * (2 * n + 1));
    record.z = allocate_buffer_field(n * (2 * n + 1));
    record.r = allocate_buffer_field(2 * n + 1);
  } catch (...) {
    release_buffer_field(record.x);
    release_buffer_field(record.z);
    throw;
  }
  NativeTableau::reset(record);
  return record;
}

void NativeTableau::reset(NativeTableau& self) {
  const int64_t n = built_count(self);
  if (self.num_qubits == n && uses_working_form(n)) {
    start_working_form(self, n);
    return;
  }
  use_working_form(self);
  reset_plain(self.view());
}

void NativeTableau::plain_layout_written(NativeTableau& self) { self.x.flags &= ~(kWorkingForm | kPlainKept); }

void NativeTableau::apply(NativeTableau& self, int64_t code, int64_t a, int64_t b) {
  const int64_t n = self.num_qubits;
  if (use_working_form(self, is_gate(code))) {
    if (!is_gate(code)) return;
    check_instruction(code, a, b, n, false);
    WorkingForm w = working_form(self, n);
    // The columns and rows of a large register are rarely in cache: ask for
    // all of them at once rather than one stream after another.
    w.tableau.prefetch(a);
    w.inverse.prefetch(a);
    if (is_two_qubit(code)) {
      w.tableau.prefetch(b);
      w.inverse.prefetch(b);
    }
    w.tableau.apply(code, a, b);
    w.inverse.apply(code, a, b);
    return;
  }
  apply_plain(self.view(), code, a, b);
}

namespace {

// A measurement on the working form. Kept out of line: its scratch space
// would otherwise enlarge the frame of every measurement on the plain layout.
[[gnu::noinline]] int64_t measure_working_form(NativeTableau& self, int64_t a, double u) {
  const int64_t n = self.num_qubits;
  check_instruction(instr_measure, a, 0, n, true);
  WorkingForm w = working_form(self, n);
  const int64_t pivot = w.inverse.random_pivot(a);
  if (pivot < 0) {  // determined: the scratch row becomes the product, +-Z_a
    const int64_t outcome = int64_t(w.inverse.sign(n + a));
    w.scratch = 2 * a + outcome;
    return outcome;
  }
  const uint64_t outcome = u < 0.5 ? 0 : 1;  // NaN gives 1
  // Scratch for both updates, taken before either changes anything.
  const int64_t tableau_scratch = 3 * w.tableau.words(), inverse_scratch = InverseTableau::measure_scratch_for(n);
  const int64_t words = tableau_scratch + inverse_scratch + n;
  uint64_t local[512];
  std::vector<uint64_t> heap;
  if (words > 512) heap.resize(size_t(words));
  uint64_t* scratch = words > 512 ? heap.data() : local;
  auto* qubits = reinterpret_cast<int64_t*>(scratch + tableau_scratch + inverse_scratch);
  const int64_t touched = w.tableau.measure_random(a, pivot, outcome, scratch, qubits);
  w.inverse.measure_random(a, pivot, outcome, scratch + tableau_scratch, {qubits, size_t(touched)});
  return int64_t(outcome);
}

}  // namespace

int64_t NativeTableau::measure(NativeTableau& self, int64_t a, double u) {
  if (use_working_form(self, true)) return measure_working_form(self, a, u);
  return measure_plain(self.view(), a, u);
}

IntList NativeTableau::stabilizer_tableau(NativeTableau& self) {
  const int64_t n = self.num_qubits;
  const int64_t entries = flat_entries(n);
  const bool working = use_working_form(self);
  if (!working && !holds_rows(self.view())) probe_to_flat(self.view());
  IntList out;
  check_result(entries, 1, kSmallIntListItemBytes);
  out.small.assign(size_t(entries), 0);
  if (working) {
    const WorkingForm w = working_form(self, n);
    w.tableau.write_flat(out.small.data());
    uint8_t* row = out.small.data() + 2 * n * (2 * n + 1);
    if (w.scratch >= 0) {
      row[n + w.scratch / 2] = 1;
      row[2 * n] = uint8_t(w.scratch % 2);
    } else if (w.scratch <= -2) {
      const int64_t *x = self.x.i64().data() + 2 * n * n, *z = self.z.i64().data() + 2 * n * n;
      for (int64_t j = 0; j < n; ++j) {
        row[j] = uint8_t(x[j]);
        row[n + j] = uint8_t(z[j]);
      }
      row[2 * n] = uint8_t(-2 - w.scratch);
    }
  } else if (n >= 0) {
    to_flat_unchecked(self.view(), out.small);
  }
  return out;
}

std::vector<int64_t> NativeTableau::to_flat(NativeTableau& self) {
  const IntList flat = stabilizer_tableau(self);
  check_allocatable(Count(flat.small.size()) * 8);
  return std::vector<int64_t>(flat.small.begin(), flat.small.end());
}

std::vector<double> NativeTableau::state_vector(NativeTableau& self) {
  return clifford_state_vector(to_flat(self), self.num_qubits);
}

}  // namespace nimbic::stabilizer
