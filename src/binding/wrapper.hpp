// The wrapper templates. A module function, a method or a constructor is one
// core routine plus its name, parameter names and docstring; the template
// binds and converts the arguments, calls the routine, converts the result
// and turns a Panic into a Python exception. Parameter kinds come from the
// routine's own signature:
//   int64_t                                   -> int
//   double                                    -> float
//   std::vector<double> / std::span<const double>   -> list or tuple of floats
//   std::vector<int64_t> / std::span<const int64_t> -> list or tuple of ints
// and results: void -> None, int64_t -> int, std::string -> str,
// std::vector<double> -> list of floats, std::vector<int64_t> -> list of
// ints, IntList -> list of ints.
#pragma once

#include <array>
#include <cstdint>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/convert.hpp"
#include "binding/python.hpp"
#include "binding/shim.hpp"
#include "common/int_list.hpp"
#include "common/interrupt.hpp"
#include "common/memory.hpp"
#include "common/panic.hpp"

namespace nimbic::binding {

static_assert(sizeof(PyObject) == 16, "native records start 16 bytes into the object");

// A native record lives right after the object header.
template <class Record>
Record& record_of(PyObject* self) {
  return *reinterpret_cast<Record*>(reinterpret_cast<char*>(self) + sizeof(PyObject));
}

// ---- parameters -----------------------------------------------------------

template <class T>
struct Param;

template <>
struct Param<int64_t> {
  using Storage = int64_t;
  static bool convert(PyObject* obj, const char*, const char* param, Storage& out) {
    return from_py_int(obj, param, out);
  }
  static int64_t pass(Storage& s) { return s; }
};

template <>
struct Param<double> {
  using Storage = double;
  static bool convert(PyObject* obj, const char*, const char* param, Storage& out) {
    return from_py_f64(obj, param, out);
  }
  static double pass(Storage& s) { return s; }
};

template <class T>
struct SeqParam {
  using Storage = std::vector<T>;
  static bool convert(PyObject* obj, const char* name, const char* param, Storage& out) {
    if constexpr (std::is_same_v<T, double>)
      return from_py_f64_seq(obj, name, param, out);
    else
      return from_py_int_seq(obj, name, param, out);
  }
  static Storage&& pass(Storage& s) { return std::move(s); }
};

template <>
struct Param<std::vector<double>> : SeqParam<double> {};
template <>
struct Param<std::vector<int64_t>> : SeqParam<int64_t> {};
template <>
struct Param<std::span<const double>> : SeqParam<double> {};
template <>
struct Param<std::span<const int64_t>> : SeqParam<int64_t> {};

template <class T>
using ParamOf = Param<std::remove_cvref_t<T>>;

// ---- results ----------------------------------------------------------------

inline PyObject* to_py(int64_t value) { return PyLong_FromLongLong(value); }
inline PyObject* to_py(const std::string& s) { return PyUnicode_FromStringAndSize(s.data(), Py_ssize_t(s.size())); }
// A list that cannot fit in memory raises MemoryError before it is started.
inline PyObject* to_py(const std::vector<double>& v) {
  check_allocatable(Count(v.size()) * kListItemBytes);
  return shim_list_from_f64(v);
}
inline PyObject* to_py(const std::vector<int64_t>& v) {
  check_allocatable(Count(v.size()) * kListItemBytes);
  return shim_list_from_i64(v);
}
inline PyObject* to_py(const IntList& v) {
  if (!v.wide.empty()) return to_py(v.wide);
  check_allocatable(Count(v.small.size()) * kSmallIntListItemBytes);
  return shim_list_from_u8(v.small);
}

// ---- signatures --------------------------------------------------------------

template <class F>
struct Signature;
template <class R, class... A>
struct Signature<R (*)(A...)> {
  using Result = R;
  using Args = std::tuple<A...>;
};

// Drops the leading record parameter of a method's core routine.
template <class Tuple>
struct Tail;
template <class Head, class... Rest>
struct Tail<std::tuple<Head, Rest...>> {
  using Type = std::tuple<Rest...>;
  using First = Head;
};

// Parameter names, checked against the routine's arity at compile time.
template <size_t N>
struct Names {
  std::array<const char*, N> items{};
  template <class... S>
    requires(sizeof...(S) == N && (std::is_convertible_v<S, const char*> && ...))
  consteval Names(S... names) : items{names...} {}
};

// Name and parameter names of one core routine (each routine is wrapped once).
template <auto F>
struct CallSpec {
  static inline const char* name = nullptr;
  static inline const char* const* params = nullptr;
};

// ---- the call --------------------------------------------------------------

void raise_current_exception();
// Gives a pending MemoryError (the interpreter's own, without a message, when
// it cannot allocate an object) the text of every allocation failure.
void restate_memory_error();

template <class R>
PyObject* result_to_py(R&& value) {
  return to_py(value);
}

// Binds, converts and calls. `prefix` holds the leading arguments the caller
// supplies itself (the record of self for methods).
template <auto F, class ArgTuple, class... Prefix>
PyObject* invoke(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Prefix&... prefix) {
  constexpr size_t N = std::tuple_size_v<ArgTuple>;
  const char* name = CallSpec<F>::name;
  const char* const* params = CallSpec<F>::params;
  try {
    PyObject* bound[N == 0 ? 1 : N] = {};
    PyObject* const* slots = args;
    Py_ssize_t present = nargs;
    if (kwnames != nullptr && PyTuple_Size(kwnames) > 0) {
      if (!bind_args(args, nargs, kwnames, bound, name, params, N)) return nullptr;
      slots = bound;
      present = Py_ssize_t(N);
    } else if (size_t(nargs) > N) {
      reject_extra_args(name, N, nargs);
      return nullptr;
    }
    PyObject* result = [&]<size_t... I>(std::index_sequence<I...>) -> PyObject* {
      std::tuple<typename ParamOf<std::tuple_element_t<I, ArgTuple>>::Storage...> values;
      const bool ok = ([&] {
        if (Py_ssize_t(I) >= present) {
          missing_arg(name, params[I]);
          return false;
        }
        return ParamOf<std::tuple_element_t<I, ArgTuple>>::convert(slots[I], name, params[I], std::get<I>(values));
      }() && ...);
      if (!ok) return nullptr;
      using R = typename Signature<decltype(F)>::Result;
      // A Python exception left pending by the routine (from a signal check)
      // wins over its result. Methods (called with their record) never check.
      constexpr bool may_stop = sizeof...(Prefix) == 0;
      if constexpr (std::is_void_v<R>) {
        F(prefix..., ParamOf<std::tuple_element_t<I, ArgTuple>>::pass(std::get<I>(values))...);
        if (may_stop && PyErr_Occurred()) return nullptr;
        Py_RETURN_NONE;
      } else {
        auto value = F(prefix..., ParamOf<std::tuple_element_t<I, ArgTuple>>::pass(std::get<I>(values))...);
        if (may_stop && PyErr_Occurred()) return nullptr;
        return result_to_py(value);
      }
    }(std::make_index_sequence<N>{});
    if (result == nullptr) restate_memory_error();
    return result;
  } catch (...) {
    raise_current_exception();
    return nullptr;
  }
}

// ---- refusal before conversion -----------------------------------------------

// A module function whose result can be known too big from the sizes of its
// arguments names an estimate: a routine with the same parameters in which
// each sequence is replaced by its length, returning the bytes the call will
// take (its converted arguments, native arrays and the Python objects of its
// result list), or 0 when the routine returns early or raises another error
// first. It runs before any argument is converted, so that a call whose
// result cannot fit is refused (MemoryError) without first copying arguments
// of a GiB. Arguments it cannot read at a glance (unbound, not exactly a
// list, tuple, int or float, out of range) leave the check to the routine.
template <class T>
using PeekOf = std::conditional_t<std::is_same_v<std::remove_cvref_t<T>, double>, double, int64_t>;

template <class T>
bool peek_arg(PyObject* obj, PeekOf<T>& out) {
  using U = std::remove_cvref_t<T>;
  if (obj == nullptr) return false;
  if constexpr (std::is_same_v<U, double>) {
    if (!Py_IS_TYPE(obj, &PyFloat_Type)) return false;
    out = PyFloat_AsDouble(obj);
    return true;
  } else if constexpr (std::is_same_v<U, int64_t>) {
    if (!Py_IS_TYPE(obj, &PyLong_Type)) return false;
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow != 0 || (value == -1 && PyErr_Occurred())) {
      PyErr_Clear();
      return false;
    }
    out = value;
    return true;
  } else {
    if (!PyList_Check(obj) && !PyTuple_Check(obj)) return false;
    out = int64_t(shim_seq_length(obj));
    return true;
  }
}

