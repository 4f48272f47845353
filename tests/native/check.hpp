// A small harness for the native checks: families of cases registered at
// start-up, bit-for-bit comparisons, random inputs and thread-count sweeps.
#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "common/interrupt.hpp"
#include "common/split_work.hpp"

namespace nimbic::checks {

// Counts the cases of one family and reports the first mismatches.
class Context {
 public:
  explicit Context(std::string family) : family_(std::move(family)) {}
  // One case: `got` must hold exactly the bits of `want` (memcmp).
  void same_bits(std::span<const double> want, std::span<const double> got, const std::string& what);
  void same_bits(std::span<const int64_t> want, std::span<const int64_t> got, const std::string& what);
  void same_bits(std::span<const uint8_t> want, std::span<const uint8_t> got, const std::string& what);
  // One case that holds when `ok` is true.
  void expect(bool ok, const std::string& what);
  int cases() const { return cases_; }
  int failures() const { return failures_; }

 private:
  void record(bool ok, const std::string& what);
  std::string family_;
  int cases_ = 0;
  int failures_ = 0;
};

using FamilyBody = void (*)(Context&);
struct RegisterFamily {
  RegisterFamily(const char* name, FamilyBody body);
};

#define NIMBIC_CHECK_FAMILY(name)                                                          \
  static void name##_family(::nimbic::checks::Context&);                                   \
  static const ::nimbic::checks::RegisterFamily name##_registration(#name, name##_family); \
  static void name##_family(::nimbic::checks::Context& ctx)

// Inputs drawn from a fixed seed: mostly ordinary numbers in [-1, 1), with
// exact and negative zeros mixed in.
class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}
  double value();
  std::vector<double> floats(size_t count);
  // k distinct qubits of n in random order.
  std::vector<int64_t> targets(int64_t n, int64_t k);
  uint64_t below(uint64_t bound) { return engine_() % bound; }
  std::mt19937_64& engine() { return engine_; }

 private:
  std::mt19937_64 engine_;
};

// Thread counts every split kernel is checked at, whatever the machine.
inline constexpr unsigned kThreadCounts[] = {1, 2, 3, 8};

// Runs body(threads) once per thread count, with splitting forced at any size.
// From 3 threads on, a stop check that never stops is installed, as for a
// module function called from Python: long kernels then go in slices. A last
// round splits 4 ways where only one worker thread starts: the parts whose
// threads the system refuses run on the calling thread.
template <class Body>
void for_each_thread_count(Body&& body) {
  for (unsigned threads : kThreadCounts) {
    ScopedSplitPolicy policy({threads, 0});
    ScopedStopCheck stop(threads >= 3 ? +[] { return false; } : nullptr);
    body(threads);
  }
  ScopedSplitPolicy refused({4, 0, 1});
  body(4u);
}

// The single-thread reference policy, for computing the expected result.
struct SingleThread : ScopedSplitPolicy {
  SingleThread() : ScopedSplitPolicy({1, 0}) {}
};

std::string describe_targets(std::span<const int64_t> targets);

}  // namespace nimbic::checks
