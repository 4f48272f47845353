// The density matrix read as a vector of 2n qubits: entry (r, c) is element
// r*2^n + c. A channel on k targets then acts on blocks of D = 4^k elements:
// the block at base v (v & mask == 0) holds the elements v | offset(e), where
// e = a*d + b names block entry (a, b), that is row pattern a and column
// pattern b of the targets. Three actions, applied to every block in place:
//   permute: out[e] = in[source[e]]                (all of a block is read first)
//   scale:   out[e] = in[e] * factor[e]            (xr*fr - xi*fi, xr*fi + xi*fr)
//   map:     out[r] = sum over the non-zero S[r][c], c increasing, from 0.0, of
//            S[r][c] * in[c]   (sr*br - si*bi, sr*bi + si*br; sr*br, sr*bi when
//            S is real)
// Each has a scalar path and an AVX2 path, chosen at run time, that gives the
// same bits. The AVX2 path holds the same entry of two blocks, at bases v and
// v + lane (the lowest bit outside the mask), in one register. Both paths
// split the blocks over the threads of the split policy.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "density/superoperator.hpp"

namespace nimbic::density {

struct BlockLayout {
  std::vector<uint64_t> offsets;  // D element offsets, index a*d + b
  uint64_t mask = 0;              // OR of the offsets
  int64_t vector_qubits = 0;      // 2n
};

BlockLayout block_layout(std::span<const int64_t> targets, int64_t num_qubits);

// Number of blocks: 4^n / D.
uint64_t block_count(const BlockLayout& layout);

// Work of mapping one block, for the thread split: its D entries and one
// product per non-zero entry of the map.
inline uint64_t map_block_work(const SparseMap& map) { return uint64_t(map.size) + uint64_t(map.column.size()); }

void permute_blocks(double* rho, const BlockLayout& layout, std::span<const int64_t> source);
void map_blocks(double* rho, const BlockLayout& layout, const SparseMap& map);

// The two paths of each action, for the check that compares them. An AVX2
// path returns false, having done nothing, when the CPU lacks AVX2, when
// D > 256, or when every bit is a target bit (a single block).
void permute_blocks_scalar(double* rho, const BlockLayout& layout, std::span<const int64_t> source);
void map_blocks_scalar(double* rho, const BlockLayout& layout, const SparseMap& map);
void scale_blocks_scalar(double* rho, const BlockLayout& layout, std::span<const double> factors);
bool permute_blocks_avx2(double* rho, const BlockLayout& layout, std::span<const int64_t> source);
bool map_blocks_avx2(double* rho, const BlockLayout& layout, const SparseMap& map);

}  // namespace nimbic::density
