// A writable buffer of floats as a parameter of nimbic_scale._native's
// functions (a NativeState or a memoryview over one): the routine receives a
// span over the exporter's memory, held for the length of the call.
#pragma once

#include <span>
#include <string>

#include "binding/python.hpp"
#include "binding/shim.hpp"
#include "binding/wrapper.hpp"

namespace nimbic::binding {

template <>
struct Param<std::span<double>> {
  struct Storage {
    Py_buffer view{};
    bool held = false;
    Storage() = default;
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;
    ~Storage() {
      if (held) PyBuffer_Release(&view);
    }
  };
  static bool convert(PyObject* obj, const char* name, const char* param, Storage& out) {
    const std::string expected =
        std::string(name) + "(): " + param + " expected a writable contiguous buffer of floats";
    if (obj == nullptr || PyObject_GetBuffer(obj, &out.view, PyBUF_WRITABLE | PyBUF_FORMAT | PyBUF_C_CONTIGUOUS) != 0) {
      PyErr_Clear();
      shim_set_error_utf8(PyExc_TypeError, expected);
      return false;
    }
    out.held = true;
    const char* format = out.view.format;
    if (out.view.itemsize != 8 || format == nullptr || std::string(format) != "d") {
      shim_set_error_utf8(PyExc_TypeError, expected);
      return false;
    }
    return true;
  }
  static std::span<double> pass(Storage& s) {
    return {static_cast<double*>(s.view.buf), size_t(s.view.len) / sizeof(double)};
  }
};

}  // namespace nimbic::binding
