// Import of nimbic_native: multi-phase initialisation whose exec step installs
// the function table and the three classes.
#include <cstdio>

#include "binding/python.hpp"
#include "module/class_tables.hpp"
#include "module/function_table.hpp"

namespace nimbic::module {

namespace {

static_assert(sizeof(PyModuleDef) == 104 && sizeof(PyMethodDef) == 32 && sizeof(Py_ssize_t) == 8,
              "record sizes of the supported platform");

// Process-wide type objects, one per class, replaced on each module exec.
PyObject* native_tableau_type = nullptr;
PyObject* native_state_type = nullptr;
PyObject* native_density_type = nullptr;

int add_class(PyObject* module, const char* name, PyObject* (*create)(), PyObject*& slot) {
  PyObject* type = create();
  if (type == nullptr || PyErr_Occurred()) {
    std::fprintf(stderr, "brindle: cannot create the type %s\n", name);
    Py_XDECREF(type);
    return -1;
  }
  Py_XDECREF(slot);
  slot = type;
  PyModule_AddObjectRef(module, name, type);
  return 0;
}

int exec_module(PyObject* module) {
  if (PyModule_AddFunctions(module, module_functions()) != 0) return -1;
  if (add_class(module, "NativeTableau", create_native_tableau_type, native_tableau_type) != 0) return -1;
  if (add_class(module, "NativeState", create_native_state_type, native_state_type) != 0) return -1;
  if (add_class(module, "NativeDensity", create_native_density_type, native_density_type) != 0) return -1;
  return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "nimbic_native",
    "clifford_run runs a Clifford circuit `repetitions` times and returns the",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace nimbic::module

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_nimbic_native() {
  return PyModuleDef_Init(&nimbic::module::module_def);
}
