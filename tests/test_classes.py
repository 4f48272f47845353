"""The three native classes: construction, protocol, attributes and buffer export."""
import gc
import weakref

import numpy
import pytest

import nimbic_native as nn
from conftest import needs_plain_allocator, rss_bytes

CLASSES = [nn.NativeState, nn.NativeDensity, nn.NativeTableau]


def test_module_publishes_classes_after_functions():
    names = [n for n in vars(nn) if not n.startswith("__")]
    assert names[-3:] == ["NativeTableau", "NativeState", "NativeDensity"]
    for cls in CLASSES:
        assert cls.__module__ == "nimbic_native"
        assert cls.__qualname__ == cls.__name__


def test_class_docstrings_and_sizes():
    assert nn.NativeState.__doc__ == (
        "NativeState is the state vector of a circuit, as a flat interleaved complex\n"
        "buffer (`[re0, im0, re1, im1, ...]`).")
    assert nn.NativeDensity.__doc__ == (
        "NativeDensity is the density matrix of a circuit, as a flat interleaved\n"
        "complex buffer of `dim` by `dim` entries.")
    assert nn.NativeTableau.__doc__.startswith(
        "NativeTableau is a stabilizer state whose tableau lives in `@[bd_buffer]`\n")
    assert [c.__basicsize__ for c in CLASSES] == [72, 72, 168]


@pytest.mark.parametrize("make, text", [
    (lambda: nn.NativeState(1), "NativeState(state: buffer(4), num_qubits: 1)"),
    (lambda: nn.NativeState(-1), "NativeState(state: buffer(0), num_qubits: -1)"),
    (lambda: nn.NativeState(62), "NativeState(state: buffer(0), num_qubits: 62)"),
    (lambda: nn.NativeDensity(1), "NativeDensity(rho: buffer(8), num_qubits: 1)"),
    (lambda: nn.NativeDensity(0), "NativeDensity(rho: buffer(2), num_qubits: 0)"),
    (lambda: nn.NativeDensity(31), "NativeDensity(rho: buffer(0), num_qubits: 31)"),
    (lambda: nn.NativeDensity(64), "NativeDensity(rho: buffer(0), num_qubits: 64)"),
    (lambda: nn.NativeTableau(3), "NativeTableau(num_qubits: 3)"),
    (lambda: nn.NativeTableau(-4), "NativeTableau(num_qubits: -4)"),
])
def test_construction_sizes_and_repr(make, text):
    assert repr(make()) == text


@pytest.mark.parametrize("cls, n", [(nn.NativeState, 60), (nn.NativeState, 45), (nn.NativeDensity, 30),
                                    (nn.NativeDensity, 25), (nn.NativeTableau, 2**40)])
def test_impossible_sizes_raise_memory_error(cls, n):
    with pytest.raises(MemoryError, match="^panic in native code: memory allocation failure$"):
        cls(n)


@pytest.mark.parametrize("cls", CLASSES)
def test_constructor_binding(cls):
    name = cls.__name__
    with pytest.raises(TypeError, match=rf"^{name}\(\) missing required argument: 'num_qubits'$"):
        cls()
    with pytest.raises(TypeError, match=rf"^{name}\(\) got an unexpected keyword argument 'qubits'$"):
        cls(2, qubits=1)
    with pytest.raises(TypeError, match=rf"^{name}\(\) takes at most 1 argument \(2 given\)$"):
        cls(1, 2)
    with pytest.raises(TypeError, match="^num_qubits: expected int, got float$"):
        cls(1.0)
    assert cls(num_qubits=2).num_qubits == 2


@pytest.mark.parametrize("cls", CLASSES)
def test_identity_comparison_and_hash(cls):
    a, b = cls(1), cls(1)
    assert a == a and not (a != a)
    assert a != b and not (a == b)
    assert (a == 5) is False
    with pytest.raises(TypeError):
        a < a
    assert hash(a) == id(a) >> 4
    assert len({a, b, a}) == 2


@pytest.mark.parametrize("cls", CLASSES)
def test_num_qubits_attribute(cls):
    obj = cls(1)
    with pytest.raises(AttributeError, match=rf"^{cls.__name__}\.num_qubits cannot be deleted$"):
        del obj.num_qubits
    with pytest.raises(TypeError, match="^value: expected int, got bool$"):
        obj.num_qubits = True
    with pytest.raises(OverflowError, match="^value: value out of range for int$"):
        obj.num_qubits = 2**64
    before = repr(obj)
    obj.num_qubits = 5
    assert obj.num_qubits == 5
    assert repr(obj) == before.replace("num_qubits: 1", "num_qubits: 5")


