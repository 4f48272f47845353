// Pickle and copy support for the native classes: `__reduce_ex__` and
// `__setstate__` for pickle, `__copy__` and `__deepcopy__` for the copy module
// (one pass over the buffers instead of a bytes object and a second copy).
//
// An object reduces to (copyreg.__newobj__, (type, n), state): unpickling
// calls type.__new__(type, n), where n is the qubit count whose buffers have
// the object's buffer lengths (the stored `num_qubits` may have been
// rewritten since), so subclasses come back as themselves and the class's own
// constructor sizes the buffers. The state is
//   (num_qubits, (buffer bytes, one entry per buffer field), instance dict or None).
// The buffer bytes are a bytes object, or with protocol 5 and later a
// pickle.PickleBuffer over the object's own exported buffer, which pickle
// writes without an intermediate copy or hands out of band.
//
// `__setstate__` checks the whole state (its shape, num_qubits, every buffer's
// byte count against the object's field) before it writes anything; a state
// that does not fit raises TypeError or ValueError and changes nothing.
//
// Traits members used here, besides those of native_class.hpp:
//   static int64_t built_qubits(const Record&);  n whose buffers have these lengths
// and, for a class whose object may keep its data in another form than the
// documented layout of its buffers (NativeTableau does, from 16 qubits on):
//   static std::array<std::vector<int64_t>, K> plain_fields(Record&);   the documented layout
//   static void adopt_plain_fields(Record&);    the buffers now hold the documented layout
//   static constexpr bool kBitEntries = true;   every entry of that layout is 0 or 1
// Pickles carry the documented layout; copies are exact images of the
// buffers, their flag words included.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "binding/convert.hpp"
#include "binding/native_class.hpp"
#include "binding/python.hpp"
#include "binding/shim.hpp"
#include "binding/wrapper.hpp"
#include "common/buffer_field.hpp"

namespace nimbic::binding {

// `module.name` as a new reference, or null with the import error set.
PyObject* module_attribute(const char* module, const char* name);
// The instance dict of `self` (a new reference), None when it has none or it
// is empty; null with an exception set on other failures.
PyObject* instance_dict_or_none(PyObject* self);
// Updates the instance dict of `self` from `dict` (None does nothing).
bool restore_instance_dict(PyObject* self, PyObject* dict, const char* cls);

template <class Traits>
concept HasPlainFields = requires(typename Traits::Record& r) { Traits::plain_fields(r); };

template <class Traits>
struct Pickling {
  using Record = typename Traits::Record;

  static PyObject* payload(PyObject* self, BufferField& field, long protocol) {
    if constexpr (ExportsBuffer<Traits>) {
      if (protocol >= 5 && Traits::exported(record_of<Record>(self)) == &field) {
        PyObject* pickle_buffer = module_attribute("pickle", "PickleBuffer");
        if (pickle_buffer == nullptr) return nullptr;
        PyObject* view = PyObject_CallFunctionObjArgs(pickle_buffer, self, nullptr);
        Py_DECREF(pickle_buffer);
        return view;
      }
    }
    return PyBytes_FromStringAndSize(static_cast<const char*>(field.data), Py_ssize_t(field.length * 8));
  }

  // A tuple with the bytes of every field, in the documented layout.
  static PyObject* payloads(PyObject* self, long protocol) {
    Record& record = record_of<Record>(self);
    auto fields = Traits::fields(record);
    PyObject* items = PyTuple_New(Py_ssize_t(fields.size()));
    if (items == nullptr) return nullptr;
    if constexpr (HasPlainFields<Traits>) {
      decltype(Traits::plain_fields(record)) plain;
      try {
        plain = Traits::plain_fields(record);
      } catch (...) {
        Py_DECREF(items);
        raise_current_exception();
        return nullptr;
      }
      for (size_t i = 0; i < fields.size(); ++i) {
        PyObject* item =
            PyBytes_FromStringAndSize(reinterpret_cast<const char*>(plain[i].data()), Py_ssize_t(plain[i].size() * 8));
        if (item == nullptr) {
          Py_DECREF(items);
          return nullptr;
        }
        PyTuple_SetItem(items, Py_ssize_t(i), item);
      }
    } else {
      for (size_t i = 0; i < fields.size(); ++i) {
        PyObject* item = payload(self, *fields[i], protocol);
        if (item == nullptr) {
          Py_DECREF(items);
          return nullptr;
        }
        PyTuple_SetItem(items, Py_ssize_t(i), item);
      }
    }
    return items;
  }

