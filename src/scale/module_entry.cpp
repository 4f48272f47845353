// Import of nimbic_scale._native: multi-phase initialisation whose exec step
// installs the function table.
#include "binding/python.hpp"
#include "scale/function_table.hpp"
#include "scale/packed_shots.hpp"

namespace nimbic::scale {

namespace {

int exec_module(PyObject* module) {
  if (PyModule_AddFunctions(module, scale_functions()) != 0) return -1;
  return add_sampling_types(module);
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "nimbic_scale._native",
    "Native helpers of the nimbic_scale package (packed sampling, distributed state vectors).",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace nimbic::scale

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__native() {
  return PyModuleDef_Init(&nimbic::scale::module_def);
}
