#include "density/block_kernels.hpp"

#include "common/qubits.hpp"
#include "common/split_work.hpp"
#include "density/group_range.hpp"

namespace nimbic::density {

BlockLayout block_layout(std::span<const int64_t> targets, int64_t num_qubits) {
  const std::vector<uint64_t> local = group_offsets(targets, num_qubits);
  const size_t d = local.size();
  BlockLayout layout;
  layout.vector_qubits = 2 * num_qubits;
  layout.offsets.resize(d * d);
  for (size_t a = 0; a < d; ++a)
    for (size_t b = 0; b < d; ++b) layout.offsets[a * d + b] = (local[a] << num_qubits) | local[b];
  layout.mask = layout.offsets.back();
  return layout;
}

uint64_t block_count(const BlockLayout& layout) { return group_base_count(layout.mask, layout.vector_qubits); }

// Each action splits the blocks by rank; a block is computed by the same code
// on whichever thread, so the bits do not depend on the thread count.
namespace {

template <class Body>
void split_blocks(const BlockLayout& layout, uint64_t block_work, Body&& body) {
  split_work(block_count(layout), block_work, 1, [&](unsigned part, uint64_t begin, uint64_t end) {
    for_each_group_base_between(layout.mask, layout.vector_qubits, begin, end, [&](uint64_t v) { body(part, v); });
  });
}

}  // namespace

void permute_blocks_scalar(double* rho, const BlockLayout& layout, std::span<const int64_t> source) {
  const size_t size = layout.offsets.size();
  const uint64_t* off = layout.offsets.data();
  std::vector<double> scratch(2 * size * split_parts(block_count(layout), size, 1));
  split_blocks(layout, size, [&](unsigned part, uint64_t v) {
    double* re = scratch.data() + 2 * size * part;
    double* im = re + size;
    for (size_t e = 0; e < size; ++e) {
      re[e] = rho[2 * (v | off[e])];
      im[e] = rho[2 * (v | off[e]) + 1];
    }
    for (size_t e = 0; e < size; ++e) {
      rho[2 * (v | off[e])] = re[size_t(source[e])];
      rho[2 * (v | off[e]) + 1] = im[size_t(source[e])];
    }
  });
}

void scale_blocks_scalar(double* rho, const BlockLayout& layout, std::span<const double> factors) {
  const size_t size = layout.offsets.size();
  const uint64_t* off = layout.offsets.data();
  split_blocks(layout, size, [&](unsigned, uint64_t v) {
    for (size_t e = 0; e < size; ++e) {
      double* p = rho + 2 * (v | off[e]);
      const double xr = p[0], xi = p[1], fr = factors[2 * e], fi = factors[2 * e + 1];
      p[0] = xr * fr - xi * fi;
      p[1] = xr * fi + xi * fr;
    }
  });
}

void map_blocks_scalar(double* rho, const BlockLayout& layout, const SparseMap& map) {
  const size_t size = layout.offsets.size();
  const uint64_t* off = layout.offsets.data();
  const uint64_t work = map_block_work(map);
  std::vector<double> scratch(2 * size * split_parts(block_count(layout), work, 1));
  split_blocks(layout, work, [&](unsigned part, uint64_t v) {
    double* br = scratch.data() + 2 * size * part;
    double* bi = br + size;
    for (size_t c = 0; c < size; ++c) {
      br[c] = rho[2 * (v | off[c])];
      bi[c] = rho[2 * (v | off[c]) + 1];
    }
    for (size_t r = 0; r < size; ++r) {
      double ar = 0.0, ai = 0.0;
      for (int64_t t = map.row_start[r]; t < map.row_start[r + 1]; ++t) {
        const size_t c = size_t(map.column[t]);
        const double sr = map.re[t], si = map.im[t];
        if (map.real) {
          ar = ar + sr * br[c];
          ai = ai + sr * bi[c];
        } else {
          ar = ar + (sr * br[c] - si * bi[c]);
          ai = ai + (sr * bi[c] + si * br[c]);
        }
      }
      rho[2 * (v | off[r])] = ar;
      rho[2 * (v | off[r]) + 1] = ai;
    }
  });
}

void permute_blocks(double* rho, const BlockLayout& layout, std::span<const int64_t> source) {
  if (!permute_blocks_avx2(rho, layout, source)) permute_blocks_scalar(rho, layout, source);
}

void map_blocks(double* rho, const BlockLayout& layout, const SparseMap& map) {
  if (!map_blocks_avx2(rho, layout, map)) map_blocks_scalar(rho, layout, map);
}

}  // namespace nimbic::density
