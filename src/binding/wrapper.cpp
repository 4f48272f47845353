#include "binding/wrapper.hpp"

namespace nimbic::binding {

// Called inside a catch block: maps the exception in flight to a Python one.
void raise_current_exception() {
  try {
    throw;
  } catch (const Interrupted&) {
    // The signal check left the handler's exception pending.
    if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
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

bool python_signal_pending() { return PyErr_CheckSignals() != 0; }

void restate_memory_error() {
  if (!PyErr_ExceptionMatches(PyExc_MemoryError)) return;
  PyErr_Clear();
  raise_panic(kOutOfMemory);
}

}  // namespace nimbic::binding
