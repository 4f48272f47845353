"""Buffer export as C consumers see it: every request flag compared with
array.array('d'), consumers that check the export's status, and a Cython
memoryview argument (which crashed on a view without shape and strides)."""
import array
import ctypes
import os
import pickle
import shutil
import struct
import subprocess
import sys
import sysconfig
import zlib

import pytest

import nimbic_native as nn

# PyBUF_SIMPLE, _ND, _STRIDES, _C/_F/_ANY_CONTIGUOUS, _INDIRECT, each alone,
# with PyBUF_WRITABLE (1), with PyBUF_FORMAT (4) and with both.
FLAGS = [shape | extra for shape in (0, 0x8, 0x18, 0x38, 0x58, 0x98, 0x118) for extra in (0, 1, 4, 5)]


class Py_buffer(ctypes.Structure):
    _fields_ = [("buf", ctypes.c_void_p), ("obj", ctypes.c_void_p), ("len", ctypes.c_ssize_t),
                ("itemsize", ctypes.c_ssize_t), ("readonly", ctypes.c_int), ("ndim", ctypes.c_int),
                ("format", ctypes.c_char_p)] + [
        (name, ctypes.POINTER(ctypes.c_ssize_t)) for name in ("shape", "strides", "suboffsets")] + [
        ("internal", ctypes.c_void_p)]


ctypes.pythonapi.PyObject_GetBuffer.argtypes = [ctypes.py_object, ctypes.POINTER(Py_buffer), ctypes.c_int]
ctypes.pythonapi.PyBuffer_Release.argtypes = [ctypes.POINTER(Py_buffer)]


def exported(obj, flags):
    """The fields a C consumer gets (the address as null or not), and the address."""
    view = Py_buffer()
    status = ctypes.pythonapi.PyObject_GetBuffer(obj, ctypes.byref(view), flags)
    dims = [None if not p else tuple(p[:view.ndim]) for p in (view.shape, view.strides, view.suboffsets)]
    fields = (status, view.obj == id(obj), view.len, view.itemsize, view.readonly, view.ndim, view.format,
              *dims, bool(view.buf), view.internal)
    ctypes.pythonapi.PyBuffer_Release(ctypes.byref(view))
    return fields, view.buf


@pytest.mark.parametrize("flags", FLAGS, ids=hex)
@pytest.mark.parametrize("make, floats", [(lambda: nn.NativeState(2), 8), (lambda: nn.NativeDensity(2), 32),
                                          (lambda: nn.NativeState(-1), 0)], ids=["state", "density", "empty"])
def test_every_request_is_filled_like_array_d(make, floats, flags):
    obj = make()
    got, address = exported(obj, flags)
    assert got == exported(array.array("d", [0.0] * floats), flags)[0]
    if floats:  # zero-copy and writable
        ctypes.c_double.from_address(address + 8).value = 2.5
        assert memoryview(obj)[1] == 2.5


@pytest.mark.parametrize("cls", [nn.NativeState, nn.NativeDensity])
def test_consumers_that_check_the_export_status(cls):
    obj = cls(1)
    memoryview(obj)[:4] = array.array("d", range(4))
    assert zlib.crc32(obj) == zlib.crc32(bytes(memoryview(obj)))
    assert struct.unpack_from("<4d", obj) == (0.0, 1.0, 2.0, 3.0)



def views_count(obj):
    """Bytes 0 to 7 of the header of the object's exported field (16 bytes
    before its first element): the count of live exports."""
    view = memoryview(obj)
    address = ctypes.addressof(ctypes.c_double.from_buffer(view))
    del view
    return ctypes.c_int64.from_address(address - 16).value


