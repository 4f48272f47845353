// The packed tableaux against the plain layout's row-by-row rules, bit for
// bit: (1) PackedTableau with its InverseTableau over random gates and
// measurements, for n = 1..70 and a few wider registers, with the inverse
// also checked against its definition on small registers, and both built
// afresh from the plain rows (or refused for rows that are no tableau);
// (2) NativeTableau (which keeps them as its working form) against the
// plain-layout procedure it replaced, through resets, reads, reassigned
// counts and restored (sometimes altered) buffers, errors included.

#include <algorithm>
#include <string>
#include <vector>

#include "check.hpp"
#include "common/panic.hpp"
#include "stabilizer/inverse_tableau.hpp"
#include "stabilizer/native_tableau.hpp"
#include "stabilizer/packed_from_plain.hpp"
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

// Whether rows 0..2n-1 of the arrays hold a tableau: entries and signs 0 or
// 1, destabilizer i anticommuting with stabilizer i and every other pair of
// rows commuting. Entry by entry, independently of the packed code.
bool forms_tableau(int64_t n, const std::vector<int64_t>& x, const std::vector<int64_t>& z,
                   const std::vector<int64_t>& r) {
  for (int64_t i = 0; i < 2 * n * n; ++i)
    if ((x[size_t(i)] | z[size_t(i)] | r[size_t(i % (2 * n))]) & ~int64_t(1)) return false;
  for (int64_t i = 0; i < 2 * n; ++i)
    for (int64_t k = i + 1; k < 2 * n; ++k) {
      int64_t product = 0;
      for (int64_t j = 0; j < n; ++j)
        product ^= (x[size_t(i * n + j)] & z[size_t(k * n + j)]) ^ (z[size_t(i * n + j)] & x[size_t(k * n + j)]);
      if (product != (k == i + n ? 1 : 0)) return false;
    }
  return true;
}

// Alters rows of n qubits as a forged pickle may: 1 the scratch row (any
// bits), 2 a sign, 3 all of them (the zero state): a tableau still; 4 one
// bit, 5 a destabilizer made equal to its stabilizer: mostly not; 6 an entry
// that is no bit. Anything else changes nothing.
void alter(Random& rng, int64_t n, std::vector<int64_t>& x, std::vector<int64_t>& z, std::vector<int64_t>& r,
           uint64_t how) {
  const int64_t i = int64_t(rng.below(uint64_t(n))), j = int64_t(rng.below(uint64_t(n)));
  if (how == 1) {
    for (int64_t q = 0; q < n; ++q) {
      x[size_t(2 * n * n + q)] = int64_t(rng.below(2));
      z[size_t(2 * n * n + q)] = int64_t(rng.below(2));
    }
    r[size_t(2 * n)] = int64_t(rng.below(2));
  }
  if (how == 2) r[size_t(i)] ^= 1;
  if (how == 3) reset_unchecked(Tableau{n, x, z, r});
  if (how == 4) (j % 2 ? x : z)[size_t(int64_t(rng.below(uint64_t(2 * n))) * n + j)] ^= 1;
  if (how == 5) {
    std::copy_n(x.begin() + (n + i) * n, n, x.begin() + i * n);
    std::copy_n(z.begin() + (n + i) * n, n, z.begin() + i * n);
  }
  if (how == 6) z[size_t(i * n + j)] = 2;
}

// Storage for a packed tableau and its inverse, filled with a marker.
struct PackedStorage {
  static constexpr uint64_t kMarker = 0x5a5a5a5a5a5a5a5aull;
  std::vector<uint64_t> columns, signs, rows, inverse_signs;
  explicit PackedStorage(int64_t n)
      : columns(size_t(PackedTableau::column_words_for(n)), kMarker),
        signs(size_t(2 * PackedTableau::half_words_for(n)), kMarker),
        rows(size_t(InverseTableau::row_storage_for(n)), kMarker),
        inverse_signs(size_t(InverseTableau::sign_storage_for(n)), kMarker) {}
  bool operator==(const PackedStorage&) const = default;
  // Builds the packed form of `plain` here.
  bool pack(Plain& plain) {
    PackedTableau tableau(plain.n, columns.data(), signs.data());
    InverseTableau inverse(plain.n, rows.data(), inverse_signs.data());
    return pack_plain_tableau(plain.view(), tableau, inverse);
  }
};

