#include "binding/wrapper.hpp"

namespace nimbic::binding {

// Called inside a catch block: maps the exception in flight to a Python one.
void raise_current_exception() {
  try {
    throw;
  } catch (const Panic& p) {
    raise_panic(p.message());
  } catch (const std::bad_alloc&) {
    raise_panic(kOutOfMemory);
  } catch (const std::length_error&) {
    raise_panic(kOutOfMemory);
  } catch (const std::exception& e) {
    raise_panic(e.what());
  } catch (...) {
    raise_panic("unknown native error");
  }
}

}  // namespace nimbic::binding
