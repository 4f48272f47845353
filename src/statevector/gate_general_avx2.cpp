// AVX2 kernel for any number of targets: two groups per register, the same
// gathers, products and sums as the scalar kernel. Two and three targets get
// fixed-size code (gate entries pre-broadcast, amplitudes in registers); more
// targets loop over sizes known only at run time.
#include <cstdint>
#include <vector>

#include "common/qubits.hpp"
#include "common/simd_avx2.hpp"
#include "common/split_work.hpp"
#include "common/split_work_interruptible.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/run_prefetch.hpp"

#if NIMBIC_X86_SIMD

namespace nimbic::statevector {

namespace {

using namespace avx2;

// The two groups of one register: either neighbouring bases (b, b + 1),
// whose amplitudes sit side by side, or any two bases (the lowest qubit is a
// target).
struct Adjacent {
  double* base;  // state + 2 * b
  NIMBIC_AVX2 __m256d load(uint64_t off) const { return _mm256_loadu_pd(base + 2 * off); }
  NIMBIC_AVX2 void store(uint64_t off, __m256d v) const { _mm256_storeu_pd(base + 2 * off, v); }
};
struct Apart {
  double* base0;  // state + 2 * b0
  double* base1;  // state + 2 * b1
  NIMBIC_AVX2 __m256d load(uint64_t off) const { return load_pair(base0 + 2 * off, base1 + 2 * off); }
  NIMBIC_AVX2 void store(uint64_t off, __m256d v) const { store_pair(base0 + 2 * off, base1 + 2 * off, v); }
};

// Gate tables for `Size` rows known at compile time.
template <size_t Size>
struct Fixed {
  uint64_t off[Size];
  uint64_t src[Size];  // off[perm[r]]: where row r of a permutation reads
  __m256d sign[Size];
  __m256d gr[Size * Size], gi[Size * Size];

  const Fixed& copy() const { return *this; }  // read-only: threads share it

  template <bool Permutation, class Lanes>
  NIMBIC_AVX2 inline void apply(const Lanes& lanes) const {
    if constexpr (Permutation) {
      __m256d a[Size];
      for (size_t r = 0; r < Size; ++r) a[r] = lanes.load(src[r]);
      for (size_t r = 0; r < Size; ++r) lanes.store(off[r], _mm256_mul_pd(sign[r], a[r]));
    } else {
      // Column by column, so that only one input and the row sums are live;
      // each row still sums its columns from 0.0 in increasing order.
      __m256d acc[Size];
      for (size_t r = 0; r < Size; ++r) acc[r] = _mm256_setzero_pd();
      for (size_t c = 0; c < Size; ++c) {
        const __m256d v = lanes.load(off[c]), v_swapped = swap_re_im(v);
        for (size_t r = 0; r < Size; ++r)
          acc[r] = _mm256_add_pd(acc[r], cmul(gr[r * Size + c], gi[r * Size + c], v, v_swapped));
      }
      for (size_t r = 0; r < Size; ++r) lanes.store(off[r], acc[r]);
    }
  }
};

// Any size: gathered amplitudes in a scratch array (one per thread), gate
// entries broadcast from the gate itself.
struct Dynamic {
  std::span<const uint64_t> off;
  const double* gate;
  const int64_t* perm;
  const double* sign;
  std::vector<double> scratch;  // 2^k amplitudes and their re/im-swapped copies, plus alignment
  __m256d* a = nullptr;
  __m256d* sw = nullptr;

  Dynamic(std::span<const uint64_t> off_, const double* gate_, const int64_t* perm_, const double* sign_)
      : off(off_), gate(gate_), perm(perm_), sign(sign_), scratch(8 * off_.size() + 4) {
    const uintptr_t raw = reinterpret_cast<uintptr_t>(scratch.data());
    a = reinterpret_cast<__m256d*>((raw + 31) & ~uintptr_t(31));
    sw = a + off.size();
  }
  Dynamic copy() const { return Dynamic(off, gate, perm, sign); }