// Throws Panic("memory allocation failure") when estimate E of routine F,
// read from the call's arguments, cannot be had.
template <auto F, auto E>
void refuse_before_conversion(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  using Args = typename Signature<decltype(F)>::Args;
  constexpr size_t N = std::tuple_size_v<Args>;
  PyObject* bound[N] = {};
  PyObject* const* slots = args;
  if (kwnames != nullptr && PyTuple_Size(kwnames) > 0) {
    if (!bind_args(args, nargs, kwnames, bound, CallSpec<F>::name, CallSpec<F>::params, N)) {
      PyErr_Clear();  // the binding raises it again
      return;
    }
    slots = bound;
  } else if (size_t(nargs) != N) {
    return;
  }
  [&]<size_t... I>(std::index_sequence<I...>) {
    std::tuple<PeekOf<std::tuple_element_t<I, Args>>...> sizes;
    if ((peek_arg<std::tuple_element_t<I, Args>>(slots[I], std::get<I>(sizes)) && ...))
      check_allocatable(E(std::get<I>(sizes)...));
  }(std::make_index_sequence<N>{});
}

// Module functions work on private copies of their arguments: they stop at
// the kernels' chunk boundaries when a signal is pending (Ctrl-C raises
// KeyboardInterrupt). Methods change their object in place and never stop
// midway, also when one runs inside a signal handler of a stopping call.
bool python_signal_pending();