  static PyObject* reduce_ex(PyObject* self, PyObject* protocol_arg) {
    const long protocol = PyLong_AsLong(protocol_arg);
    if (protocol == -1 && PyErr_Occurred()) return nullptr;
    Record& record = record_of<Record>(self);
    PyObject* payloads = Pickling::payloads(self, protocol);
    if (payloads == nullptr) return nullptr;
    PyObject* dict = instance_dict_or_none(self);
    PyObject* newobj = dict == nullptr ? nullptr : module_attribute("copyreg", "__newobj__");
    PyObject* result = nullptr;
    if (newobj != nullptr)
      result = Py_BuildValue("(O(OL)(LOO))", newobj, reinterpret_cast<PyObject*>(Py_TYPE(self)),
                             static_cast<long long>(Traits::built_qubits(record)),
                             static_cast<long long>(record.num_qubits), payloads, dict);
    Py_XDECREF(newobj);
    Py_XDECREF(dict);
    Py_DECREF(payloads);
    return result;
  }

  static bool bits_only(const Py_buffer& view) {
    const auto* bytes = static_cast<const unsigned char*>(view.buf);
    for (Py_ssize_t i = 0; i + 8 <= view.len; i += 8) {
      int64_t entry;
      std::memcpy(&entry, bytes + i, 8);
      if (entry != 0 && entry != 1) return false;
    }
    return true;
  }

  static PyObject* fail(PyObject* type, const std::string& message) {
    shim_set_error_utf8(type, std::string(Traits::name) + ".__setstate__: " + message);
    return nullptr;
  }

  static PyObject* setstate(PyObject* self, PyObject* state) {
    if (!PyTuple_Check(state) || PyTuple_Size(state) != 3)
      return fail(PyExc_TypeError, "expected a tuple (num_qubits, buffers, dict), got " + shim_type_name(state));
    int64_t num_qubits;
    if (!from_py_int(PyTuple_GetItem(state, 0), "num_qubits", num_qubits)) return nullptr;
    PyObject* payloads = PyTuple_GetItem(state, 1);
    PyObject* dict = PyTuple_GetItem(state, 2);
    if (dict != Py_None && !PyDict_Check(dict))
      return fail(PyExc_TypeError, "the instance dict must be a dict or None, got " + shim_type_name(dict));
    Record& record = record_of<Record>(self);
    auto fields = Traits::fields(record);
    if (!PyTuple_Check(payloads) || PyTuple_Size(payloads) != Py_ssize_t(fields.size()))
      return fail(PyExc_TypeError, "expected a tuple of " + std::to_string(fields.size()) + " buffer(s), got " +
                                       shim_type_name(payloads));
    // Every buffer is checked before the first byte is written.
    std::array<Py_buffer, std::tuple_size_v<decltype(fields)>> views{};
    size_t taken = 0;
    auto release = [&] {
      for (size_t i = 0; i < taken; ++i) PyBuffer_Release(&views[i]);
    };
    for (; taken < fields.size(); ++taken) {
      PyObject* item = PyTuple_GetItem(payloads, Py_ssize_t(taken));
      if (PyObject_GetBuffer(item, &views[taken], PyBUF_SIMPLE) != 0) {
        PyErr_Clear();
        release();
        return fail(PyExc_TypeError,
                    "buffer " + std::to_string(taken) + " must be contiguous bytes, got " + shim_type_name(item));
      }
      const int64_t want = fields[taken]->length * 8;
      if constexpr (requires { Traits::kBitEntries; }) {
        if (int64_t(views[taken].len) == want && !bits_only(views[taken])) {
          ++taken;
          release();
          return fail(PyExc_ValueError, "buffer " + std::to_string(taken - 1) + " holds entries other than 0 and 1");
        }
      }
      if (int64_t(views[taken].len) != want) {
        const std::string got = std::to_string(views[taken].len);
        ++taken;
        release();
        return fail(PyExc_ValueError, "buffer " + std::to_string(taken - 1) + " holds " + got +
                                          " bytes, the object's holds " + std::to_string(want));
      }
    }
    if (!restore_instance_dict(self, dict, Traits::name)) {
      release();
      return nullptr;
    }
    for (size_t i = 0; i < fields.size(); ++i)
      if (views[i].len > 0) std::memmove(fields[i]->data, views[i].buf, size_t(views[i].len));
    release();
    if constexpr (HasPlainFields<Traits>) Traits::adopt_plain_fields(record);
    record.num_qubits = num_qubits;
    Py_RETURN_NONE;
  }

