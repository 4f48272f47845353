// Native classes as heap types: an object is the Python header followed by a
// plain record (buffer fields plus `num_qubits`). Each class supplies a traits
// struct; these templates give it construction, destruction, repr, identity
// comparison and hashing, the `num_qubits` attribute and, when the traits name
// an exported field, the buffer protocol (one writable 1-D view of doubles).
//
// Traits members:
//   using Record;                       plain record with `int64_t num_qubits`
//   static constexpr const char* name, *qualname, *doc;
//   static Record build(int64_t num_qubits);       may throw Panic
//   static auto fields(Record&);                   every BufferField*, to free
//   static BufferField* exported(Record&);         (buffer classes only)
//   static std::string repr(const Record&);
#pragma once

#include <cstdint>
#include <string>

#include "binding/buffer_export.hpp"
#include "binding/convert.hpp"
#include "binding/python.hpp"
#include "binding/shim.hpp"
#include "binding/wrapper.hpp"
#include "common/buffer_field.hpp"

namespace nimbic::binding {

template <class Traits>
concept ExportsBuffer = requires(typename Traits::Record& r) { Traits::exported(r); };

template <class Traits>
struct NativeClass {
  using Record = typename Traits::Record;

  static PyObject* tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const params[] = {"num_qubits"};
    PyObject* slots[1] = {nullptr};
    if (!bind_new_args(args, kwargs, slots, Traits::name, params, 1)) return nullptr;
    int64_t num_qubits;
    if (!from_py_int(slots[0], "num_qubits", num_qubits)) return nullptr;
    PyObject* self = PyType_GenericAlloc(type, 0);
    if (self == nullptr) return PyErr_NoMemory();
    try {
      record_of<Record>(self) = Traits::build(num_qubits);
    } catch (...) {
      Py_DECREF(self);
      raise_current_exception();
      return nullptr;
    }
    return self;
  }

  static void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    for (BufferField* field : Traits::fields(record_of<Record>(self))) release_buffer_field(*field);
    if (PyType_IS_GC(type)) PyObject_GC_UnTrack(self);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_fn(self);
    Py_DECREF(type);
  }

  static PyObject* repr(PyObject* self) {
    const std::string text = Traits::repr(record_of<Record>(self));
    return PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()));
  }

  static PyObject* richcompare(PyObject* a, PyObject* b, int op) {
    if (op == Py_EQ) return PyBool_FromLong(a == b);
    if (op == Py_NE) return PyBool_FromLong(a != b);
    Py_RETURN_NOTIMPLEMENTED;
  }

  static Py_hash_t hash(PyObject* self) { return Py_hash_t(reinterpret_cast<uintptr_t>(self) >> 4); }

  static PyObject* get_num_qubits(PyObject* self, void*) {
    return PyLong_FromLongLong(record_of<Record>(self).num_qubits);
  }

  static int set_num_qubits(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) {
      shim_set_error_utf8(PyExc_AttributeError, std::string(Traits::name) + ".num_qubits cannot be deleted");
      return -1;
    }
    int64_t n;
    if (!from_py_int(value, "value", n)) return -1;
    record_of<Record>(self).num_qubits = n;
    return 0;
  }

  static int getbuffer(PyObject* self, Py_buffer* view, int flags)
    requires ExportsBuffer<Traits>
  {
    return export_buffer_field(self, *Traits::exported(record_of<Record>(self)), view, flags);
  }

  static void releasebuffer(PyObject* self, Py_buffer*)
    requires ExportsBuffer<Traits>
  {
    release_buffer_field_export(*Traits::exported(record_of<Record>(self)));
  }

  // Creates the heap type; `methods` ends with a zero entry and must outlive
  // the type.
  static PyObject* create(PyMethodDef* methods) {
    static PyGetSetDef getset[] = {
        {"num_qubits", get_num_qubits, set_num_qubits, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(tp_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
        {Py_tp_methods, methods},
        {Py_tp_getset, getset},
        {Py_tp_repr, reinterpret_cast<void*>(repr)},
        {Py_tp_richcompare, reinterpret_cast<void*>(richcompare)},
        {Py_tp_hash, reinterpret_cast<void*>(hash)},
        {Py_tp_doc, const_cast<char*>(Traits::doc)},
        {0, nullptr},  // room for the two buffer slots
        {0, nullptr},
        {0, nullptr},
    };
    if constexpr (ExportsBuffer<Traits>) {
      slots[8] = {Py_bf_getbuffer, reinterpret_cast<void*>(getbuffer)};
      slots[9] = {Py_bf_releasebuffer, reinterpret_cast<void*>(releasebuffer)};
    }
    slots[2].pfunc = methods;
    static PyType_Spec spec = {
        Traits::qualname, int(sizeof(PyObject) + sizeof(Record)), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, slots,
    };
    return PyType_FromSpec(&spec);
  }
};

}  // namespace nimbic::binding
