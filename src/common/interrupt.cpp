#include "common/interrupt.hpp"

namespace nimbic {

namespace {

thread_local StopCheck current_check = nullptr;

}  // namespace

ScopedStopCheck::ScopedStopCheck(StopCheck check) : previous_(current_check) { current_check = check; }

ScopedStopCheck::~ScopedStopCheck() { current_check = previous_; }

void interruption_point() {
  if (current_check != nullptr && current_check()) throw Interrupted();
}

}  // namespace nimbic
