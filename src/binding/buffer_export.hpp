// Buffer export of an object's double field: one writable, one-dimensional,
// zero-copy view that keeps the object alive. The view is filled the way
// array.array('d') fills it, honouring the request flags: shape when
// PyBUF_ND is asked, strides when PyBUF_STRIDES is asked, the format "d" when
// PyBUF_FORMAT is asked. A contiguous writable array meets every request.
#pragma once

#include "binding/python.hpp"
#include "common/buffer_field.hpp"

namespace nimbic::binding {

// Fills `view` over `field` of `owner`; 0, or -1 with BufferError.
int export_buffer_field(PyObject* owner, BufferField& field, Py_buffer* view, int flags);
// Ends one export of `field`.
void release_buffer_field_export(BufferField& field);

}  // namespace nimbic::binding