// The packed form of `plain` built afresh with 1, 2, 3 and 8 threads (the
// same bits each time) must be refused exactly when the rows are no tableau,
// leaving the storage as it was, and otherwise equal `kept` (kept up to date
// by gates and measurements), or hold the rows and an exact inverse (by
// definition, up to 64 qubits).
void check_fresh_packing(Context& ctx, Plain& plain, const PackedStorage* kept, const std::string& what) {
  const int64_t n = plain.n;
  PackedStorage storage(n), untouched(n);
  bool packed;
  {
    SingleThread reference;
    packed = storage.pack(plain);
  }
  ctx.expect(packed == forms_tableau(n, plain.x, plain.z, plain.r), what + " refused exactly when no tableau");
  for_each_thread_count([&](unsigned threads) {
    PackedStorage again(n);
    ctx.expect(again.pack(plain) == packed && again == storage, what + " threads=" + std::to_string(threads));
  });
  if (!packed || kept != nullptr) {
    ctx.expect(storage == (packed ? *kept : untouched), what + (packed ? " as kept" : " untouched"));
    return;
  }
  std::vector<uint8_t> want = plain.flat(), got(want.size(), 0);
  PackedTableau(n, storage.columns.data(), storage.signs.data()).write_flat(got.data());
  want.resize(size_t(2 * n * (2 * n + 1)));
  got.resize(want.size());
  ctx.same_bits(want, got, what + " rows");
  if (n <= 64)
    ctx.expect(inverse_is_exact(plain, InverseTableau(n, storage.rows.data(), storage.inverse_signs.data())),
               what + " inverse");
}

}  // namespace

namespace {

std::vector<int64_t> tableau_sizes(bool objects) {
  std::vector<int64_t> sizes;
  if (objects) sizes = {-1, 0, 1, 2, 15};
  for (int64_t n = objects ? 16 : 1; n <= 70; ++n) sizes.push_back(n);
  for (int64_t n : {100, 127, 128, 129, 200}) sizes.push_back(n);
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
        PackedStorage kept(n);
        std::copy_n(packed->x(0), kept.columns.size(), kept.columns.begin());
        std::copy_n(packed->r(), kept.signs.size(), kept.signs.begin());
        kept.rows = rows;
        kept.inverse_signs = signs;
        check_fresh_packing(ctx, plain, &kept, describe(n, step, "fresh"));
      }
    }
    for (uint64_t how = 1; how <= 6; ++how) {
      Plain altered = plain;
      alter(rng, n, altered.x, altered.z, altered.r, how);
      check_fresh_packing(ctx, altered, nullptr, describe(n, int(how), "altered"));
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

// NativeTableau's methods called as PlainObject's are.
struct Calls {
  NativeTableau& t;
  int64_t& num_qubits;
  void apply(int64_t code, int64_t a, int64_t b) { NativeTableau::apply(t, code, a, b); }
  int64_t measure(int64_t a, double u) { return NativeTableau::measure(t, a, u); }
  std::vector<uint8_t> flat() { return NativeTableau::stabilizer_tableau(t).small; }
};

// The flattened tableau a read returns, or the error it raised (the read
// runs before the digest is taken).
template <class Read>
std::string read_outcome(Read&& read) {
  std::vector<uint8_t> flat;
  const std::string status = outcome_of([&] { return flat = read(), 0; });
  return status + digest(flat);
}

}  // namespace

