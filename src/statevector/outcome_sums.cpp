#include "statevector/outcome_sums.hpp"

#include <algorithm>
#include <vector>

#include "common/qubits.hpp"
#include "common/split_work.hpp"

namespace nimbic::statevector {

namespace {

struct Bases {
  uint64_t mask, free_bits;
  uint64_t base(uint64_t counter) const { return deposit_bits(counter, free_bits); }
  uint64_t next(uint64_t b) const { return ((b | mask) + 1) & free_bits; }
};

inline double norm2(const double* state, uint64_t i) {
  const double re = state[2 * i], im = state[2 * i + 1];
  return re * re + im * im;
}

// The sums of chunks first .. first+U-1 (each `len` bases) for Size outcomes
// at once, into out[u * stride + j]. The U * Size sums are independent
// chains, which the CPU overlaps.
template <size_t Size, size_t U>
void lockstep(const double* state, const Bases& bases, const uint64_t* off, uint64_t first, uint64_t len, double* out,
              size_t stride) {
  double acc[U][Size] = {};
  uint64_t b[U];
  for (size_t u = 0; u < U; ++u) b[u] = bases.base((first + u) * len);
  for (uint64_t step = 0; step < len; ++step)
    for (size_t u = 0; u < U; ++u) {
      for (size_t j = 0; j < Size; ++j) acc[u][j] = norm2(state, b[u] | off[j]) + acc[u][j];
      b[u] = bases.next(b[u]);
    }
  for (size_t u = 0; u < U; ++u)
    for (size_t j = 0; j < Size; ++j) out[u * stride + j] = acc[u][j];
}

using Lockstep = void (*)(const double*, const Bases&, const uint64_t*, uint64_t, uint64_t, double*, size_t);

// The widest lockstep for `size` outcomes (1, 2, 4 or 8) and `chunks` chunks:
// eight chains where the chunks allow.
Lockstep pick(size_t size, uint64_t chunks, size_t& u) {
  u = std::min<uint64_t>(8 / size, chunks);
  switch (size * 16 + u) {
    case 16 + 1:
      return lockstep<1, 1>;
    case 16 + 2:
      return lockstep<1, 2>;
    case 16 + 4:
      return lockstep<1, 4>;
    case 16 + 8:
      return lockstep<1, 8>;
    case 32 + 1:
      return lockstep<2, 1>;
    case 32 + 2:
      return lockstep<2, 2>;
    case 32 + 4:
      return lockstep<2, 4>;
    case 64 + 1:
      return lockstep<4, 1>;
    case 64 + 2:
      return lockstep<4, 2>;
    default:
      return lockstep<8, 1>;
  }
}

// Outcomes [j0, j1) of one chunk, any number of outcomes.
void outcome_block(const double* state, const Bases& bases, const uint64_t* off, size_t j0, size_t j1,
                   uint64_t chunk_index, uint64_t len, double* out) {
  std::fill(out + j0, out + j1, 0.0);
  uint64_t b = bases.base(chunk_index * len);
  for (uint64_t step = 0; step < len; ++step, b = bases.next(b))
    for (size_t j = j0; j < j1; ++j) out[j] = norm2(state, b | off[j]) + out[j];
}

constexpr size_t kOutcomeBlock = 64;  // outcomes per work item when there are many

}  // namespace

void outcome_chunk_sums(const double* state, int64_t num_qubits, std::span<const uint64_t> offsets, double* sums,
                        uint64_t chunk) {
  const size_t size = offsets.size();
  const uint64_t mask = offsets.back();
  const Bases bases{mask, ((uint64_t(1) << num_qubits) - 1) & ~mask};
  const uint64_t count = uint64_t(1) << (num_qubits - int64_t(__builtin_popcountll(mask)));
  const uint64_t len = std::min(chunk, count), chunks = count / len;
  if (size <= 8) {
    size_t u = 1;
    const Lockstep run = pick(size, chunks, u);
    split_work(chunks / u, u * len * size, 1, [&](unsigned, uint64_t begin, uint64_t end) {
      for (uint64_t item = begin; item < end; ++item)
        run(state, bases, offsets.data(), item * u, len, sums + item * u * size, size);
    });
  } else {
    const uint64_t blocks = (size + kOutcomeBlock - 1) / kOutcomeBlock;
    split_work(chunks * blocks, len * kOutcomeBlock, 1, [&](unsigned, uint64_t begin, uint64_t end) {
      for (uint64_t item = begin; item < end; ++item) {
        const uint64_t c = item / blocks, j0 = (item % blocks) * kOutcomeBlock;
        outcome_block(state, bases, offsets.data(), j0, std::min<size_t>(size, j0 + kOutcomeBlock), c, len,
                      sums + c * size);
      }
    });
  }
}

void outcome_sums(const double* state, int64_t num_qubits, std::span<const uint64_t> offsets, double* probs,
                  uint64_t chunk) {
  const size_t size = offsets.size();
  const uint64_t count = uint64_t(1) << (num_qubits - int64_t(__builtin_popcountll(offsets.back())));
  const uint64_t chunks = count / std::min(chunk, count);
  // Chunk sums, chunk by chunk; a single chunk's sums are the totals.
  std::vector<double> partial(chunks > 1 ? chunks * size : 0);
  outcome_chunk_sums(state, num_qubits, offsets, chunks > 1 ? partial.data() : probs, chunk);
  if (chunks == 1) return;
  split_work(size, chunks, 1, [&](unsigned, uint64_t begin, uint64_t end) {
    for (uint64_t j = begin; j < end; ++j) {
      double total = probs[j];
      for (uint64_t c = 0; c < chunks; ++c) total = partial[c * size + j] + total;
      probs[j] = total;
    }
  });
}

double outcome_sum(const double* state, int64_t num_qubits, uint64_t mask, uint64_t pattern, uint64_t chunk) {
  const Bases bases{mask, ((uint64_t(1) << num_qubits) - 1) & ~mask};
  const uint64_t count = uint64_t(1) << (num_qubits - int64_t(__builtin_popcountll(mask)));
  const uint64_t len = std::min(chunk, count), chunks = count / len;
  std::vector<double> partial(chunks);
  size_t u = 1;
  const Lockstep run = pick(1, chunks, u);
  split_work(chunks / u, u * len, 1, [&](unsigned, uint64_t begin, uint64_t end) {
    for (uint64_t item = begin; item < end; ++item) run(state, bases, &pattern, item * u, len, &partial[item * u], 1);
  });
  double total = 0.0;
  for (uint64_t c = 0; c < chunks; ++c) total = partial[c] + total;
  return total;
}

}  // namespace nimbic::statevector