@pytest.mark.parametrize("cls, n", [(nn.NativeState, 3), (nn.NativeDensity, 2)])
def test_views_count_follows_the_live_exports(cls, n):
    """Pickling and rewriting num_qubits while views are alive change
    nothing for the views: they keep the object's memory, the count stays."""
    obj = cls(n)
    assert views_count(obj) == 0
    first = memoryview(obj)
    part = first[2:5]  # a slice shares the export of its parent
    raw = memoryview(obj).cast("B")  # one more export, kept by the cast
    assert views_count(obj) == 2
    first[2] = 0.75
    obj.num_qubits = n + 7
    obj.num_qubits = n
    buffers = []
    data = pickle.dumps(obj, protocol=5, buffer_callback=buffers.append)
    assert views_count(obj) == 3  # the out-of-band pickle buffer is an export too
    restored = pickle.loads(data, buffers=buffers)
    del buffers
    assert views_count(obj) == 2 and views_count(restored) == 0
    assert part[0] == 0.75 and memoryview(restored)[2] == 0.75 and len(raw) == len(first) * 8
    del first
    assert views_count(obj) == 2  # the slice keeps the export alive
    del part
    assert views_count(obj) == 1
    del raw
    assert views_count(obj) == 0


THP = "/sys/kernel/mm/transparent_hugepage/enabled"


def vm_flags_at(address):
    """The VmFlags of the mapping of this process that holds `address`."""
    with open("/proc/self/smaps") as f:
        inside = False
        for line in f:
            head = line.split()[0]
            if "-" in head and ":" not in head:
                start, end = (int(x, 16) for x in head.split("-"))
                inside = start <= address < end
            elif inside and head == "VmFlags:":
                return line.split()[1:]
    raise AssertionError(f"no mapping holds {address:#x}")


@pytest.mark.skipif(not os.path.exists(THP) or "[never]" in open(THP).read(),
                    reason="transparent huge pages are unavailable")
@pytest.mark.parametrize("make", [lambda: nn.NativeState(21), lambda: nn.NativeDensity(11)], ids=["state", "density"])
def test_large_buffers_ask_for_huge_pages(make):
    obj = make()  # 32 and 64 MiB
    view = memoryview(obj)
    middle = ctypes.addressof(ctypes.c_double.from_buffer(view)) + view.nbytes // 2
    del view
    assert "hg" in vm_flags_at(middle)

CYTHON_CHILD = """
import consumer, nimbic_native as nn
s = nn.NativeState(2)
s.set_amplitudes([0.5, 0.25, 0.5, 0.0, 0.5, 0.0, 0.5, -0.25])
d = nn.NativeDensity(1)
d.set_from_amplitudes([0.6, 0.0, 0.0, 0.8])
print(consumer.total(s) == sum(s.amplitudes()), consumer.total(d) == sum(d.density_matrix()),
      consumer.total(nn.NativeState(-1)))
"""


@pytest.mark.skipif(shutil.which((sysconfig.get_config_var("CC") or "cc").split()[0]) is None,
                    reason="no C compiler")
def test_cython_memoryview_argument_reads_both_classes(tmp_path):
    pytest.importorskip("Cython")
    (tmp_path / "consumer.pyx").write_text(
        "def total(double[:] v):\n    cdef double s = 0\n    cdef Py_ssize_t i\n"
        "    for i in range(v.shape[0]):\n        s += v[i]\n    return s\n")
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}  # the compiler runs without sanitizers
    build = subprocess.run([sys.executable, "-c", "from Cython.Build.Cythonize import main; "
                            "main(['-i', '-q', 'consumer.pyx'])"], cwd=tmp_path, env=env, capture_output=True,
                           text=True)
    assert build.returncode == 0, build.stderr[-2000:]
    # In a child process: a consumer that crashes fails this test, not the run.
    path = os.pathsep.join([str(tmp_path), os.path.dirname(nn.__file__)])
    run = subprocess.run([sys.executable, "-c", CYTHON_CHILD], env=dict(os.environ, PYTHONPATH=path),
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr[-2000:]
    assert run.stdout == "True True 0.0\n"
