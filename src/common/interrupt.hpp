// Long calls that work on private data stop early when their caller asks:
// between chunks of work a kernel calls interruption_point(), which runs the
// calling thread's stop check and throws Interrupted when it answers yes.
// The binding installs a check for the duration of a call that may stop
// (ScopedStopCheck); everywhere else (in-place methods, worker threads, the
// native checks) there is none, and a call never stops midway. No Python
// here: the check is a plain function.
#pragma once

#include <cstdint>
#include <exception>

namespace nimbic {

// Thrown at a chunk boundary when the stop check asked to stop; the check
// itself records why (the binding leaves the Python exception pending).
class Interrupted : public std::exception {
 public:
  const char* what() const noexcept override { return "interrupted"; }
};

// Answers whether the current call should stop.
using StopCheck = bool (*)();

namespace detail {
// The calling thread's check. Every call from Python sets it, so it is read
// directly from static TLS (initial-exec), not through __tls_get_addr.
extern constinit thread_local StopCheck current_check [[gnu::tls_model("initial-exec")]];
}  // namespace detail

// Installs `check` (nullptr: never stop) on the calling thread for the
// lifetime of the object, then restores the previous one.
class ScopedStopCheck {
 public:
  explicit ScopedStopCheck(StopCheck check) : previous_(detail::current_check) { detail::current_check = check; }
  ~ScopedStopCheck() { detail::current_check = previous_; }
  ScopedStopCheck(const ScopedStopCheck&) = delete;
  ScopedStopCheck& operator=(const ScopedStopCheck&) = delete;

 private:
  StopCheck previous_;
};

// Whether the calling thread has a check installed: without one, a call
// never stops, and slicing its work for the check only costs time.
inline bool stop_check_installed() { return detail::current_check != nullptr; }

// Throws Interrupted when the calling thread's check asks to stop. Never
// call it inside a split_work body: worker threads have no check, and the
// body on the calling thread must not throw.
void interruption_point();

// Calls interruption_point() each time `period` units of work have been
// counted, for loops whose steps are too small to check each.
class InterruptionTicker {
 public:
  explicit InterruptionTicker(uint64_t period) : period_(period) {}
  void tick(uint64_t work = 1) {
    done_ += work;
    if (done_ >= period_) {
      done_ = 0;
      interruption_point();
    }
  }

 private:
  uint64_t period_;
  uint64_t done_ = 0;
};

}  // namespace nimbic
