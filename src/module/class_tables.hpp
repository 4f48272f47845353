// Creation of the three native classes.
#pragma once

#include "binding/python.hpp"

namespace nimbic::module {

// Each returns a new heap type, or null with an exception set.
PyObject* create_native_tableau_type();
PyObject* create_native_state_type();
PyObject* create_native_density_type();

}  // namespace nimbic::module
