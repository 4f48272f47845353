// The operators one at a time on every d x d block, for large operators with
// few terms where the superoperator (d^4 entries) would cost more: gather
// the block B, accumulate (K_k B) K_k^dagger over k, scatter the sum back.
// The row bases are split over threads; each block is computed by the same
// code on any thread.
#include <algorithm>

#include "common/qubits.hpp"
#include "common/split_work.hpp"
#include "density/channels.hpp"

namespace nimbic::density {

namespace {

// Work of one row of blocks: its entries times the 4*m*d products each.
uint64_t block_row_work(uint64_t entries, uint64_t num_operators, uint64_t d) {
  const unsigned __int128 work = (unsigned __int128)entries * num_operators * 4 * d;
  return work > UINT64_MAX ? UINT64_MAX : uint64_t(work);
}

}  // namespace

void channel_blocks_into(double* rho, int64_t num_qubits, int64_t num_operators, std::span<const double> re,
                         std::span<const double> im, std::span<const int64_t> targets) {
  const std::vector<uint64_t> offsets = group_offsets(targets, num_qubits);
  const size_t d = offsets.size(), d2 = d * d;
  const uint64_t mask = offsets[d - 1], dim = uint64_t(1) << num_qubits;
  std::vector<uint64_t> bases;
  for_each_group_base(mask, num_qubits, [&](uint64_t b) { bases.push_back(b); });
  const uint64_t row_work = block_row_work(d * dim, uint64_t(num_operators), d);
  std::vector<double> scratch(6 * d2 * split_parts(bases.size(), row_work, 1));
  split_work(bases.size(), row_work, 1, [&](unsigned part, uint64_t begin, uint64_t end) {
    double* br = scratch.data() + 6 * d2 * part;
    double *bi = br + d2, *tr = bi + d2, *ti = tr + d2, *ar = ti + d2, *ai = ar + d2;
    for (uint64_t row = begin; row < end; ++row)
      for (const uint64_t x = bases[row]; uint64_t y : bases) {
        for (size_t i = 0; i < d; ++i)
          for (size_t j = 0; j < d; ++j) {
            const uint64_t at = 2 * ((x | offsets[i]) * dim + (y | offsets[j]));
            br[i * d + j] = rho[at];
            bi[i * d + j] = rho[at + 1];
          }
        std::fill(ar, ar + d2, 0.0);
        std::fill(ai, ai + d2, 0.0);
        for (int64_t k = 0; k < num_operators; ++k) {
          const double* kr = re.data() + k * d2;
          const double* ki = im.data() + k * d2;
          for (size_t i = 0; i < d; ++i)  // T = K B
            for (size_t j = 0; j < d; ++j) {
              double sr = 0.0, si = 0.0;
              for (size_t l = 0; l < d; ++l) {
                sr += kr[i * d + l] * br[l * d + j] - ki[i * d + l] * bi[l * d + j];
                si += kr[i * d + l] * bi[l * d + j] + ki[i * d + l] * br[l * d + j];
              }
              tr[i * d + j] = sr;
              ti[i * d + j] = si;
            }
          for (size_t i = 0; i < d; ++i)  // A += T K^dagger
            for (size_t j = 0; j < d; ++j) {
              double sr = 0.0, si = 0.0;
              for (size_t l = 0; l < d; ++l) {
                // T[i][l] * conj(K[j][l])
                sr += tr[i * d + l] * kr[j * d + l] + ti[i * d + l] * ki[j * d + l];
                si += ti[i * d + l] * kr[j * d + l] - tr[i * d + l] * ki[j * d + l];
              }
              ar[i * d + j] += sr;
              ai[i * d + j] += si;
            }
        }
        for (size_t i = 0; i < d; ++i)
          for (size_t j = 0; j < d; ++j) {
            const uint64_t at = 2 * ((x | offsets[i]) * dim + (y | offsets[j]));
            rho[at] = ar[i * d + j];
            rho[at + 1] = ai[i * d + j];
          }
      }
  });
}

}  // namespace nimbic::density