  // A new object of the same class, built by type.__new__(type, n) as an
  // unpickled one is, with the buffer contents and num_qubits of `self`; the
  // instance dict is left to the caller.
  static PyObject* clone(PyObject* self) {
    Record& from = record_of<Record>(self);
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    PyObject* made =
        PyObject_CallMethod(type, "__new__", "OL", type, static_cast<long long>(Traits::built_qubits(from)));
    if (made == nullptr) return nullptr;
    if (!PyObject_TypeCheck(made, Py_TYPE(self))) {
      Py_DECREF(made);
      return fail(PyExc_TypeError, "__new__ of " + shim_type_name(self) + " returned another type");
    }
    Record& to = record_of<Record>(made);
    auto sources = Traits::fields(from);
    auto targets = Traits::fields(to);
    for (size_t i = 0; i < sources.size(); ++i)
      if (sources[i]->length != targets[i]->length) {
        Py_DECREF(made);
        return fail(PyExc_ValueError, "__new__ of " + shim_type_name(self) + " built buffers of other sizes");
      }
    for (size_t i = 0; i < sources.size(); ++i) {
      if (sources[i]->length > 0) std::memcpy(targets[i]->data, sources[i]->data, size_t(sources[i]->length * 8));
      targets[i]->flags = sources[i]->flags;  // the form the data is kept in
    }
    to.num_qubits = from.num_qubits;
    return made;
  }

  static PyObject* copy(PyObject* self, PyObject*) {
    PyObject* made = clone(self);
    if (made == nullptr) return nullptr;
    PyObject* dict = instance_dict_or_none(self);
    if (dict == nullptr || !restore_instance_dict(made, dict, Traits::name)) Py_CLEAR(made);
    Py_XDECREF(dict);
    return made;
  }

  static PyObject* deepcopy(PyObject* self, PyObject* memo) {
    PyObject* made = clone(self);
    if (made == nullptr) return nullptr;
    PyObject* dict = instance_dict_or_none(self);
    if (dict != nullptr && dict != Py_None) {
      // Registered first, so that attributes referring back to `self` get `made`.
      PyObject* key = PyLong_FromVoidPtr(self);
      const bool registered = key != nullptr && PyDict_Check(memo) && PyDict_SetItem(memo, key, made) == 0;
      Py_XDECREF(key);
      PyObject* deep = nullptr;
      if (registered) {
        PyObject* deepcopy_fn = module_attribute("copy", "deepcopy");
        if (deepcopy_fn != nullptr) deep = PyObject_CallFunctionObjArgs(deepcopy_fn, dict, memo, nullptr);
        Py_XDECREF(deepcopy_fn);
      } else if (!PyErr_Occurred()) {
        fail(PyExc_TypeError, "__deepcopy__ expects the memo dict");
      }
      Py_DECREF(dict);
      dict = deep;
    }
    if (dict == nullptr || !restore_instance_dict(made, dict, Traits::name)) Py_CLEAR(made);
    Py_XDECREF(dict);
    return made;
  }

  // The entries for the class's method table.
  static std::array<PyMethodDef, 4> methods() {
    return {{
        {"__reduce_ex__", reinterpret_cast<PyCFunction>(reduce_ex), METH_O,
         "__reduce_ex__(protocol) -> tuple: pickle and copy support; the buffers travel as bytes, or with\n"
         "protocol 5 as a PickleBuffer over this object's buffer."},
        {"__setstate__", reinterpret_cast<PyCFunction>(setstate), METH_O,
         "__setstate__(state) -> None: restore num_qubits, the buffer contents and the instance dict\n"
         "from a state made by __reduce_ex__."},
        {"__copy__", reinterpret_cast<PyCFunction>(copy), METH_NOARGS,
         "__copy__() -> object: an independent object with the same class, num_qubits and buffer contents."},
        {"__deepcopy__", reinterpret_cast<PyCFunction>(deepcopy), METH_O,
         "__deepcopy__(memo) -> object: as __copy__, with the instance dict deep-copied."},
    }};
  }
};

}  // namespace nimbic::binding
