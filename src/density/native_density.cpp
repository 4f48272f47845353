#include "density/native_density.hpp"

#include <algorithm>

#include "common/huge_pages.hpp"
#include "common/memory.hpp"
#include "common/panic.hpp"
#include "common/sample_outcome.hpp"
#include "density/channels.hpp"
#include "density/density_layout.hpp"
#include "density/density_measurement.hpp"
#include "density/whole_matrix.hpp"

namespace nimbic::density {

NativeDensity new_native_density(int64_t num_qubits) {
  NativeDensity record;
  if (num_qubits >= 0 && num_qubits <= 30) {
    if (num_qubits == 30) panic_out_of_memory();  // 16 * 4^30 bytes wrap 64 bits
    record.rho = allocate_buffer_field(int64_t(2) << (2 * num_qubits));
    prefer_huge_pages(record.rho);
  }
  record.num_qubits = num_qubits;
  return record;
}

void NativeDensity::set_from_amplitudes(NativeDensity& self, std::span<const double> values) {
  const auto rho = self.rho.f64();
  const int64_t len = int64_t(rho.size()), n = self.num_qubits;
  if (len == 0) return;
  // |psi><psi| of the leading 2^n amplitudes is copied over the matrix; with
  // fewer amplitudes it is too short and the copy would fail at its end.
  uint64_t used = values.size() / 2;
  if (n >= 0 && n <= 62) used = std::min(used, uint64_t(1) << n);
  const unsigned __int128 built = 2 * (unsigned __int128)used * used;
  if (built < (unsigned __int128)len) panic_get(int64_t(built), int64_t(built));
  check_density_matrix(rho, n);
  outer_product_into(rho.data(), values.data(), uint64_t(1) << n);
}

void NativeDensity::apply_channel(NativeDensity& self, std::span<const double> operators, int64_t num_operators,
                                  std::span<const int64_t> targets) {
  if (num_operators == 0) panic_division_by_zero();
  const int64_t dim = op_dimension(int64_t(operators.size()) / num_operators);
  channel_subspace_into(self.rho.f64(), num_operators, dim, self.num_qubits, operators, targets);
}

void NativeDensity::reset(NativeDensity& self) {
  const auto rho = self.rho.f64();
  if (!rho.empty()) zero_state_into(rho);
}

void NativeDensity::set_zero_state(NativeDensity& self) {
  const auto rho = self.rho.f64();
  if (!rho.empty()) rho[0] = 1.0;
}

std::vector<double> NativeDensity::density_matrix(NativeDensity& self) {
  const auto rho = self.rho.f64();
  check_result(Count(rho.size()));
  return std::vector<double>(rho.begin(), rho.end());
}

std::vector<double> NativeDensity::probabilities(NativeDensity& self, std::span<const int64_t> targets) {
  return density_probabilities(self.rho.f64(), targets, self.num_qubits);
}

int64_t NativeDensity::measure(NativeDensity& self, std::span<const int64_t> targets, double u) {
  const auto rho = self.rho.f64();
  const int64_t n = self.num_qubits;
  const int64_t outcome = sample_outcome(density_probabilities(rho, targets, n), u);
  if (n < 0 || n > 63) {
    // The collapsed matrix is empty; copying it over the matrix reads its float 0.
    if (!rho.empty()) panic_get(0, 0);
    return outcome;
  }
  check_density_collapse(rho, targets, outcome, n);
  check_density_matrix(rho, n);
  collapse_density_in_place(rho, targets, outcome, n);
  return outcome;
}

}  // namespace nimbic::density
