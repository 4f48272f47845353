#include "check.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "registry.hpp"

namespace nimbic::checks {

std::map<std::string, FamilyBody>& families() {
  static std::map<std::string, FamilyBody> all;
  return all;
}

RegisterFamily::RegisterFamily(const char* name, FamilyBody body) { families()[name] = body; }

void Context::record(bool ok, const std::string& what) {
  ++cases_;
  if (ok) return;
  if (failures_++ < 5) std::printf("  mismatch in %s: %s\n", family_.c_str(), what.c_str());
}

void Context::same_bits(std::span<const double> want, std::span<const double> got, const std::string& what) {
  record(want.size() == got.size() && std::memcmp(want.data(), got.data(), want.size_bytes()) == 0, what);
}
void Context::same_bits(std::span<const int64_t> want, std::span<const int64_t> got, const std::string& what) {
  record(want.size() == got.size() && std::memcmp(want.data(), got.data(), want.size_bytes()) == 0, what);
}
void Context::same_bits(std::span<const uint8_t> want, std::span<const uint8_t> got, const std::string& what) {
  record(want.size() == got.size() && std::memcmp(want.data(), got.data(), want.size_bytes()) == 0, what);
}
void Context::expect(bool ok, const std::string& what) { record(ok, what); }

double Random::value() {
  const int kind = int(engine_() % 10);
  if (kind == 0) return 0.0;
  if (kind == 1) return -0.0;
  return std::uniform_real_distribution<double>(-1.0, 1.0)(engine_);
}

std::vector<double> Random::floats(size_t count) {
  std::vector<double> v(count);
  for (double& x : v) x = value();
  return v;
}

std::vector<int64_t> Random::targets(int64_t n, int64_t k) {
  std::vector<int64_t> all(static_cast<size_t>(n));
  for (int64_t q = 0; q < n; ++q) all[size_t(q)] = q;
  std::shuffle(all.begin(), all.end(), engine_);
  return std::vector<int64_t>(all.begin(), all.begin() + k);
}

std::string describe_targets(std::span<const int64_t> targets) {
  std::string s = "[";
  for (size_t i = 0; i < targets.size(); ++i) {
    if (i != 0) s += ',';
    s += std::to_string(targets[i]);
  }
  s += ']';
  return s;
}

}  // namespace nimbic::checks
