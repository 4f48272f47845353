#include "common/split_work.hpp"

#include <algorithm>

namespace nimbic {

namespace {

const SplitPolicy kDefaultPolicy{};
thread_local const SplitPolicy* current_policy = &kDefaultPolicy;

}  // namespace

const SplitPolicy& split_policy() { return *current_policy; }

ScopedSplitPolicy::ScopedSplitPolicy(SplitPolicy policy) : previous_(current_policy), policy_(policy) {
  current_policy = &policy_;
}

ScopedSplitPolicy::~ScopedSplitPolicy() { current_policy = previous_; }

unsigned split_parts(uint64_t count, uint64_t item_work, uint64_t align) {
  const SplitPolicy& policy = split_policy();
  const uint64_t units = align == 0 ? 0 : count / align;
  // Work is compared as count * item_work without forming the product.
  if (units < 2 || (item_work != 0 && count < (policy.min_work + item_work - 1) / item_work) ||
      (item_work == 0 && policy.min_work > 0))
    return 1;
  const uint64_t threads = policy.threads != 0 ? policy.threads : std::max(1u, available_cores());
  return unsigned(std::min<uint64_t>(threads, units));
}

}  // namespace nimbic
