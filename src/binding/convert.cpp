#include "binding/convert.hpp"

#include <cstring>

#include "binding/shim.hpp"
#include "common/memory.hpp"
#include "common/panic.hpp"

namespace nimbic::binding {

namespace {

void type_error(const std::string& message) { shim_set_error_utf8(PyExc_TypeError, message); }

}  // namespace

bool from_py_int(PyObject* obj, const char* label, int64_t& out) {
  if (obj != nullptr && Py_IS_TYPE(obj, &PyLong_Type)) {
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow == 0 && !(value == -1 && PyErr_Occurred())) {
      out = value;
      return true;
    }
    PyErr_Clear();
  }
  if (obj == nullptr) {
    type_error(std::string(label) + ": missing argument");
    return false;
  }
  if (PyBool_Check(obj)) {
    type_error(std::string(label) + ": expected int, got bool");
    return false;
  }
  if (PyLong_Check(obj)) {
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow != 0) {
      shim_set_error_utf8(PyExc_OverflowError, std::string(label) + ": value out of range for int");
      return false;
    }
    if (value == -1 && PyErr_Occurred()) return false;
    out = value;
    return true;
  }
  type_error(std::string(label) + ": expected int, got " + shim_type_name(obj));
  return false;
}

bool from_py_f64(PyObject* obj, const char* label, double& out) {
  if (obj != nullptr && PyFloat_Check(obj)) {
    double value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) return false;
    out = value;
    return true;
  }
  if (obj != nullptr && PyLong_Check(obj)) {
    int64_t value;
    if (!from_py_int(obj, label, value)) return false;
    out = double(value);
    return true;
  }
  type_error(std::string(label) + ": expected float, got " + shim_type_name(obj));
  return false;
}

namespace {

bool seq_elements(PyObject* obj, const char* name, const char* param) {
  if (obj == nullptr) {
    type_error(std::string(name) + "() missing required argument: " + param);
    return false;
  }
  if (!PyList_Check(obj) && !PyTuple_Check(obj)) {
    type_error(std::string(name) + "(): " + param + " expected a sequence, got " + shim_type_name(obj));
    return false;
  }
  return true;
}

template <class T, class FastFill, class Slow>
bool from_py_seq(PyObject* obj, const char* name, const char* param, std::vector<T>& out, FastFill fast_fill,
                 Slow slow) {
  if (!seq_elements(obj, name, param)) return false;
  const Py_ssize_t n = shim_seq_length(obj);
  check_allocatable(Count(n) * Count(sizeof(T)));
  out = zeroed<T>(size_t(n));
  Py_ssize_t i = fast_fill(obj, out.data(), n);
  if (i < 0) return false;
  for (; i < n; ++i) {
    if (i % kSignalCheckItems == 0 && PyErr_CheckSignals() != 0) return false;
    PyObject* item = shim_seq_item(obj, i);
    if (item == nullptr) return false;
    if (!slow(item, param, out[size_t(i)])) return false;
  }
  return true;
}

}  // namespace

bool from_py_f64_seq(PyObject* obj, const char* name, const char* param, std::vector<double>& out) {
  return from_py_seq(obj, name, param, out, shim_seq_fill_f64, from_py_f64);
}

bool from_py_int_seq(PyObject* obj, const char* name, const char* param, std::vector<int64_t>& out) {
  return from_py_seq(obj, name, param, out, shim_seq_fill_i64, from_py_int);
}

void reject_extra_args(const char* name, size_t max_args, Py_ssize_t given) {
  type_error(std::string(name) + "() takes at most " + std::to_string(max_args) + " argument(s) but " +
             std::to_string(given) + " were given");
}

void missing_arg(const char* name, const char* param) {
  type_error(std::string(name) + "() missing required argument: '" + param + "'");
}

void unexpected_kwarg(const char* name, std::string_view keyword) {
  // The whole keyword, also when it holds a NUL character.
  type_error(std::string(name) + "() got an unexpected keyword argument '" + std::string(keyword) + "'");
}

namespace {

void too_many_args(const char* name, size_t max_args, Py_ssize_t given) {
  type_error(std::string(name) + "() takes at most " + std::to_string(max_args) +
             (max_args == 1 ? " argument (" : " arguments (") + std::to_string(given) + " given)");
}

// Stores one keyword argument in its slot.
bool bind_keyword(PyObject* key, PyObject* value, PyObject** slots, const char* name, const char* const* params,
                  size_t num_params) {
  Py_ssize_t size = 0;
  const char* keyword = PyUnicode_AsUTF8AndSize(key, &size);
  if (keyword == nullptr) return false;
  for (size_t p = 0; p < num_params; ++p) {
    if (std::strlen(params[p]) == size_t(size) && std::memcmp(params[p], keyword, size_t(size)) == 0) {
      if (slots[p] != nullptr) {
        type_error(std::string(name) + "() got multiple values for argument '" + std::string(keyword, size_t(size)) +
                   "'");
        return false;
      }
      slots[p] = value;
      return true;
    }
  }
  unexpected_kwarg(name, std::string_view(keyword, size_t(size)));
  return false;
}

bool check_missing(PyObject** slots, const char* name, const char* const* params, size_t num_params) {
  for (size_t p = 0; p < num_params; ++p) {
    if (slots[p] == nullptr) {
      missing_arg(name, params[p]);
      return false;
    }
  }
  return true;
}

}  // namespace

bool bind_args(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots, const char* name,
               const char* const* params, size_t num_params) {
  if (size_t(nargs) > num_params) {
    too_many_args(name, num_params, nargs);
    return false;
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
  if (kwnames != nullptr) {
    const Py_ssize_t nkw = PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      if (!bind_keyword(PyTuple_GetItem(kwnames, k), args[nargs + k], slots, name, params, num_params)) return false;
    }
  }
  return check_missing(slots, name, params, num_params);
}

bool bind_new_args(PyObject* args, PyObject* kwargs, PyObject** slots, const char* name, const char* const* params,
                   size_t num_params) {
  const Py_ssize_t nargs = args == nullptr ? 0 : PyTuple_Size(args);
  if (size_t(nargs) > num_params) {
    too_many_args(name, num_params, nargs);
    return false;
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GetItem(args, i);
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!bind_keyword(key, value, slots, name, params, num_params)) return false;
    }
  }
  return check_missing(slots, name, params, num_params);
}

void raise_panic(const std::string& message) {
  shim_set_error_utf8(message == kOutOfMemory ? PyExc_MemoryError : PyExc_RuntimeError,
                      "panic in native code: " + message);
}

}  // namespace nimbic::binding
