// The function table of nimbic_scale._native.
#pragma once

#include "binding/python.hpp"

namespace nimbic::scale {

// Module functions in table order, ending with a zero entry.
PyMethodDef* scale_functions();

}  // namespace nimbic::scale
