// The class tables: name, docstring, record, constructor, buffer fields and
// representation of each native class.
#include "module/class_tables.hpp"

#include <array>
#include <bit>
#include <string>
#include <vector>

#include "binding/native_class.hpp"
#include "binding/pickling.hpp"
#include "density/native_density.hpp"
#include "module/function_table.hpp"
#include "stabilizer/native_tableau.hpp"
#include "statevector/native_state.hpp"

namespace nimbic::module {

namespace {

std::string buffer_repr(const char* cls, const char* field, const BufferField& buf, int64_t n) {
  return std::string(cls) + "(" + field + ": buffer(" + std::to_string(buf.length) +
         "), num_qubits: " + std::to_string(n) + ")";
}

struct NativeStateTraits {
  using Record = statevector::NativeState;
  static constexpr const char* name = "NativeState";
  static constexpr const char* qualname = "nimbic_native.NativeState";
  static constexpr const char* doc =
      "NativeState is the state vector of a circuit, as a flat interleaved complex\n"
      "buffer (`[re0, im0, re1, im1, ...]`).";
  static Record build(int64_t n) { return statevector::new_native_state(n); }
  static std::array<BufferField*, 1> fields(Record& r) { return {&r.state}; }
  static BufferField* exported(Record& r) { return &r.state; }
  // 2^(n+1) floats.
  static int64_t built_qubits(const Record& r) {
    return r.state.empty() ? -1 : std::countr_zero(uint64_t(r.state.length)) - 1;
  }
  static std::string repr(const Record& r) { return buffer_repr(name, "state", r.state, r.num_qubits); }
};

struct NativeDensityTraits {
  using Record = density::NativeDensity;
  static constexpr const char* name = "NativeDensity";
  static constexpr const char* qualname = "nimbic_native.NativeDensity";
  static constexpr const char* doc =
      "NativeDensity is the density matrix of a circuit, as a flat interleaved\n"
      "complex buffer of `dim` by `dim` entries.";
  static Record build(int64_t n) { return density::new_native_density(n); }
  static std::array<BufferField*, 1> fields(Record& r) { return {&r.rho}; }
  static BufferField* exported(Record& r) { return &r.rho; }
  // 2 * 4^n floats.
  static int64_t built_qubits(const Record& r) {
    return r.rho.empty() ? -1 : (std::countr_zero(uint64_t(r.rho.length)) - 1) / 2;
  }
  static std::string repr(const Record& r) { return buffer_repr(name, "rho", r.rho, r.num_qubits); }
};

struct NativeTableauTraits {
  using Record = stabilizer::NativeTableau;
  static constexpr const char* name = "NativeTableau";
  static constexpr const char* qualname = "nimbic_native.NativeTableau";
  static constexpr const char* doc =
      "NativeTableau is a stabilizer state whose tableau lives in `@[bd_buffer]`\n"
      "fields for the object's lifetime, so a circuit can be applied one gate at a\n"
      "time without rebuilding the state.";
  static Record build(int64_t n) { return stabilizer::new_native_tableau(n); }
  static std::array<BufferField*, 3> fields(Record& r) { return {&r.x, &r.z, &r.r}; }
  // 2n + 1 signs.
  static int64_t built_qubits(const Record& r) { return r.r.empty() ? -1 : (r.r.length - 1) / 2; }
  // Pickles carry the documented layout of x, z and r (rows of bits and the
  // signs), whatever form the object keeps its tableau in.
  static constexpr bool kBitEntries = true;
  static std::array<std::vector<int64_t>, 3> plain_fields(Record& r) {
    // An unknown instruction changes nothing; like every method it first
    // settles the form (the documented layout once num_qubits was reassigned).
    Record::apply(r, -1, 0, 0);
    if (!r.holds_working_form())
      return {std::vector<int64_t>(r.x.i64().begin(), r.x.i64().end()),
              std::vector<int64_t>(r.z.i64().begin(), r.z.i64().end()),
              std::vector<int64_t>(r.r.i64().begin(), r.r.i64().end())};
    // The working form is held only with the built count: read the rows from
    // the flattened tableau (2n+1 rows of n x bits, n z bits and the sign).
    const int64_t n = r.num_qubits, width = 2 * n + 1;
    const IntList flat = Record::stabilizer_tableau(r);
    auto entry = [&](int64_t i) { return flat.wide.empty() ? int64_t(flat.small[size_t(i)]) : flat.wide[size_t(i)]; };
    std::array<std::vector<int64_t>, 3> out{std::vector<int64_t>(size_t(r.x.length)),
                                            std::vector<int64_t>(size_t(r.z.length)),
                                            std::vector<int64_t>(size_t(r.r.length))};
    for (int64_t row = 0; row < width; ++row) {
      for (int64_t q = 0; q < n; ++q) {
        out[0][size_t(row * n + q)] = entry(row * width + q);
        out[1][size_t(row * n + q)] = entry(row * width + n + q);
      }
      out[2][size_t(row)] = entry(row * width + 2 * n);
    }
    return out;
  }
  // After the documented layout was written into the buffers.
  static void adopt_plain_fields(Record& r) { r.x.flags &= ~Record::kWorkingForm; }
  static std::string repr(const Record& r) {
    return std::string(name) + "(num_qubits: " + std::to_string(r.num_qubits) + ")";
  }
};

// The class's method table followed by the pickle support entries.
template <class Traits>
PyMethodDef* with_pickling(PyMethodDef* methods) {
  static std::vector<PyMethodDef> table = [methods] {
    std::vector<PyMethodDef> entries;
    for (PyMethodDef* m = methods; m->ml_name != nullptr; ++m) entries.push_back(*m);
    for (const PyMethodDef& m : binding::Pickling<Traits>::methods()) entries.push_back(m);
    entries.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
    return entries;
  }();
  return table.data();
}

template <class Traits>
PyObject* create(PyMethodDef* methods) {
  return binding::NativeClass<Traits>::create(with_pickling<Traits>(methods));
}

}  // namespace

PyObject* create_native_tableau_type() { return create<NativeTableauTraits>(native_tableau_methods()); }

PyObject* create_native_state_type() { return create<NativeStateTraits>(native_state_methods()); }

PyObject* create_native_density_type() { return create<NativeDensityTraits>(native_density_methods()); }

}  // namespace nimbic::module
