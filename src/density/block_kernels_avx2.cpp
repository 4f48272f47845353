// AVX2 paths of the block actions. A register holds one complex entry of two
// blocks, at bases v and v + lane; when lane is 1 the two entries are
// adjacent and move with one 256-bit load or store.
//
// Complex products keep the scalar path's operations:
//   S[r][c] * x = x * [sr, sr, sr, sr] + swap(x) * [-si, si, -si, si]
//               = (sr*xr - si*xi, sr*xi + si*xr)
#include <bit>

#include "common/qubits.hpp"
#include "common/simd_avx2.hpp"
#include "common/split_work.hpp"
#include "density/block_kernels.hpp"

#if NIMBIC_X86_SIMD

namespace nimbic::density {

namespace {

constexpr size_t kMaxBlock = 256;
constexpr int kExtraBits = 2;

// A walk step handles W = 4 register pairs per block entry: the blocks at
// v + step[w] (w < W, step[] spanning the two free bits above the lane) and,
// in the upper lanes, those at v + step[w] + lane. When those bits are the
// lowest three, one block entry covers 128 contiguous bytes per step, which
// keeps the streams of the 4^k entries flowing on a matrix a power of two
// wide, where all of them fall on the same cache sets.
//
// The walked bases are split by rank over the threads of the split policy;
// each block is computed by the same code on any thread.
struct Walk {
  uint64_t fixed = 0;        // bits that stay clear in a walked base
  uint64_t free = 0;         // the other bits below 2^(2n)
  uint64_t steps = 0;        // number of walked bases
  uint64_t lane_floats = 0;  // float distance of the upper lanes
  uint64_t step_floats[4] = {0, 0, 0, 0};
  bool contiguous = false;  // lane == 1
  int pairs = 1;            // W
};

bool plan_walk(const BlockLayout& layout, Walk& walk) {
  if (!cpu_has_avx2() || layout.offsets.size() > kMaxBlock) return false;
  const uint64_t all = (uint64_t(1) << layout.vector_qubits) - 1;  // 2n <= 60: the matrix exists
  uint64_t free_bits = all & ~layout.mask;
  if (free_bits == 0) return false;
  const uint64_t lane = free_bits & -free_bits;
  free_bits &= ~lane;
  walk = Walk{};
  walk.fixed = layout.mask | lane;
  walk.lane_floats = 2 * lane;
  walk.contiguous = lane == 1;
  for (int extra = 0; extra < kExtraBits && free_bits != 0; ++extra) {
    const uint64_t bit = free_bits & -free_bits;
    free_bits &= ~bit;
    walk.fixed |= bit;
    for (int k = 0; k < walk.pairs; ++k) walk.step_floats[walk.pairs + k] = walk.step_floats[k] + 2 * bit;
    walk.pairs *= 2;
  }
  walk.free = all & ~walk.fixed;
  walk.steps = uint64_t(1) << std::popcount(walk.free);
  return true;
}

template <bool Contiguous>
NIMBIC_AVX2 inline __m256d load_pair(const double* p, uint64_t lane_floats) {
  if constexpr (Contiguous) {
    return _mm256_loadu_pd(p);
  } else {
    return avx2::load_pair(p, p + lane_floats);
  }
}

template <bool Contiguous>
NIMBIC_AVX2 inline void store_pair(double* p, uint64_t lane_floats, __m256d x) {
  if constexpr (Contiguous) {
    _mm256_storeu_pd(p, x);
  } else {
    avx2::store_pair(p, p + lane_floats, x);
  }
}

// D is the block size when known at compile time (the common 4 and 16), else 0.
template <size_t D, size_t W, bool Contiguous>
NIMBIC_AVX2 void permute_walk(double* rho, const BlockLayout& layout, const Walk& w, const int64_t* source,
                              uint64_t begin, uint64_t end) {
  const size_t size = D ? D : layout.offsets.size();
  const uint64_t* off = layout.offsets.data();
  const uint64_t fixed = w.fixed, free = w.free, lane = w.lane_floats;
  const uint64_t* step = w.step_floats;
  __m256d x[D ? D : kMaxBlock][W];
  uint64_t v = deposit_bits(begin, free);  // the walked base of rank `begin`
  for (uint64_t i = begin; i < end; ++i, v = ((v | fixed) + 1) & free) {
    for (size_t e = 0; e < size; ++e)
      for (size_t k = 0; k < W; ++k) x[e][k] = load_pair<Contiguous>(rho + 2 * (v | off[e]) + step[k], lane);
    for (size_t e = 0; e < size; ++e)
      for (size_t k = 0; k < W; ++k) store_pair<Contiguous>(rho + 2 * (v | off[e]) + step[k], lane, x[source[e]][k]);
  }
}

template <size_t D>
void permute_walk(double* rho, const BlockLayout& layout, const Walk& w, const int64_t* source, uint64_t begin,
                  uint64_t end) {
  if (w.pairs == 4 && w.contiguous) permute_walk<D, 4, true>(rho, layout, w, source, begin, end);
  if (w.pairs == 4 && !w.contiguous) permute_walk<D, 4, false>(rho, layout, w, source, begin, end);
  if (w.pairs == 2 && w.contiguous) permute_walk<D, 2, true>(rho, layout, w, source, begin, end);
  if (w.pairs == 2 && !w.contiguous) permute_walk<D, 2, false>(rho, layout, w, source, begin, end);
  if (w.pairs == 1 && w.contiguous) permute_walk<D, 1, true>(rho, layout, w, source, begin, end);
  if (w.pairs == 1 && !w.contiguous) permute_walk<D, 1, false>(rho, layout, w, source, begin, end);
}

struct Coefficients {
  bool real = true;
  std::vector<uint8_t> nonzero;  // D x D
  std::vector<double> packed;    // D x D x 8
};

// The map as a dense D x D table whose zero entries are skipped: every block
// takes the same branches, so they are predicted.
template <size_t D, size_t W, bool Contiguous, bool Real>
NIMBIC_AVX2 void map_walk(double* rho, const BlockLayout& layout, const Walk& w, const Coefficients& map,
                          uint64_t begin, uint64_t end) {
  const size_t size = D ? D : layout.offsets.size();
  const uint64_t* off = layout.offsets.data();
  const uint8_t* nonzero = map.nonzero.data();
  const double* coefficients = map.packed.data();
  const uint64_t fixed = w.fixed, free = w.free, lane = w.lane_floats;
  const uint64_t* step = w.step_floats;
  __m256d x[D ? D : kMaxBlock][W], xs[D ? D : kMaxBlock][W];
  uint64_t v = deposit_bits(begin, free);  // the walked base of rank `begin`
  for (uint64_t i = begin; i < end; ++i, v = ((v | fixed) + 1) & free) {
    for (size_t c = 0; c < size; ++c)
      for (size_t k = 0; k < W; ++k) {
        x[c][k] = load_pair<Contiguous>(rho + 2 * (v | off[c]) + step[k], lane);
        if constexpr (!Real) xs[c][k] = avx2::swap_re_im(x[c][k]);
      }
    for (size_t r = 0; r < size; ++r) {
      __m256d acc[W];
      for (size_t k = 0; k < W; ++k) acc[k] = _mm256_setzero_pd();
      for (size_t c = 0; c < size; ++c) {
        const size_t t = r * size + c;
        if (!nonzero[t]) continue;
        const __m256d sr = _mm256_loadu_pd(coefficients + 8 * t);
        if constexpr (Real) {
          for (size_t k = 0; k < W; ++k) acc[k] = _mm256_add_pd(acc[k], _mm256_mul_pd(x[c][k], sr));
        } else {
          const __m256d sims = _mm256_loadu_pd(coefficients + 8 * t + 4);
          for (size_t k = 0; k < W; ++k)
            acc[k] = _mm256_add_pd(acc[k], _mm256_add_pd(_mm256_mul_pd(x[c][k], sr), _mm256_mul_pd(xs[c][k], sims)));
        }
      }
      for (size_t k = 0; k < W; ++k) store_pair<Contiguous>(rho + 2 * (v | off[r]) + step[k], lane, acc[k]);
    }
  }
}

template <size_t D, size_t W>
void map_walk(double* rho, const BlockLayout& layout, const Walk& w, const Coefficients& map, uint64_t begin,
              uint64_t end) {
  if (w.contiguous && map.real) map_walk<D, W, true, true>(rho, layout, w, map, begin, end);
  if (w.contiguous && !map.real) map_walk<D, W, true, false>(rho, layout, w, map, begin, end);
  if (!w.contiguous && map.real) map_walk<D, W, false, true>(rho, layout, w, map, begin, end);
  if (!w.contiguous && !map.real) map_walk<D, W, false, false>(rho, layout, w, map, begin, end);
}

template <size_t D>
void map_walk(double* rho, const BlockLayout& layout, const Walk& w, const Coefficients& map, uint64_t begin,
              uint64_t end) {
  if (w.pairs == 4) map_walk<D, 4>(rho, layout, w, map, begin, end);
  if (w.pairs == 2) map_walk<D, 2>(rho, layout, w, map, begin, end);
  if (w.pairs == 1) map_walk<D, 1>(rho, layout, w, map, begin, end);
}

// Dense D x D coefficients laid out as the registers use them:
// [sr, sr, sr, sr] and [-si, si, -si, si].
Coefficients pack_coefficients(const SparseMap& map) {
  const size_t size = size_t(map.size);
  Coefficients packed;
  packed.real = map.real;
  packed.nonzero.assign(size * size, 0);
  packed.packed.assign(8 * size * size, 0.0);
  for (size_t r = 0; r < size; ++r)
    for (int64_t t = map.row_start[r]; t < map.row_start[r + 1]; ++t) {
      const size_t at = r * size + size_t(map.column[t]);
      double* c = &packed.packed[8 * at];
      packed.nonzero[at] = 1;
      for (int i = 0; i < 4; i += 2) {
        c[i] = c[i + 1] = map.re[t];
        c[4 + i] = -map.im[t];
        c[5 + i] = map.im[t];
      }
    }
  return packed;
}

}  // namespace

bool permute_blocks_avx2(double* rho, const BlockLayout& layout, std::span<const int64_t> source) {
  Walk w;
  if (!plan_walk(layout, w)) return false;
  const size_t size = layout.offsets.size();
  const int64_t* s = source.data();
  split_work(w.steps, 2 * w.pairs * size, 1, [&](unsigned, uint64_t begin, uint64_t end) {
    if (size == 4)
      permute_walk<4>(rho, layout, w, s, begin, end);
    else if (size == 16)
      permute_walk<16>(rho, layout, w, s, begin, end);
    else
      permute_walk<0>(rho, layout, w, s, begin, end);
  });
  return true;
}

bool map_blocks_avx2(double* rho, const BlockLayout& layout, const SparseMap& map) {
  Walk w;
  if (!plan_walk(layout, w)) return false;
  const Coefficients packed = pack_coefficients(map);
  const size_t size = layout.offsets.size();
  split_work(w.steps, 2 * w.pairs * map_block_work(map), 1, [&](unsigned, uint64_t begin, uint64_t end) {
    if (size == 4)
      map_walk<4>(rho, layout, w, packed, begin, end);
    else if (size == 16)
      map_walk<16>(rho, layout, w, packed, begin, end);
    else
      map_walk<0>(rho, layout, w, packed, begin, end);
  });
  return true;
}

}  // namespace nimbic::density

#else

namespace nimbic::density {

bool permute_blocks_avx2(double*, const BlockLayout&, std::span<const int64_t>) { return false; }
bool map_blocks_avx2(double*, const BlockLayout&, const SparseMap&) { return false; }

}  // namespace nimbic::density

#endif  // NIMBIC_X86_SIMD