  template <bool Permutation, class Lanes>
  NIMBIC_AVX2 inline void apply(const Lanes& lanes) const {
    const size_t size = off.size();
    for (size_t j = 0; j < size; ++j) a[j] = lanes.load(off[j]);
    if constexpr (Permutation) {
      for (size_t r = 0; r < size; ++r) lanes.store(off[r], _mm256_mul_pd(broadcast(sign + r), a[perm[r]]));
    } else {
      for (size_t c = 0; c < size; ++c) sw[c] = swap_re_im(a[c]);
      for (size_t r = 0; r < size; ++r) {
        const double* row = gate + 2 * r * size;
        __m256d acc = _mm256_setzero_pd();
        for (size_t c = 0; c < size; ++c)
          acc = _mm256_add_pd(acc, cmul(broadcast(row + 2 * c), broadcast(row + 2 * c + 1), a[c], sw[c]));
        lanes.store(off[r], acc);
      }
    }
  }
};

// Applies `kernel` to the group bases number begin .. end-1 (both even) in
// increasing order, two per register.
template <bool Permutation, class Kernel>
NIMBIC_AVX2 void sweep(double* state, int64_t num_qubits, std::span<const uint64_t> offsets, const Kernel& kernel,
                       uint64_t begin, uint64_t end) {
  const uint64_t mask = offsets.back();
  const uint64_t low = mask & (~mask + 1);  // lowest target bit
  const uint64_t free_bits = ((uint64_t(1) << num_qubits) - 1) & ~mask;
  auto next = [&](uint64_t b) { return ((b | mask) + 1) & free_bits; };
  uint64_t b = deposit_bits(begin, free_bits);
  if (low > 1) {
    // Bases come in runs of `low` consecutive indices: neighbouring bases
    // share each register.
    RunPrefetch pf(state, num_qubits, offsets, mask, low);
    for (uint64_t c = begin; c < end; c += 2, b = next(b + 1)) {
      pf.at(b);
      kernel.template apply<Permutation>(Adjacent{state + 2 * b});
    }
    return;
  }
  // The lowest qubit is a target: pair each base with the next one.
  for (uint64_t c = begin; c < end; c += 2) {
    const uint64_t b1 = next(b);
    kernel.template apply<Permutation>(Apart{state + 2 * b, state + 2 * b1});
    b = next(b1);
  }
}

// Runs `kernel` over all group bases, split over threads when big.
template <bool Permutation, class Kernel>
void sweep_all(double* state, int64_t num_qubits, std::span<const uint64_t> offsets, const Kernel& kernel) {
  const uint64_t bases = uint64_t(1) << (num_qubits - int64_t(__builtin_ctzll(offsets.size())));
  // Scratch for each worker, allocated before the split.
  const unsigned parts = split_parts(bases, offsets.size());
  std::vector<std::decay_t<decltype(kernel.copy())>> workers;
  workers.reserve(parts);
  for (unsigned p = 1; p < parts; ++p) workers.push_back(kernel.copy());
  auto sweep_part = [&](unsigned part, uint64_t begin, uint64_t end) {
    sweep<Permutation>(state, num_qubits, offsets, part == 0 ? kernel : workers[part - 1], begin, end);
  };
  // A base costs a gate row per amplitude.
  split_work_interruptible(bases, offsets.size(), 2, sweep_part, offsets.size() * offsets.size());
}

template <size_t Size>
NIMBIC_AVX2 void run_fixed(double* state, int64_t num_qubits, const double* gate, std::span<const uint64_t> offsets,
                           const int64_t* perm, const double* sign) {
  Fixed<Size> t;
  for (size_t j = 0; j < Size; ++j) t.off[j] = offsets[j];
  if (perm != nullptr) {
    for (size_t r = 0; r < Size; ++r) {
      t.src[r] = offsets[size_t(perm[r])];
      t.sign[r] = broadcast(sign + r);
    }
    sweep_all<true>(state, num_qubits, offsets, t);
  } else {
    for (size_t e = 0; e < Size * Size; ++e) {
      t.gr[e] = broadcast(gate + 2 * e);
      t.gi[e] = broadcast(gate + 2 * e + 1);
    }
    sweep_all<false>(state, num_qubits, offsets, t);
  }
}

}  // namespace

bool apply_gate_general_avx2(double* state, int64_t num_qubits, const double* gate, std::span<const uint64_t> offsets,
                             const int64_t* perm, const double* sign) {
  const size_t size = offsets.size();
  if (!cpu_has_avx2() || num_qubits <= int64_t(__builtin_ctzll(size))) return false;
  if (size == 4) {
    run_fixed<4>(state, num_qubits, gate, offsets, perm, sign);
  } else if (size == 8) {
    run_fixed<8>(state, num_qubits, gate, offsets, perm, sign);
  } else {
    const Dynamic kernel(offsets, gate, perm, sign);
    if (perm != nullptr)
      sweep_all<true>(state, num_qubits, offsets, kernel);
    else
      sweep_all<false>(state, num_qubits, offsets, kernel);
  }
  return true;
}

}  // namespace nimbic::statevector

#else

namespace nimbic::statevector {

bool apply_gate_general_avx2(double*, int64_t, const double*, std::span<const uint64_t>, const int64_t*,
                             const double*) {
  return false;
}

}  // namespace nimbic::statevector

#endif  // NIMBIC_X86_SIMD
