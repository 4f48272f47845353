#include "binding/pickling.hpp"

namespace nimbic::binding {

PyObject* module_attribute(const char* module, const char* name) {
  PyObject* mod = PyImport_ImportModule(module);
  if (mod == nullptr) return nullptr;
  PyObject* attr = PyObject_GetAttrString(mod, name);
  Py_DECREF(mod);
  return attr;
}

PyObject* instance_dict_or_none(PyObject* self) {
  PyObject* dict = PyObject_GetAttrString(self, "__dict__");
  if (dict == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
    PyErr_Clear();
    Py_RETURN_NONE;
  }
  if (!PyDict_Check(dict) || PyDict_Size(dict) == 0) {
    Py_DECREF(dict);
    Py_RETURN_NONE;
  }
  return dict;
}

bool restore_instance_dict(PyObject* self, PyObject* dict, const char* cls) {
  if (dict == Py_None || PyDict_Size(dict) == 0) return true;
  PyObject* own = PyObject_GetAttrString(self, "__dict__");
  if (own == nullptr || !PyDict_Check(own)) {
    Py_XDECREF(own);
    PyErr_Clear();
    shim_set_error_utf8(PyExc_TypeError, std::string(cls) +
                                             ".__setstate__: the state has instance attributes, the object has no " +
                                             "__dict__ (" + shim_type_name(self) + ")");
    return false;
  }
  const int status = PyDict_Update(own, dict);
  Py_DECREF(own);
  return status == 0;
}

}  // namespace nimbic::binding
