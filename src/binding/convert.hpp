// Conversion of Python arguments into plain integers, doubles and arrays, and
// of kernel results back into Python objects. Every failure sets exactly one
// Python exception and returns false (or null).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "binding/python.hpp"

namespace nimbic::binding {

// `label` is the parameter name (or "value" for attribute assignment).
bool from_py_int(PyObject* obj, const char* label, int64_t& out);
bool from_py_f64(PyObject* obj, const char* label, double& out);

// A list or tuple (or an instance of a subclass of either) of numbers into a
// fresh array. `name` is the callable's name, `param` the parameter's.
bool from_py_f64_seq(PyObject* obj, const char* name, const char* param, std::vector<double>& out);
bool from_py_int_seq(PyObject* obj, const char* name, const char* param, std::vector<int64_t>& out);

// The argument-binding messages, raised as TypeError.
void reject_extra_args(const char* name, size_t max_args, Py_ssize_t given);
void missing_arg(const char* name, const char* param);
void unexpected_kwarg(const char* name, std::string_view keyword);

// Matches positional and keyword arguments of a vectorcall to the declared
// parameters; `slots` (one per parameter, all null on entry) receive
// borrowed references. Raises the binding TypeErrors.
bool bind_args(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots, const char* name,
               const char* const* params, size_t num_params);
// The same for a constructor's positional tuple and keyword dict.
bool bind_new_args(PyObject* args, PyObject* kwargs, PyObject** slots, const char* name, const char* const* params,
                   size_t num_params);

// Sets MemoryError or RuntimeError for a fatal internal error of a kernel.
void raise_panic(const std::string& message);

}  // namespace nimbic::binding
