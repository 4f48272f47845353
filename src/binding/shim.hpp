// Thin adapter over the limited API: the few places that build or take apart
// Python objects in bulk.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "binding/python.hpp"

namespace nimbic::binding {

// Long sequences are built and read in chunks of this many items, with a
// check for pending signals between chunks (Ctrl-C stops the call).
inline constexpr Py_ssize_t kSignalCheckItems = Py_ssize_t(1) << 16;

// Sets `type` (RuntimeError when null) with a str built from UTF-8 text.
void shim_set_error_utf8(PyObject* type, std::string_view message);

// The type's __name__, at most 63 bytes; "None" for a null object, "?" when
// the name cannot be had.
std::string shim_type_name(PyObject* obj);

// New lists built in one pass with their final length; null with the
// interpreter's error when an item cannot be made, or with the exception of
// a signal handler (checked between chunks of a long list).
PyObject* shim_list_from_f64(std::span<const double> values);
PyObject* shim_list_from_i64(std::span<const int64_t> values);
// Small non-negative ints: the interpreter's cached int objects.
PyObject* shim_list_from_u8(std::span<const uint8_t> values);

// Length of a list or tuple (instances of subclasses included), read from the
// object itself so that no Python-level __len__ runs.
Py_ssize_t shim_seq_length(PyObject* seq);
// Borrowed item of a list or tuple; TypeError "expected a list or a tuple"
// for anything else.
PyObject* shim_seq_item(PyObject* seq, Py_ssize_t index);

// Fast conversion loops: convert items from index 0 onwards while each is an
// exact float or an exact int within 64 bits (an exact int for the i64
// form); return the index of the first item not converted, with no exception
// pending. Long sequences check for pending signals between chunks: -1 with
// the exception set when a signal handler raised (or shrank the list).
Py_ssize_t shim_seq_fill_f64(PyObject* seq, double* out, Py_ssize_t n);
Py_ssize_t shim_seq_fill_i64(PyObject* seq, int64_t* out, Py_ssize_t n);

}  // namespace nimbic::binding
