#include "binding/shim.hpp"

#include <algorithm>

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

namespace {

// Releases a list whose items from `filled` on were never set. Its length
// is cut first, so that only the items made are visited: the slots of a long
// list that were never written are pages never touched.
void discard_partial_list(PyObject* list, Py_ssize_t filled) {
  Py_SET_SIZE(reinterpret_cast<PyVarObject*>(list), filled);
  Py_DECREF(list);
}

// A new list of n items made by item(i) (a new reference, or null with the
// interpreter's error). While a long list is filled, the signal handlers that
// a check runs could otherwise find it, half empty, through the cycle
// collector: it stays untracked until complete.
template <class Item>
PyObject* build_list(size_t count, Item item) {
  const Py_ssize_t n = Py_ssize_t(count);
  PyObject* list = PyList_New(n);
  if (list == nullptr) return nullptr;
  const bool chunked = n > kSignalCheckItems;
  if (chunked) PyObject_GC_UnTrack(list);
  for (Py_ssize_t begin = 0; begin < n; begin += kSignalCheckItems) {
    if (begin > 0 && PyErr_CheckSignals() != 0) {
      discard_partial_list(list, begin);
      return nullptr;
    }
    const Py_ssize_t end = n - begin < kSignalCheckItems ? n : begin + kSignalCheckItems;
    for (Py_ssize_t i = begin; i < end; ++i) {
      PyObject* value = item(size_t(i));
      if (value == nullptr) {
        discard_partial_list(list, i);
        return nullptr;
      }
      PyList_SetItem(list, i, value);
    }
  }
  if (chunked) PyObject_GC_Track(list);
  return list;
}

}  // namespace

PyObject* shim_list_from_f64(std::span<const double> values) {
  return build_list(values.size(), [&](size_t i) { return PyFloat_FromDouble(values[i]); });
}

PyObject* shim_list_from_i64(std::span<const int64_t> values) {
  return build_list(values.size(), [&](size_t i) { return PyLong_FromLongLong(values[i]); });
}

PyObject* shim_list_from_u8(std::span<const uint8_t> values) {
  // Extended chunk by chunk from bytes objects, as list(bytes) would be built
  // (the items are the interpreter's cached small ints): the list is whole at
  // every signal check, and hidden from the cycle collector until complete.
  PyObject* list = PyList_New(0);
  if (list == nullptr) return nullptr;
  PyObject_GC_UnTrack(list);
  for (size_t begin = 0; begin < values.size(); begin += size_t(kSignalCheckItems)) {
    if (begin > 0 && PyErr_CheckSignals() != 0) break;
    const size_t count = std::min(values.size() - begin, size_t(kSignalCheckItems));
    PyObject* chunk =
        PyBytes_FromStringAndSize(reinterpret_cast<const char*>(values.data() + begin), Py_ssize_t(count));
    PyObject* extended = chunk == nullptr ? nullptr : PySequence_InPlaceConcat(list, chunk);
    Py_XDECREF(chunk);
    if (extended == nullptr) break;
    Py_DECREF(extended);  // the list itself
  }
  PyObject_GC_Track(list);
  if (PyErr_Occurred()) Py_CLEAR(list);
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
  for (Py_ssize_t begin = 0; begin < n; begin += kSignalCheckItems) {
    // A signal handler may shrink the list: reading past its end gives the
    // interpreter's IndexError, never a missing item.
    if (begin > 0 && PyErr_CheckSignals() != 0) return -1;
    const Py_ssize_t end = n - begin < kSignalCheckItems ? n : begin + kSignalCheckItems;
    for (Py_ssize_t i = begin; i < end; ++i) {
      PyObject* item = is_list ? PyList_GetItem(seq, i) : PyTuple_GetItem(seq, i);
      if (item == nullptr) return -1;
      if (!convert(item, i)) return i;
    }
  }
  return n;
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
