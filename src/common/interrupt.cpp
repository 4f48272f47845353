#include "common/interrupt.hpp"

namespace nimbic {

constinit thread_local StopCheck detail::current_check [[gnu::tls_model("initial-exec")]] = nullptr;

void interruption_point() {
  const StopCheck check = detail::current_check;
  if (check != nullptr && check()) throw Interrupted();
}

}  // namespace nimbic
