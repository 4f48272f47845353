#include "binding/shim.hpp"

namespace nimbic::binding {

void shim_set_error_utf8(PyObject* type, std::string_view message) {
  if (type == nullptr) type = PyExc_RuntimeError;
  PyObject* text = PyUnicode_FromStringAndSize(message.data(), Py_ssize_t(message.size()));
  if (text == nullptr) return;
  PyErr_SetObject(type, text);
  Py_DECREF(text);
}

std::string shim_type_name(PyObject* obj) {
  if (obj == nullptr) return "None";
  PyObject* name = PyType_GetName(Py_TYPE(obj));
  if (name == nullptr) {
    PyErr_Clear();
    return "?";
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
  std::string result = "?";
  if (utf8 == nullptr) {
    PyErr_Clear();
  } else {
    result.assign(utf8, size_t(size < 63 ? size : 63));
  }
  Py_DECREF(name);
  return result;
}

PyObject* shim_list_from_f64(std::span<const double> values) {
  PyObject* list = PyList_New(Py_ssize_t(values.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < values.size(); ++i) {
    PyObject* item = PyFloat_FromDouble(values[i]);
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SetItem(list, Py_ssize_t(i), item);
  }
  return list;
}

PyObject* shim_list_from_i64(std::span<const int64_t> values) {
  PyObject* list = PyList_New(Py_ssize_t(values.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < values.size(); ++i) {
    PyObject* item = PyLong_FromLongLong(values[i]);
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SetItem(list, Py_ssize_t(i), item);
  }
  return list;
}

PyObject* shim_list_from_u8(std::span<const uint8_t> values) {
  PyObject* bytes = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(values.data()), Py_ssize_t(values.size()));
  if (bytes == nullptr) return nullptr;
  PyObject* list = PySequence_List(bytes);
  Py_DECREF(bytes);
  return list;
}

Py_ssize_t shim_seq_length(PyObject* seq) { return PyList_Check(seq) ? PyList_Size(seq) : PyTuple_Size(seq); }

PyObject* shim_seq_item(PyObject* seq, Py_ssize_t index) {
  if (PyList_Check(seq)) return PyList_GetItem(seq, index);
  if (PyTuple_Check(seq)) return PyTuple_GetItem(seq, index);
  PyErr_SetString(PyExc_TypeError, "expected a list or a tuple");
  return nullptr;
}

namespace {

// Exact int within 64 bits; false (and no pending error) otherwise.
inline bool exact_long_as_i64(PyObject* item, int64_t& out) {
  if (!Py_IS_TYPE(item, &PyLong_Type)) return false;
  int overflow = 0;
  long long value = PyLong_AsLongLongAndOverflow(item, &overflow);
  if (overflow != 0) return false;
  if (value == -1 && PyErr_Occurred()) {
    PyErr_Clear();
    return false;
  }
  out = value;
  return true;
}

template <class Convert>
Py_ssize_t fill(PyObject* seq, Py_ssize_t n, Convert convert) {
  const bool is_list = PyList_Check(seq);
  Py_ssize_t i = 0;
  if (is_list) {
    for (; i < n; ++i)
      if (!convert(PyList_GetItem(seq, i), i)) break;
  } else {
    for (; i < n; ++i)
      if (!convert(PyTuple_GetItem(seq, i), i)) break;
  }
  return i;
}

}  // namespace

Py_ssize_t shim_seq_fill_f64(PyObject* seq, double* out, Py_ssize_t n) {
  return fill(seq, n, [out](PyObject* item, Py_ssize_t i) {
    if (Py_IS_TYPE(item, &PyFloat_Type)) {
      out[i] = PyFloat_AsDouble(item);
      return true;
    }
    int64_t value;
    if (!exact_long_as_i64(item, value)) return false;
    out[i] = double(value);
    return true;
  });
}

Py_ssize_t shim_seq_fill_i64(PyObject* seq, int64_t* out, Py_ssize_t n) {
  return fill(seq, n, [out](PyObject* item, Py_ssize_t i) { return exact_long_as_i64(item, out[i]); });
}

}  // namespace nimbic::binding