template <auto F, auto E = nullptr>
PyObject* function_fastcall(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const ScopedStopCheck stop(python_signal_pending);
  if constexpr (!std::is_null_pointer_v<decltype(E)>) {
    try {
      refuse_before_conversion<F, E>(args, nargs, kwnames);
    } catch (...) {
      raise_current_exception();
      return nullptr;
    }
  }
  return invoke<F, typename Signature<decltype(F)>::Args>(args, nargs, kwnames);
}

template <auto F>
PyObject* function_noargs(PyObject*, PyObject*) {
  const ScopedStopCheck stop(python_signal_pending);
  return invoke<F, std::tuple<>>(nullptr, 0, nullptr);
}

template <auto F>
PyObject* method_fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const ScopedStopCheck stop(nullptr);
  using Split = Tail<typename Signature<decltype(F)>::Args>;
  auto& record = record_of<std::remove_cvref_t<typename Split::First>>(self);
  return invoke<F, typename Split::Type>(args, nargs, kwnames, record);
}

template <auto F>
PyObject* method_noargs(PyObject* self, PyObject*) {
  const ScopedStopCheck stop(nullptr);
  using Split = Tail<typename Signature<decltype(F)>::Args>;
  auto& record = record_of<std::remove_cvref_t<typename Split::First>>(self);
  return invoke<F, std::tuple<>>(nullptr, 0, nullptr, record);
}

// ---- table entries --------------------------------------------------------------

// METH_FASTCALL entries are stored under the generic function-pointer type.
inline PyCFunction as_cfunction(PyObject* (*f)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

template <auto F>
constexpr size_t function_arity = std::tuple_size_v<typename Signature<decltype(F)>::Args>;
template <auto F>
constexpr size_t method_arity = function_arity<F> - 1;

// Records the routine's name and parameter names for its wrapper.
template <auto F, size_t N>
void register_call(const char* name, const Names<N>& names) {
  static const Names<N> stored = names;
  CallSpec<F>::name = name;
  CallSpec<F>::params = stored.items.data();
}

// ---- signature docstrings ------------------------------------------------------

// The annotation a parameter or result type shows in a signature docstring.
template <class T>
constexpr const char* annotation() {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, int64_t>) return "int";
  if constexpr (std::is_same_v<U, double>) return "float";
  if constexpr (std::is_same_v<U, std::string>) return "str";
  if constexpr (std::is_same_v<U, std::vector<double>> || std::is_same_v<U, std::span<const double>>)
    return "Sequence[float]";
  if constexpr (std::is_same_v<U, std::vector<int64_t>> || std::is_same_v<U, std::span<const int64_t>> ||
                std::is_same_v<U, IntList>)
    return "Sequence[int]";
}

// "name(p1: T1, p2: T2) -> R" from the routine's own signature; the text
// lives as long as the module (wrappers are built once).
template <auto F, size_t N>
const char* signature_doc(const char* name, const Names<N>& params) {
  using Args = typename Signature<decltype(F)>::Args;
  static const std::string doc = [&]<size_t... I>(std::index_sequence<I...>) {
    std::string text = std::string(name) + "(";
    ((text += std::string(I == 0 ? "" : ", ") + params.items[I] + ": " + annotation<std::tuple_element_t<I, Args>>()),
     ...);
    return text + ") -> " + annotation<typename Signature<decltype(F)>::Result>();
  }(std::make_index_sequence<N>{});
  return doc.c_str();
}

// A module function: `function<&core>("name", {"p1", "p2"}, "doc")`, or
// `function<&core, &estimate>(...)` with a memory estimate (see
// refuse_before_conversion). Routines without parameters are registered with
// METH_NOARGS.
template <auto F, auto E = nullptr>
PyMethodDef function(const char* name, const Names<function_arity<F>>& params, const char* doc) {
  register_call<F>(name, params);
  if constexpr (function_arity<F> == 0)
    return PyMethodDef{name, function_noargs<F>, METH_NOARGS, doc};
  else
    return PyMethodDef{name, as_cfunction(function_fastcall<F, E>), METH_FASTCALL | METH_KEYWORDS, doc};
}

// A module function whose docstring is its signature line:
// `function<&core>("name", {"p1", "p2"})` documents "name(p1: T1, p2: T2) -> R".
template <auto F, auto E = nullptr>
PyMethodDef function(const char* name, const Names<function_arity<F>>& params) {
  return function<F, E>(name, params, signature_doc<F>(name, params));
}

// A method whose core routine takes the record first: `method<&core>(...)`.
template <auto F>
PyMethodDef method(const char* name, const Names<method_arity<F>>& params, const char* doc) {
  register_call<F>(name, params);
  if constexpr (method_arity<F> == 0)
    return PyMethodDef{name, method_noargs<F>, METH_NOARGS, doc};
  else
    return PyMethodDef{name, as_cfunction(method_fastcall<F>), METH_FASTCALL | METH_KEYWORDS, doc};
}

}  // namespace nimbic::binding