@pytest.mark.parametrize("cls, floats", [(nn.NativeState, 8), (nn.NativeDensity, 32)])
def test_buffer_export(cls, floats):
    obj = cls(2)
    view = memoryview(obj)
    assert (view.format, view.itemsize, view.shape, view.readonly, view.nbytes) == \
        ("d", 8, (floats,), False, 8 * floats)
    view[0] = 1.0
    read = obj.amplitudes() if cls is nn.NativeState else None
    if read is not None:
        assert read[0] == 1.0
    view.release()


def test_tableau_has_no_buffer():
    with pytest.raises(TypeError):
        memoryview(nn.NativeTableau(1))


class Sub(nn.NativeState):
    def norm(self):
        return sum(x * x for x in self.amplitudes())


def test_numpy_view_is_live_and_keeps_object_alive():
    s = Sub(2)  # a Python subclass supports weak references
    s.set_zero_state()
    amps = numpy.frombuffer(s, dtype=numpy.complex128)
    alive = weakref.ref(s)
    s.apply_gate([0, 0, 1, 0, 1, 0, 0, 0], [0])  # X on qubit 0: |00> -> |10>
    assert amps.tolist() == [0, 0, 1, 0]
    amps[:] = [0.5, 0.5, 0.5, 0.5]
    assert s.amplitudes() == [0.5, 0, 0.5, 0, 0.5, 0, 0.5, 0]
    del s
    gc.collect()
    assert alive() is not None, "the view holds the object"
    assert amps.sum() == 2.0
    del amps
    gc.collect()
    assert alive() is None, "releasing the view releases the object"


class DensitySub(nn.NativeDensity):
    pass


def test_density_numpy_view_is_a_live_matrix():
    n = 2
    rho = DensitySub(n)
    rho.set_zero_state()
    m = numpy.frombuffer(rho, dtype=numpy.complex128).reshape(2**n, 2**n)
    assert m.flags.writeable and not m.flags.owndata
    # A write through numpy is what the next kernel call reads...
    rng = numpy.random.default_rng(3)
    a = rng.normal(size=(4, 4)) + 1j * rng.normal(size=(4, 4))
    m[...] = a @ a.conj().T / numpy.trace(a @ a.conj().T).real
    before = m.copy()
    assert rho.probabilities([0, 1]) == pytest.approx(before.diagonal().real, abs=1e-15)
    # ...and a kernel's in-place update is what numpy reads next.
    h = numpy.array([[1, 1], [1, -1]]) / numpy.sqrt(2)
    rho.apply_channel(list(numpy.ascontiguousarray(h, complex).view(float).ravel()), 1, [0])
    u = numpy.kron(h, numpy.eye(2))
    numpy.testing.assert_allclose(m, u @ before @ u.conj().T, atol=1e-15)
    assert m.ravel().view(float).tolist() == rho.density_matrix()
    alive = weakref.ref(rho)
    del rho
    gc.collect()
    assert alive() is not None, "the view holds the object"
    assert abs(numpy.trace(m) - 1) < 1e-12
    del m
    gc.collect()
    assert alive() is None, "releasing the view releases the object"


def test_empty_buffer_exports_empty_view():
    view = memoryview(nn.NativeState(-1))
    assert view.nbytes == 0 and view.shape == (0,)


def test_subclass_keeps_behaviour_and_buffer():
    s = Sub(2)
    assert type(s) is Sub and isinstance(s, nn.NativeState)
    s.set_zero_state()
    s.extra = "attributes live in the subclass dict"
    assert s.norm() == 1.0
    assert memoryview(s).nbytes == 64
    assert repr(s) == "NativeState(state: buffer(8), num_qubits: 2)"
    with pytest.raises(TypeError, match=r"^NativeState\(\) takes at most 1 argument \(2 given\)$"):
        Sub(1, 2)


@needs_plain_allocator
def test_many_objects_are_released():
    # A state of 2^18 amplitudes is 4 MiB: a leak would show in the RSS.
    for _ in range(5):
        nn.NativeState(18).reset()
    before = rss_bytes()
    for _ in range(200):
        s = nn.NativeState(18)
        s.reset()
        memoryview(s).release()
    assert rss_bytes() - before < 32 * 2**20
