// The declarative table of nimbic_scale._native: the native helpers of the
// nimbic_scale package, one entry per function (core routine, name,
// parameter names), wrapped by the same templates as nimbic_native's table.
#include "scale/function_table.hpp"

#include <vector>

#include "binding/wrapper.hpp"

namespace nimbic::scale {

using binding::function;

PyMethodDef* scale_functions() {
  static std::vector<PyMethodDef> table = {
      // Packed sampling (nimbic_scale.sampling).

      // Distributed state vectors (nimbic_scale.mpi).

  };
  static PyMethodDef* sealed = [] {
    table.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
    return table.data();
  }();
  return sealed;
}

}  // namespace nimbic::scale
