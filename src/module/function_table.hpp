// The module's functions and the three classes' method tables.
#pragma once

#include <vector>

#include "binding/python.hpp"

namespace nimbic::module {

// Module functions in table order, ending with a zero entry.
PyMethodDef* module_functions();

// Method tables, each ending with a zero entry.
PyMethodDef* native_state_methods();
PyMethodDef* native_density_methods();
PyMethodDef* native_tableau_methods();

}  // namespace nimbic::module
