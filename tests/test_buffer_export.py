"""Buffer export as C consumers see it: every request flag, compared with
array.array('d'), and consumers that check the export's return value."""
import array
import ctypes
import os
import shutil
import struct
import subprocess
import sys
import sysconfig
import textwrap
import zlib

import pytest

import nimbic_native as nn

PyBUF_WRITABLE, PyBUF_FORMAT, PyBUF_ND = 0x1, 0x4, 0x8
PyBUF_STRIDES = 0x10 | PyBUF_ND
SHAPES = {"simple": 0, "nd": PyBUF_ND, "strides": PyBUF_STRIDES, "c_contiguous": 0x20 | PyBUF_STRIDES,
          "f_contiguous": 0x40 | PyBUF_STRIDES, "any_contiguous": 0x80 | PyBUF_STRIDES,
          "indirect": 0x100 | PyBUF_STRIDES}
FLAGS = [shape | extra for shape in SHAPES.values()
         for extra in (0, PyBUF_WRITABLE, PyBUF_FORMAT, PyBUF_WRITABLE | PyBUF_FORMAT)]


class Py_buffer(ctypes.Structure):
    _fields_ = [("buf", ctypes.c_void_p), ("obj", ctypes.c_void_p), ("len", ctypes.c_ssize_t),
                ("itemsize", ctypes.c_ssize_t), ("readonly", ctypes.c_int), ("ndim", ctypes.c_int),
                ("format", ctypes.c_char_p), ("shape", ctypes.POINTER(ctypes.c_ssize_t)),
                ("strides", ctypes.POINTER(ctypes.c_ssize_t)), ("suboffsets", ctypes.POINTER(ctypes.c_ssize_t)),
                ("internal", ctypes.c_void_p)]


get_buffer = ctypes.pythonapi.PyObject_GetBuffer
get_buffer.argtypes = [ctypes.py_object, ctypes.POINTER(Py_buffer), ctypes.c_int]
get_buffer.restype = ctypes.c_int
release_buffer = ctypes.pythonapi.PyBuffer_Release
release_buffer.argtypes = [ctypes.POINTER(Py_buffer)]
release_buffer.restype = None


def exported(obj, flags):
    """The view a C consumer gets, as comparable fields (the address apart)."""
    view = Py_buffer()
    status = get_buffer(obj, ctypes.byref(view), flags)
    try:
        def dims(p):
            return None if not p else tuple(p[i] for i in range(view.ndim))
        fields = dict(status=status, obj=view.obj == id(obj), len=view.len, itemsize=view.itemsize,
                      readonly=view.readonly, ndim=view.ndim, format=view.format, shape=dims(view.shape),
                      strides=dims(view.strides), suboffsets=dims(view.suboffsets), has_buf=bool(view.buf))
        return fields, view.buf
    finally:
        release_buffer(ctypes.byref(view))


@pytest.mark.parametrize("flags", FLAGS, ids=hex)
@pytest.mark.parametrize("make, floats", [(lambda: nn.NativeState(2), 8), (lambda: nn.NativeDensity(1), 8),
                                          (lambda: nn.NativeDensity(2), 32), (lambda: nn.NativeState(-1), 0)],
                         ids=["state", "density1", "density2", "empty"])
def test_every_request_is_filled_like_array_d(make, floats, flags):
    obj = make()
    got, address = exported(obj, flags)
    want, _ = exported(array.array("d", [0.0] * floats), flags)
    assert got == want
    if floats:  # zero-copy and writable: a write through the address is the object's data
        ctypes.c_double.from_address(address + 8).value = 2.5
        assert memoryview(obj)[1] == 2.5


def test_exports_are_counted_and_keep_the_object_alive():
    obj = nn.NativeState(1)
    view = Py_buffer()
    assert get_buffer(obj, ctypes.byref(view), PyBUF_STRIDES | PyBUF_FORMAT) == 0
    before = sys.getrefcount(obj)
    release_buffer(ctypes.byref(view))
    assert sys.getrefcount(obj) == before - 1


@pytest.mark.parametrize("cls", [nn.NativeState, nn.NativeDensity])
def test_consumers_that_check_the_return_value(cls):
    obj = cls(1)
    memoryview(obj).cast("B").cast("d")[:] = array.array("d", range(len(memoryview(obj))))
    raw = bytes(memoryview(obj))
    assert zlib.crc32(obj) == zlib.crc32(raw)
    assert struct.unpack_from("<4d", obj) == tuple(float(i) for i in range(4))


CYTHON_SOURCE = textwrap.dedent("""
    def total(double[:] v):
        cdef double s = 0
        cdef Py_ssize_t i
        for i in range(v.shape[0]):
            s += v[i]
        return s

    def scale(double[::1] v, double factor):
        cdef Py_ssize_t i
        for i in range(v.shape[0]):
            v[i] *= factor
        return v.shape[0]
""")

CYTHON_CHILD = textwrap.dedent("""
    import consumer, nimbic_native as nn
    s = nn.NativeState(2)
    s.set_amplitudes([0.5, 0.25, 0.5, 0.0, 0.5, 0.0, 0.5, -0.25])
    d = nn.NativeDensity(1)
    d.set_from_amplitudes([0.6, 0.0, 0.0, 0.8])
    print(consumer.total(s) == sum(s.amplitudes()), consumer.total(d) == sum(d.density_matrix()),
          consumer.total(nn.NativeState(-1)))
    print(consumer.scale(s, 2.0), s.amplitudes())
""")


def compiler_available():
    cc = (sysconfig.get_config_var("CC") or "cc").split()[0]
    return shutil.which(cc) is not None


@pytest.mark.skipif(not compiler_available(), reason="no C compiler")
def test_cython_memoryview_argument_reads_and_writes_both_classes(tmp_path):
    pytest.importorskip("Cython")
    (tmp_path / "consumer.pyx").write_text(CYTHON_SOURCE)
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}  # the compiler runs without sanitizers
    build = subprocess.run([sys.executable, "-c", "from Cython.Build.Cythonize import main; main(['-i', '-q', "
                            "'consumer.pyx'])"], cwd=tmp_path, env=env, capture_output=True, text=True,
                           timeout=600)
    assert build.returncode == 0, build.stderr[-2000:]
    # In a child process: a consumer that crashes fails this test, not the run.
    path = os.pathsep.join([str(tmp_path), os.path.dirname(nn.__file__)])
    run = subprocess.run([sys.executable, "-c", CYTHON_CHILD], env=dict(os.environ, PYTHONPATH=path),
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr[-2000:]
    totals, scaled = run.stdout.splitlines()
    assert totals == "True True 0.0"
    assert scaled == "8 [1.0, 0.5, 1.0, 0.0, 1.0, 0.0, 1.0, -0.5]"
