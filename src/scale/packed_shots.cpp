#include "scale/packed_shots.hpp"

#include <algorithm>
#include <string>

#include "binding/shim.hpp"
#include "binding/wrapper.hpp"
#include "common/interrupt.hpp"

namespace nimbic::scale {

namespace {

using binding::record_of;

PyTypeObject* packed_shots_type = nullptr;
PyTypeObject* packed_batches_type = nullptr;

// ---- PackedShots --------------------------------------------------------------

struct ShotsRecord {
  std::vector<uint8_t>* bytes;  // owned
  Py_ssize_t shape[2];          // repetitions, ceil(M/8)
  Py_ssize_t strides[2];        // ceil(M/8), 1
  int64_t num_measurements;
};

// An empty block exports this address: some consumers take null for a
// failed export. Nothing is read or written through it.
uint8_t empty_block[1];

void free_object(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

void shots_dealloc(PyObject* self) {
  delete record_of<ShotsRecord>(self).bytes;
  free_object(self);
}

// C-contiguous rows: shape when PyBUF_ND is asked (a flat view of all bytes
// otherwise), strides when PyBUF_STRIDES is asked, the format "B" when
// PyBUF_FORMAT is asked. Writable: the block is the caller's own result.
int shots_getbuffer(PyObject* self, Py_buffer* view, int flags) {
  if (view == nullptr) {
    PyErr_SetString(PyExc_BufferError, "cannot fill this buffer");
    return -1;
  }
  ShotsRecord& r = record_of<ShotsRecord>(self);
  view->obj = Py_NewRef(self);
  view->buf = r.bytes->empty() ? empty_block : r.bytes->data();
  view->len = Py_ssize_t(r.bytes->size());
  view->itemsize = 1;
  view->readonly = 0;
  view->format = (flags & PyBUF_FORMAT) == PyBUF_FORMAT ? const_cast<char*>("B") : nullptr;
  const bool nd = (flags & PyBUF_ND) == PyBUF_ND;
  view->ndim = nd ? 2 : 1;
  view->shape = nd ? r.shape : nullptr;
  view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? r.strides : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  return 0;
}

void shots_releasebuffer(PyObject*, Py_buffer*) {}

PyObject* shots_repetitions(PyObject* self, void*) { return PyLong_FromSsize_t(record_of<ShotsRecord>(self).shape[0]); }

PyObject* shots_num_measurements(PyObject* self, void*) {
  return PyLong_FromLongLong(record_of<ShotsRecord>(self).num_measurements);
}

PyObject* shots_shape(PyObject* self, void*) {
  const ShotsRecord& r = record_of<ShotsRecord>(self);
  return Py_BuildValue("(nn)", r.shape[0], r.shape[1]);
}

Py_ssize_t shots_length(PyObject* self) { return record_of<ShotsRecord>(self).shape[0]; }

PyObject* shots_repr(PyObject* self) {
  const ShotsRecord& r = record_of<ShotsRecord>(self);
  const std::string text = "PackedShots(repetitions=" + std::to_string(r.shape[0]) +
                           ", num_measurements=" + std::to_string(r.num_measurements) + ")";
  return PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()));
}

PyGetSetDef shots_getset[] = {
    {"repetitions", shots_repetitions, nullptr, "Rows: one per repetition.", nullptr},
    {"num_measurements", shots_num_measurements, nullptr, "M, the measured bits of a row.", nullptr},
    {"shape", shots_shape, nullptr, "(repetitions, ceil(M/8)), the shape of the exported buffer.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot shots_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(shots_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(shots_repr)},
    {Py_tp_getset, shots_getset},
    {Py_sq_length, reinterpret_cast<void*>(shots_length)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(shots_getbuffer)},
    {Py_bf_releasebuffer, reinterpret_cast<void*>(shots_releasebuffer)},
    {Py_tp_doc, const_cast<char*>("Measurement bits packed eight to a byte, one row per repetition; exports a "
                                  "buffer of unsigned bytes of shape (repetitions, ceil(M/8)).")},
    {0, nullptr},
};

PyType_Spec shots_spec = {
    "nimbic_scale._native.PackedShots",
    int(sizeof(PyObject) + sizeof(ShotsRecord)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    shots_slots,
};

// ---- PackedBatches --------------------------------------------------------------

struct BatchesRecord {
  stabilizer::PackedRun* run;  // owned
  int64_t next;                // first repetition of the next batch
  int64_t batch_size;
};

void batches_dealloc(PyObject* self) {
  delete record_of<BatchesRecord>(self).run;
  free_object(self);
}

// The next batch, sampled with the stop check of module functions (Ctrl-C
// raises KeyboardInterrupt inside a batch; the batch is then not consumed).
PyObject* batches_next(PyObject* self) {
  BatchesRecord& r = record_of<BatchesRecord>(self);
  const int64_t left = r.run->repetitions - r.next;
  if (left <= 0) return nullptr;
  const int64_t count = std::min(left, r.batch_size);
  const ScopedStopCheck stop(binding::python_signal_pending);
  try {
    std::vector<uint8_t> bytes = stabilizer::sample_packed_rows(*r.run, r.next, count);
    if (PyErr_Occurred()) return nullptr;
    PyObject* shots = new_packed_shots(std::move(bytes), count, r.run->num_measurements);
    if (shots != nullptr) r.next += count;
    return shots;
  } catch (...) {
    binding::raise_current_exception();
    return nullptr;
  }
}

PyObject* batches_num_measurements(PyObject* self, void*) {
  return PyLong_FromLongLong(record_of<BatchesRecord>(self).run->num_measurements);
}

PyObject* batches_repetitions(PyObject* self, void*) {
  return PyLong_FromLongLong(record_of<BatchesRecord>(self).run->repetitions);
}

PyObject* batches_batch_size(PyObject* self, void*) {
  return PyLong_FromLongLong(record_of<BatchesRecord>(self).batch_size);
}

PyGetSetDef batches_getset[] = {
    {"repetitions", batches_repetitions, nullptr, "Rows of the whole run.", nullptr},
    {"num_measurements", batches_num_measurements, nullptr, "M, the measured bits of a row.", nullptr},
    {"batch_size", batches_batch_size, nullptr, "Rows of every batch but the last.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot batches_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(batches_dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(batches_next)},
    {Py_tp_getset, batches_getset},
    {Py_tp_doc, const_cast<char*>("The packed rows of one seeded run, batch by batch: their concatenation is "
                                  "the run's PackedShots.")},
    {0, nullptr},
};

PyType_Spec batches_spec = {
    "nimbic_scale._native.PackedBatches",
    int(sizeof(PyObject) + sizeof(BatchesRecord)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    batches_slots,
};

int add_type(PyObject* module, const char* name, PyType_Spec* spec, PyTypeObject*& slot) {
  PyObject* type = PyType_FromSpec(spec);
  if (type == nullptr) return -1;
  Py_XDECREF(reinterpret_cast<PyObject*>(slot));
  slot = reinterpret_cast<PyTypeObject*>(type);
  return PyModule_AddObjectRef(module, name, type);
}

// Instances come from the sampling functions only (the types disallow
// instantiation from Python).
PyObject* alloc(PyTypeObject* type) {
  PyObject* self = PyType_GenericAlloc(type, 0);
  return self != nullptr ? self : PyErr_NoMemory();
}

}  // namespace

int add_sampling_types(PyObject* module) {
  if (add_type(module, "PackedShots", &shots_spec, packed_shots_type) != 0) return -1;
  return add_type(module, "PackedBatches", &batches_spec, packed_batches_type);
}

PyObject* new_packed_shots(std::vector<uint8_t>&& bytes, int64_t rows, int64_t num_measurements) {
  auto owned = std::make_unique<std::vector<uint8_t>>(std::move(bytes));
  PyObject* self = alloc(packed_shots_type);
  if (self == nullptr) return nullptr;
  ShotsRecord& r = record_of<ShotsRecord>(self);
  const Py_ssize_t row_bytes = Py_ssize_t((num_measurements + 7) / 8);
  r.bytes = owned.release();
  r.shape[0] = Py_ssize_t(rows);
  r.shape[1] = row_bytes;
  r.strides[0] = row_bytes;
  r.strides[1] = 1;
  r.num_measurements = num_measurements;
  return self;
}

PyObject* new_packed_batches(std::unique_ptr<stabilizer::PackedRun> run, int64_t batch_size) {
  PyObject* self = alloc(packed_batches_type);
  if (self == nullptr) return nullptr;
  BatchesRecord& r = record_of<BatchesRecord>(self);
  r.run = run.release();
  r.next = 0;
  r.batch_size = batch_size;
  return self;
}

}  // namespace nimbic::scale
