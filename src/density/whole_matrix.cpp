#include "density/whole_matrix.hpp"

#include <algorithm>
#include <string>

#include "common/memory.hpp"
#include "common/panic.hpp"
#include "common/qubits.hpp"
#include "common/split_work_interruptible.hpp"
#include "density/density_layout.hpp"
#include "density/group_range.hpp"

namespace nimbic::density {

namespace {

// The first read past the end of a or u in sandwich's order: u row by row;
// row k of a in full for every non-zero u(i, k).
void check_sandwich_reads(std::span<const double> a, std::span<const double> u, int64_t dim) {
  using u128 = unsigned __int128;
  const int64_t len_a = int64_t(a.size()), len_u = int64_t(u.size());
  const u128 floats = 2 * u128(dim) * u128(dim);
  if (u128(len_a) >= floats && u128(len_u) >= floats) return;
  // A u entry is read before any k >= len_u can be reached.
  std::vector<bool> row_checked(size_t(std::min<int64_t>(dim, len_u)), false);
  for (int64_t i = 0; i < dim; ++i)
    for (int64_t k = 0; k < dim; ++k) {
      const int64_t at = 2 * (i * dim + k);
      if (at >= len_u) panic_get(at, len_u);
      if (at + 1 >= len_u) panic_get(at + 1, len_u);
      if ((u[at] == 0.0 && u[at + 1] == 0.0) || row_checked[size_t(k)]) continue;
      row_checked[size_t(k)] = true;
      const u128 row_start = 2 * u128(k) * u128(dim);
      if (u128(len_a) < row_start + 2 * u128(dim))
        panic_get_wide(row_start > u128(len_a) ? row_start : u128(len_a), len_a);
    }
}

[[noreturn]] void panic_slice(int64_t lo, int64_t hi, int64_t len) {
  panic("array.slice: slice bounds out of range (lo,hi,a.len):" + std::to_string(lo) + ", " + std::to_string(hi) +
        ", " + std::to_string(len));
}

}  // namespace

void outer_product_into(double* out, const double* amps, uint64_t g) {
  split_work_interruptible(g, g, 1, [&](unsigned, uint64_t begin, uint64_t end) {
    for (uint64_t i = begin; i < end; ++i)
      for (uint64_t j = 0; j < g; ++j) {
        out[2 * (i * g + j)] = amps[2 * i] * amps[2 * j] + amps[2 * i + 1] * amps[2 * j + 1];
        out[2 * (i * g + j) + 1] = amps[2 * j] * amps[2 * i + 1] - amps[2 * j + 1] * amps[2 * i];
      }
  });
}

std::vector<double> state_to_density(std::span<const double> state) {
  const int64_t g = int64_t(state.size() / 2);
  std::vector<double> out = zero_floats(square_matrix_floats(g));
  outer_product_into(out.data(), state.data(), uint64_t(g));
  return out;
}

std::vector<double> sandwich(std::span<const double> a, std::span<const double> u, int64_t dim) {
  if (dim < 1) return {};
  const size_t floats = size_t(square_matrix_floats(dim));
  check_sandwich_reads(a, u, dim);
  const size_t d = size_t(dim);
  check_result(Count(floats), 16);  // T = U A beside the result, and the result's list
  std::vector<double> t(floats, 0.0), r = zero_floats(Count(floats));
  // Each row of T, then of R, is one work item: rows are split over threads.
  const uint64_t row_work = uint64_t(d) * d;
  split_work_interruptible(d, row_work, 1, [&](unsigned, uint64_t begin, uint64_t end) {
    for (size_t i = begin; i < end; ++i)  // T = U A
      for (size_t k = 0; k < d; ++k) {
        const double xr = u[2 * (i * d + k)], xi = u[2 * (i * d + k) + 1];
        if (xr == 0.0 && xi == 0.0) continue;
        double* row = &t[2 * i * d];
        const double* ak = &a[2 * k * d];
        for (size_t j = 0; j < d; ++j) {
          row[2 * j] += xr * ak[2 * j] - xi * ak[2 * j + 1];
          row[2 * j + 1] += xr * ak[2 * j + 1] + xi * ak[2 * j];
        }
      }
  });
  split_work_interruptible(d, row_work, 1, [&](unsigned, uint64_t begin, uint64_t end) {
    for (size_t i = begin; i < end; ++i)  // R = T U^dagger
      for (size_t k = 0; k < d; ++k) {
        const double yr = t[2 * (i * d + k)], yi = t[2 * (i * d + k) + 1];
        if (yr == 0.0 && yi == 0.0) continue;
        double* row = &r[2 * i * d];
        for (size_t j = 0; j < d; ++j) {
          const double wr = u[2 * (j * d + k)], wi = u[2 * (j * d + k) + 1];
          row[2 * j] += yr * wr + yi * wi;
          row[2 * j + 1] += yi * wr - yr * wi;
        }
      }
  });
  return r;
}

std::vector<double> channel(std::span<const double> rho, std::span<const double> ops, int64_t num_ops, int64_t dim) {
  const int64_t s = square_matrix_floats(dim);
  if (s == 0) return {};  // dim 0: every term is empty
  // Each term's errors in order (its slice, its sandwich's reads, adding an
  // empty sandwich when dim < 0) before the result is allocated.
  const int64_t len = int64_t(ops.size());
  for (int64_t k = 0; k < num_ops; ++k) {
    const int64_t lo = k * s;  // the slice before this one fitted, so lo <= len
    if (len - lo < s) panic_slice(lo, lo + s, len);
    if (dim < 1) panic_get(0, 0);
    check_sandwich_reads(rho, ops.subspan(size_t(lo), size_t(s)), dim);
  }
  std::vector<double> out = zero_floats(s);
  for (int64_t k = 0; k < num_ops; ++k) {
    const std::vector<double> term = sandwich(rho, ops.subspan(size_t(k * s), size_t(s)), dim);
    split_work(uint64_t(s), 1, 1, [&](unsigned, uint64_t begin, uint64_t end) {
      for (uint64_t i = begin; i < end; ++i) out[i] += term[i];
    });
  }
  return out;
}

std::vector<double> embed_operator(std::span<const double> op, int64_t op_dim, std::span<const int64_t> targets,
                                   int64_t num_qubits) {
  const int64_t n = num_qubits, k = int64_t(targets.size());
  check_targets(targets, n);
  if (k > 62 || op_dim != (int64_t(1) << k))
    panic("operator dimension " + std::to_string(op_dim) + " does not match " + std::to_string(k) + " targets");
  if (n < 0 || n >= 64) return {};
  const int64_t floats = density_floats(n);
  if (floats == INT64_MAX) panic_out_of_memory();
  // The operator is read column by column.
  const int64_t d = op_dim, len = int64_t(op.size());
  if (len < 2 * d * d)
    for (int64_t c = 0; c < d; ++c)
      for (int64_t r = 0; r < d; ++r) {
        const int64_t at = 2 * (r * d + c);
        if (at >= len) panic_get(at, len);
        if (at + 1 >= len) panic_get(at + 1, len);
      }
  std::vector<double> out = zero_floats(floats);
  const std::vector<uint64_t> offsets = group_offsets(targets, n);
  const uint64_t dim = uint64_t(1) << n, mask = offsets.back();
  // Each group base writes its own rows; the bases are split over threads.
  auto write_bases = [&](unsigned, uint64_t begin, uint64_t end) {
    for_each_group_base_between(mask, n, begin, end, [&](uint64_t l) {
      for (int64_t c = 0; c < d; ++c)
        for (int64_t r = 0; r < d; ++r) {
          const uint64_t at = 2 * ((l | offsets[size_t(r)]) * dim + (l | offsets[size_t(c)]));
          out[at] = op[size_t(2 * (r * d + c))];
          out[at + 1] = op[size_t(2 * (r * d + c) + 1)];
        }
    });
  };
  split_work_interruptible(group_base_count(mask, n), uint64_t(d) * uint64_t(d), 1, write_bases);
  return out;
}

}  // namespace nimbic::density
