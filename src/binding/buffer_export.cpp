#include "binding/buffer_export.hpp"

#include <cstdint>

namespace nimbic::binding {

namespace {

// The shape of a view points at the field's element count, which lives in the
// object the view keeps alive and never changes.
static_assert(sizeof(Py_ssize_t) == sizeof(int64_t) && alignof(Py_ssize_t) == alignof(int64_t));

// Some consumers take a null address for a failed export: an empty field
// exports this instead (nothing is ever read or written through it).
double empty_buffer[1];

}  // namespace

int export_buffer_field(PyObject* owner, BufferField& field, Py_buffer* view, int flags) {
  if (view == nullptr) {
    PyErr_SetString(PyExc_BufferError, "cannot fill this buffer");
    return -1;
  }
  view->obj = Py_NewRef(owner);
  view->buf = field.empty() ? empty_buffer : field.data;
  view->len = Py_ssize_t(field.length * 8);
  view->itemsize = 8;
  view->readonly = 0;
  view->ndim = 1;
  view->format = (flags & PyBUF_FORMAT) == PyBUF_FORMAT ? const_cast<char*>("d") : nullptr;
  view->shape = (flags & PyBUF_ND) == PyBUF_ND ? reinterpret_cast<Py_ssize_t*>(&field.length) : nullptr;
  // One element per item: the stride is the item size.
  view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? &view->itemsize : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  if (!field.empty()) field.views() += 1;
  return 0;
}

void release_buffer_field_export(BufferField& field) {
  if (!field.empty() && field.views() > 0) field.views() -= 1;
}

}  // namespace nimbic::binding