NIMBIC_CHECK_FAMILY(stabilizer_native_tableau) {
  Random rng(7321);
  for (int64_t n0 : tableau_sizes(true)) {
    NativeTableau object = new_native_tableau(n0);
    PlainObject plain(n0);
    const int steps = n0 <= 70 ? 300 : 120;
    // Whether the buffers changed (restored, or used with another count)
    // since the object last tried to start a working form at its own count.
    bool fresh = false;
    for (int step = 0; step < steps; ++step) {
      const int64_t count = object.num_qubits, span = std::max<int64_t>(count, 1);
      const uint64_t kind = rng.below(100);
      // A gate or measurement at the built count starts the working form
      // from fresh buffers exactly when they hold a tableau.
      bool starts = false, expect_form = false;
      auto before_start = [&] {
        starts = count == n0 && fresh;
        expect_form = starts && n0 >= 16 && forms_tableau(n0, plain.x, plain.z, plain.r);
      };
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
      } else if (kind < 12) {
        // A pickle round trip (the plain layout written into the buffers),
        // the rows sometimes altered as a forged pickle may be; then a gate
        // or a measurement (which starts a working form at the built count),
        // a read with another count (which writes the plain layout back), a
        // gate (which starts it again) and a read.
        if (n0 < 1) continue;
        alter(rng, n0, plain.x, plain.z, plain.r, rng.below(6));
        std::copy(plain.x.begin(), plain.x.end(), object.x.i64().begin());
        std::copy(plain.z.begin(), plain.z.end(), object.z.i64().begin());
        std::copy(plain.r.begin(), plain.r.end(), object.r.i64().begin());
        NativeTableau::plain_layout_written(object);
        fresh = true;
        before_start();
        const int64_t a = int64_t(rng.below(uint64_t(span))), other = int64_t(rng.below(uint64_t(n0)));
        const bool measures = rng.below(2) == 0;
        bool first_form = false;
        auto run = [&](auto&& t) {
          std::string seen = outcome_of([&] { return measures ? t.measure(a, 0.7) : (t.apply(instr_s, a, 0), 0); });
          first_form = object.holds_working_form();
          t.num_qubits = other;
          seen += read_outcome([&] { return t.flat(); });
          t.num_qubits = count;
          seen += outcome_of([&] { return t.apply(instr_h, a, 0), 0; });
          return seen + read_outcome([&] { return t.flat(); });
        };
        want = run(plain);
        got = run(Calls{object, object.num_qubits});
        ctx.expect(first_form == expect_form, describe(n0, step, "working form started at once"));
        // Gates keep a tableau one, and anything else not one.
        expect_form = starts && n0 >= 16 && forms_tableau(n0, plain.x, plain.z, plain.r);
      } else if (kind < 55) {
        // Half the operands among the first three qubits, so that measuring
        // them again often has a determined outcome.
        const int64_t code = int64_t(rng.below(11)) - 1;
        const int64_t a = rng.below(20) == 0 ? -int64_t(rng.below(3)) - 1 : pick(span);
        const int64_t b = pick(span);
        if (is_gate(code)) before_start();
        want = outcome_of([&] { return plain.apply(code, a, b), 0; });
        got = outcome_of([&] { return NativeTableau::apply(object, code, a, b), 0; });
      } else if (kind < 90) {
        const int64_t a = rng.below(20) == 0 ? -int64_t(rng.below(uint64_t(span) * span + 3)) - 1 : pick(span);
        const double u = random_u(rng);
        before_start();
        want = outcome_of([&] { return plain.measure(a, u); });
        got = outcome_of([&] { return NativeTableau::measure(object, a, u); });
      } else {
        want = read_outcome([&] { return plain.flat(); });
        got = read_outcome([&] { return NativeTableau::stabilizer_tableau(object).small; });
      }
      ctx.expect(want == got, describe(n0, step, (want + " / " + got).substr(0, 200).c_str()));
      if (count != n0) fresh = true;
      if (starts) {
        ctx.expect(object.holds_working_form() == expect_form, describe(n0, step, "working form started"));
        fresh = false;
      }
      if (count != n0 || n0 < 16) ctx.expect(!object.holds_working_form(), describe(n0, step, "plain layout kept"));
    }
    // The buffers read with the count they were built for.
    object.num_qubits = plain.num_qubits = n0;
    ctx.expect(digest(plain.flat()) == digest(NativeTableau::stabilizer_tableau(object).small),
               describe(n0, steps, "final"));
    for (BufferField* field : {&object.x, &object.z, &object.r}) release_buffer_field(*field);
  }
}
