"""Adversarial arguments for every function, constructor and method.

Every call must return or raise one of the exception types a caller is told
to expect; the same arguments must give the same bits twice; module functions
leave their arguments alone; an in-place method that raises leaves its object
exactly as it was. The sanitizer build runs this file too, which is what
shows that no call reads or writes outside a buffer.

The number of examples per entry point is fixed (NIMBIC_FUZZ_EXAMPLES,
default 150) and the examples are derandomized, so a run is reproducible.
The calls made per entry point are printed at the end of the session.
"""
import array
import collections
import gc
import math
import os
import random
import struct
import sys
import threading
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import nimbic_native as nn
from entry_points import ARGS, CLASSES, FUNCTIONS, IN_PLACE, METHODS, all_entry_points, callable_of, prepared

pytestmark = pytest.mark.slow

ALLOWED = (TypeError, OverflowError, RuntimeError, MemoryError, AttributeError, BufferError)
EXAMPLES = int(os.environ.get("NIMBIC_FUZZ_EXAMPLES", "150"))
FUZZ = settings(max_examples=EXAMPLES, derandomize=True, deadline=None, database=None,
                suppress_health_check=list(HealthCheck))
# Method sequences make several calls per example, on one of 19 methods.
FUZZ_SEQUENCES = settings(FUZZ, max_examples=3 * EXAMPLES)

CALLS = collections.Counter()
_calls_lock = threading.Lock()


def count(name):
    with _calls_lock:
        CALLS[name] += 1


# ---- values that must never make the module run Python code ----------------

class CalledBack(AssertionError):
    pass


# Set while the module runs a call on this thread.
IN_CALL = threading.local()


def refusing(base, names):
    """Subclass of `base` whose Python-level `names` fail while the module
    runs a call: the module must read these objects through the C API only."""
    def method(name):
        def refuse(self, *args):
            if getattr(IN_CALL, "active", False):
                raise CalledBack(f"the module called {base.__name__}.{name} of an argument")
            return getattr(base, name)(self, *args)
        return refuse
    return type(f"Refusing{base.__name__.title()}", (base,), {name: method(name) for name in names})


IntSub = refusing(int, ["__index__", "__int__", "__float__"])
FloatSub = refusing(float, ["__float__", "__index__"])
ListSub = refusing(list, ["__len__", "__getitem__", "__iter__"])
TupleSub = refusing(tuple, ["__len__", "__getitem__", "__iter__"])


def items_of(seq):
    return list(list.__iter__(seq) if isinstance(seq, list) else tuple.__iter__(seq))


NOT_SEQUENCES = [None, 1.0, 3, "ab", b"ab", bytearray(b"ab"), range(4), {1.0: 2.0}, {1.0},
                 array.array("d", [1.0, 0.0]), np.array([1.0, 0.0]), memoryview(b"ab"),
                 iter([1.0]), Ellipsis, object()]
NOT_NUMBERS = [None, "3", b"3", 1j, Decimal("1.5"), Fraction(1, 3), object(), [], (),
               np.int64(3), np.bool_(True), nn.version]
SPECIAL_INTS = [True, False, IntSub(2), IntSub(-1), IntSub(2**64), 2**63, -2**63 - 1, 2**64,
                10**30, -10**30, 2**63 - 1, -2**63]
SPECIAL_FLOATS = [math.nan, -math.nan, math.inf, -math.inf, -0.0, 5e-324, 1.7976931348623157e308,
                  FloatSub(0.5), FloatSub(math.nan), np.float64(0.25), np.float64(math.inf)]
R = 1 / math.sqrt(2)

# Counts that reach no real array: the documented early returns, or too big.
HUGE = [40, 62, 63, 64, 2**31, 2**32 + 1, 2**62, 2**63 - 1, -2**31, -2**62, -2**63]
ANY64 = st.integers(-2**63, 2**63 - 1)


def sometimes_wrong(common, wrong):
    """`common` four times in five, else an unsuitable object."""
    return st.one_of(common, common, common, common, st.sampled_from(wrong))


INT_ROLES = {
    # No counts between 7 and 39: a real buffer of 2^30 floats would fit in
    # memory, and tests do not fill the machine on purpose.
    "qubits": st.one_of(st.integers(-3, 6), st.sampled_from(HUGE)),
    "dim": st.one_of(st.sampled_from([1, 2, 4]), st.integers(-3, 9), st.just(16), st.sampled_from(HUGE)),
    "count": st.one_of(st.integers(-3, 9), st.just(200), st.sampled_from(HUGE),
                       st.integers(2**40, 2**63 - 1), st.integers(-2**63, -1)),
    "int": st.one_of(st.integers(-3, 9), st.sampled_from(HUGE), ANY64),
    "qubit": st.one_of(st.integers(-4, 7), st.integers(-4, 7), st.sampled_from(HUGE), ANY64),
    "code": st.one_of(st.integers(-2, 11), st.integers(-2, 11), ANY64),
}
FLOAT_VALUE = st.one_of(st.sampled_from([0.0, 0.25, 0.5, 0.999, 1.0]), st.floats(),
                        st.sampled_from(SPECIAL_FLOATS), st.integers(-3, 3))
NICE_FLOAT = st.sampled_from([0.0, 0.0, 1.0, -1.0, 0.5, R, -R, 0.25, 2.0])
ODD_FLOAT = st.one_of(st.floats(), st.sampled_from(SPECIAL_FLOATS))
BAD_FLOAT_ITEM = st.sampled_from([True, None, "x", 1j, 2**64, IntSub(1), FloatSub(1.0), Decimal(1),
                                  np.int64(1), 3])
SHORT = st.integers(0, 40)
LENGTHS = st.one_of(SHORT, SHORT, SHORT, SHORT, SHORT, SHORT,
                    st.sampled_from([50, 63, 64, 65, 72, 98, 127, 128, 129, 162, 256, 512, 513,
                                     2047, 2048, 2049]),
                    st.sampled_from([50, 64, 128, 512, 2048]), st.just(200_000))


@st.composite
def sequence_of(draw, length, base_item, odd_item):
    """A list (sometimes a tuple or a refusing subclass) of `length` items
    that repeat a short drawn pattern, with a few odd items placed in it."""
    base = draw(st.lists(base_item, min_size=1, max_size=8))
    values = (base * (length // len(base) + 1))[:length]
    for _ in range(draw(st.integers(0, 3))):
        if values:
            values[draw(st.integers(0, len(values) - 1))] = draw(odd_item)
    container = draw(st.sampled_from([list] * 6 + [tuple, ListSub, TupleSub]))
    return container(values)


def list_role(lengths, base_item, odd_item):
    """A proper list, sometimes with odd items, sometimes no list at all."""
    seq = lengths.flatmap(lambda n: sequence_of(n, base_item, odd_item))
    return st.one_of(seq, seq, seq, seq, seq, seq, seq, st.sampled_from(NOT_SEQUENCES))


QUBIT_NUMBER = st.one_of(st.integers(0, 1), st.integers(0, 3), st.integers(0, 3), st.integers(-2, 7))
ODD_INT_ITEM = st.one_of(st.sampled_from(SPECIAL_INTS + [1.0, None, np.int64(1), FloatSub(1.0)]),
                         ANY64)


@st.composite
def instruction_stream(draw, typed):
    count = draw(st.one_of(st.integers(0, 12), st.just(1000)))
    code = st.one_of(st.integers(-1, 10), st.just(9), ANY64)
    operand = st.one_of(st.integers(-2, 6), st.integers(0, 3), st.sampled_from(HUGE))
    triples = draw(st.lists(st.tuples(code, operand, operand), min_size=min(count, 12),
                            max_size=min(count, 12)))
    stream = [x for t in triples for x in t]
    if count > 12 and stream:
        stream = (stream * (3 * count // len(stream) + 1))[:3 * count]
    stream += draw(st.lists(st.integers(-1, 9), max_size=2))
    if stream and not typed and draw(st.integers(0, 9)) == 0:
        stream[draw(st.integers(0, len(stream) - 1))] = draw(ODD_INT_ITEM)
    return draw(st.sampled_from([list, list, list, tuple, ListSub]))(stream)


def list_roles(typed):
    """Strategies of the list roles; `typed`: every item of the right type."""
    sequences = (lambda lengths, base, odd: lengths.flatmap(lambda n: sequence_of(n, base, odd))) \
        if typed else list_role
    float_odd = ODD_FLOAT if typed else st.one_of(ODD_FLOAT, ODD_FLOAT, BAD_FLOAT_ITEM)
    int_odd = st.one_of(ANY64, st.sampled_from(HUGE)) if typed else ODD_INT_ITEM
    return {
        "floats": sequences(LENGTHS, st.one_of(NICE_FLOAT, NICE_FLOAT, NICE_FLOAT, ODD_FLOAT), float_odd),
        "ints": sequences(st.one_of(st.integers(0, 8), st.sampled_from([40, 64, 100, 1000])),
                          st.one_of(st.integers(-3, 8), st.sampled_from([255, 256, -1, 2**63 - 1, -2**63])),
                          int_odd),
        "targets": sequences(st.one_of(st.integers(0, 8), st.integers(0, 3), st.integers(0, 3),
                                       st.sampled_from([40, 63, 64, 65, 200])),
                             QUBIT_NUMBER, st.one_of(int_odd, st.sampled_from(HUGE))),
        "tableau": sequences(st.one_of(st.sampled_from([0, 1, 8, 9, 10, 24, 25, 48, 49, 81]), SHORT,
                                       st.just(200_000)),
                             st.sampled_from([0, 0, 1]), st.one_of(st.integers(-2, 3), int_odd)),
        "instr": instruction_stream(typed) if typed else
        st.one_of(instruction_stream(typed), instruction_stream(typed), instruction_stream(typed),
                  st.sampled_from(NOT_SEQUENCES)),
    }


# Adversarial roles: any parameter may get an object of the wrong type.
ROLES = {role: sometimes_wrong(s, SPECIAL_INTS + NOT_NUMBERS + [1.0, math.nan])
         for role, s in INT_ROLES.items()}
ROLES["float"] = sometimes_wrong(FLOAT_VALUE, NOT_NUMBERS + [True, 2**64, -2**70, IntSub(2**64)])
ROLES.update(list_roles(typed=False))
# Typed roles: the right types with any values, so that calls reach the kernels.
TYPED_ROLES = dict(INT_ROLES, float=FLOAT_VALUE, **list_roles(typed=True))


# ---- well-formed shapes, so that calls reach every kernel -----------------------

ENTRY = st.one_of(NICE_FLOAT, NICE_FLOAT, NICE_FLOAT, NICE_FLOAT, ODD_FLOAT)
PHASES = [(1.0, 0.0), (-1.0, 0.0), (0.0, 1.0), (R, R), (0.5, 0.0)]


@st.composite
def complex_matrix(draw, d):
    """A d x d interleaved matrix: dense, diagonal, a projector or a (signed,
    phased) permutation, so that every specialised kernel gets its inputs."""
    kind = draw(st.sampled_from(["dense", "dense", "diagonal", "projector", "permutation", "phased"]))
    m = [0.0] * (2 * d * d)
    if kind == "dense":
        base = draw(st.lists(ENTRY, min_size=1, max_size=8))
        m = (base * (len(m) // len(base) + 1))[:len(m)]
    elif kind in ("diagonal", "projector"):
        for i in range(d):
            at = 2 * (i * d + i)
            m[at], m[at + 1] = (float(draw(st.booleans())), 0.0) if kind == "projector" else \
                (draw(ENTRY), draw(ENTRY))
    else:
        for i, j in enumerate(draw(st.permutations(range(d)))):
            at = 2 * (i * d + j)
            m[at], m[at + 1] = (1.0, 0.0) if kind == "permutation" else draw(st.sampled_from(PHASES))
    return m


def real_symmetric(draw, d):
    upper = {(i, j): draw(ENTRY) for i in range(d) for j in range(i, d)}
    return [upper[min(i, j), max(i, j)] for i in range(d) for j in range(d)]


@st.composite
def valid_stream(draw, n, length=None):
    triples = []
    for _ in range(draw(st.integers(0, 10)) if length is None else length):
        code = draw(st.integers(0, 9) if n >= 2 else st.sampled_from([0, 1, 2, 3, 4, 5, 9]))
        a = draw(st.integers(0, max(n - 1, 0)))
        b = draw(st.integers(0, max(n - 1, 0)).filter(lambda b: b != a or n < 2))
        triples += [code, a, b]
    return triples


def shaped_floats(draw, fn, name, c):
    """A float list of the shape parameter `name` of `fn` has in context c."""
    n, k, d, m = c["n"], c["k"], c["d"], c["m"]
    per_qubit = any(role in ("qubits", "targets") for _, role in c["params"])
    if fn == "solve3":
        return [draw(ENTRY) for _ in range(9 if name == "matrix" else 3)]
    if fn == "kron_factor":
        return draw(complex_matrix(4))
    if fn == "jacobi_eig" or name in ("real", "imag"):
        return real_symmetric(draw, d)
    if name in ("state", "values"):
        return [draw(ENTRY) for _ in range(2 << n)]
    if name == "vector":
        return [draw(ENTRY) for _ in range(2 * d)]
    if name == "probabilities":
        return [abs(draw(ENTRY)) for _ in range(2**k)]
    if name in ("gate", "operator"):
        return draw(complex_matrix(2**k))
    if name in ("ops", "operators"):
        size = 2**k if per_qubit else d
        return [x for _ in range(m) for x in draw(complex_matrix(size))]
    if name == "rho" or (name == "matrix" and fn == "pauli_expansion"):
        return draw(complex_matrix(2**n if per_qubit else d))
    return draw(complex_matrix(d))


def shaped_value(draw, fn, name, role, c):
    n, k = c["n"], c["k"]
    if role == "qubits":
        return n
    if role == "targets":
        return list(c["targets"])
    if role == "dim":
        return 2**k if name == "op_dim" else c["d"]
    if role == "count":
        return c["m"] if name in ("num_ops", "num_operators") else draw(st.integers(0, 40))
    if role == "int":
        return draw(st.integers(0, 2**k - 1)) if name == "outcome" else draw(ANY64)
    if role == "float":
        return draw(st.one_of(st.floats(0, 1, exclude_max=True), st.just(1e-9)))
    if role == "qubit":
        return draw(st.integers(0, max(n - 1, 0)))
    if role == "code":
        return draw(st.integers(0, 9))
    if role == "instr":
        return draw(valid_stream(n))
    if role == "ints":
        return draw(st.lists(st.integers(0, 1), max_size=8))
    if role == "tableau":
        return nn.clifford_tableau(draw(valid_stream(n)), n)
    return shaped_floats(draw, fn, name, c)


def near_miss(draw, value):
    """One step off a well-formed value: a list one item short or long, or
    with a repeated item; a number one off."""
    if isinstance(value, list):
        how = draw(st.integers(0, 2))
        if how == 0:
            return value[:-1]
        if how == 1 and value:
            return value + [value[0]]
        return value + [value[-1] if value else 0]
    if isinstance(value, int):
        return value + draw(st.sampled_from([-1, 1]))
    return value


@st.composite
def shaped_values(draw, fn, params, n=None):
    """Values with consistent shapes for `params`: n qubits (the object's own
    count for methods), k distinct targets, m operators, dimension d; now
    and then one of them a step off."""
    n = draw(st.sampled_from([0, 1, 2, 2, 3, 3, 4])) if n is None or not 0 <= n <= 6 else n
    k = draw(st.sampled_from([1, 2, 2, 3, 3, 0])) if n >= 3 else draw(st.integers(min(n, 1), n))
    c = {"n": n, "k": k, "targets": draw(st.permutations(range(n)))[:k], "m": draw(st.integers(1, 3)),
         "d": draw(st.sampled_from([1, 2, 3, 4, 8])), "params": params}
    values = [shaped_value(draw, fn, name, role, c) for name, role in params]
    if values and draw(st.integers(0, 3)) == 0:
        i = draw(st.integers(0, len(values) - 1))
        values[i] = near_miss(draw, values[i])
    return values


@st.composite
def arguments(draw, params, fn=None, n=None):
    """Positional and keyword arguments for `params`: usually a proper call
    (positional, keywords or mixed), sometimes a mis-bound one. The values
    are adversarial, or well-typed, or well-formed (for `fn`, or a method of
    an object of n qubits)."""
    mode = draw(st.sampled_from(["adversarial"] * 3 + ["typed"] * 2 + ["shaped"] * 5))
    if mode == "shaped":
        values = draw(shaped_values(fn, params, n))
    else:
        roles = ROLES if mode == "adversarial" else TYPED_ROLES
        values = [draw(roles[role]) for _, role in params]
    names = [name for name, _ in params]
    form = draw(st.integers(0, 19))
    if form <= 11:
        args, kwargs = values, {}
    elif form <= 17:
        split = draw(st.integers(0, len(values)))
        args, kwargs = values[:split], dict(zip(names[split:], values[split:]))
        order = draw(st.permutations(list(kwargs)))
        kwargs = {k: kwargs[k] for k in order}
    else:
        args, kwargs = list(values), {}
        fault = draw(st.integers(0, 4))
        if fault == 0 and args:
            args.pop(draw(st.integers(0, len(args) - 1)))
        elif fault == 1:
            args.append(draw(ROLES["int"]))
        elif fault == 2:
            kwargs[draw(st.sampled_from(["extra", "Num_qubits", "targets ", "state", "dim\x00x"]))] = 1
        elif fault == 3 and args:
            i = draw(st.integers(0, len(args) - 1))
            kwargs[names[i]] = args[i]
        else:
            kwargs = dict(zip(names, args))
            args = [draw(ROLES["floats"])]
    return values, args, kwargs


def canonical(result):
    """The exact bits of a result, for comparing two runs."""
    if isinstance(result, list):
        if all(type(x) is float for x in result):
            return ("floats", struct.pack(f"<{len(result)}d", *result))
        return ("list", tuple(result))
    return (type(result).__name__, result)


def call(name, fn, args, kwargs):
    """The outcome of one call; an exception of any other type propagates."""
    count(name)
    IN_CALL.active = True
    try:
        result = fn(*args, **kwargs)
    except ALLOWED as e:
        return ("raised", type(e).__name__, str(e))
    finally:
        IN_CALL.active = False
    return ("ok", canonical(result))


def argument_identity(values):
    return [(id(v), [id(x) for x in items_of(v)] if isinstance(v, (list, tuple)) else None)
            for v in values]


# ---- module functions ------------------------------------------------------------

@pytest.mark.parametrize("name", sorted(FUNCTIONS))
@FUZZ
@given(data=st.data())
def test_function_survives_adversarial_arguments(name, data):
    fn = getattr(nn, name)
    values, args, kwargs = data.draw(arguments(FUNCTIONS[name], name))
    before = argument_identity(values)
    first = call(name, fn, args, kwargs)
    # Same arguments, same bits (or the same error): nothing uninitialised or
    # left over from an earlier call takes part.
    assert call(name, fn, args, kwargs) == first
    assert argument_identity(values) == before


# ---- constructors and methods -----------------------------------------------------

class StateSub(nn.NativeState):
    pass


class DensitySub(nn.NativeDensity):
    __slots__ = ()


class TableauSub(nn.NativeTableau):
    def __init__(self, *args, **kwargs):
        self.note = "Python subclass with a __dict__"


SUBCLASSES = {"NativeState": StateSub, "NativeDensity": DensitySub, "NativeTableau": TableauSub}
CONSTRUCTOR_QUBITS = st.one_of(st.integers(1, 3), st.integers(1, 3), st.integers(1, 3), st.integers(-2, 4),
                               st.sampled_from([6, 40, 62, 63, 64]))


@pytest.mark.parametrize("cls_name", sorted(CLASSES))
@FUZZ
@given(data=st.data())
def test_constructor_survives_adversarial_arguments(cls_name, data):
    cls = data.draw(st.sampled_from([CLASSES[cls_name], SUBCLASSES[cls_name]]))
    values, args, kwargs = data.draw(arguments((("num_qubits", "qubits"),)))
    outcome = call(cls_name, cls, args, kwargs)
    if outcome[0] == "ok":
        obj = cls(*args, **kwargs)
        assert obj.num_qubits == values[0] and obj == obj and hash(obj) == id(obj) >> 4
        assert repr(obj).endswith(f"num_qubits: {values[0]})")
        if cls_name != "NativeTableau":
            assert memoryview(obj).nbytes == 8 * int(repr(obj).split("buffer(")[1].split(")")[0])


def snapshot(obj, built_with):
    """The object's whole state: its count and every buffer bit."""
    if isinstance(obj, nn.NativeTableau):
        if built_with < 0:
            return (obj.num_qubits, None)
        saved = obj.num_qubits
        obj.num_qubits = built_with  # read the buffers in full with the count they were made for
        try:
            return (saved, tuple(obj.stabilizer_tableau()))
        finally:
            obj.num_qubits = saved
    return (obj.num_qubits, bytes(memoryview(obj)))


def rewrite_count(obj, value):
    try:
        if value is None:
            del obj.num_qubits
        else:
            obj.num_qubits = value
        return ("ok",)
    except ALLOWED as e:
        return ("raised", type(e).__name__, str(e))


def write_through_view(obj, writes, as_bytes):
    whole = memoryview(obj)
    view = whole.cast("B") if as_bytes else whole
    for position, value in writes:
        if len(view):
            view[position % len(view)] = value
    view.release()
    whole.release()


@pytest.mark.parametrize("cls_name", sorted(CLASSES))
@FUZZ_SEQUENCES
@given(data=st.data())
def test_method_sequences_keep_objects_sound(cls_name, data):
    """Two objects built alike and given the same calls, count rewrites and
    buffer writes stay alike; a failing in-place call changes nothing."""
    n = data.draw(CONSTRUCTOR_QUBITS, label="num_qubits")
    cls = data.draw(st.sampled_from([CLASSES[cls_name], SUBCLASSES[cls_name]]))
    count(cls_name)
    count(cls_name)
    try:
        pair = [cls(n), cls(n)]
    except MemoryError:  # counts whose buffers cannot exist
        return
    methods = METHODS[cls_name]
    open_views = []
    for _ in range(data.draw(st.integers(1, 8))):
        action = data.draw(st.sampled_from(["call"] * 6 + ["count", "write", "hold view"]))
        if action == "count":
            value = data.draw(st.one_of(ROLES["qubits"], st.just(None)))
            results = [rewrite_count(obj, value) for obj in pair]
            assert results[0] == results[1]
        elif action == "write" and cls_name != "NativeTableau":
            writes = data.draw(st.lists(st.tuples(st.integers(0, 2**20), ODD_FLOAT), max_size=4))
            as_bytes = data.draw(st.booleans())
            if as_bytes:
                writes = [(p, int(abs(v)) % 256 if math.isfinite(v) else 255) for p, v in writes]
            for obj in pair:
                write_through_view(obj, writes, as_bytes)
        elif action == "hold view" and cls_name != "NativeTableau":
            open_views.append(memoryview(pair[0]))
            open_views.append(np.frombuffer(pair[1], dtype=np.float64))
        else:
            method = data.draw(st.sampled_from(sorted(methods)))
            values, args, kwargs = data.draw(arguments(methods[method], method, pair[0].num_qubits))
            before = snapshot(pair[0], n)
            outcomes = [call(f"{cls_name}.{method}", getattr(obj, method), args, kwargs) for obj in pair]
            assert outcomes[0] == outcomes[1]
            after = [snapshot(obj, n) for obj in pair]
            assert after[0] == after[1]
            if outcomes[0][0] == "raised" and method in IN_PLACE:
                assert after[0] == before, f"{method} raised {outcomes[0][1:]} after changing the object"
            if method not in IN_PLACE:
                assert after[0] == before
    for view in open_views:
        if isinstance(view, memoryview):
            view.release()


# ---- several threads on shared objects ---------------------------------------

def random_operation(rng, objects):
    """One call, count rewrite or buffer write on a shared object, with
    arguments from a small adversarial pool."""
    obj = rng.choice(objects)
    kind = rng.random()
    if kind < 0.15:
        rewrite_count(obj, rng.choice([-1, 0, 1, 2, 3, 5, 40, 63, 2**62, "x"]))
        return
    if kind < 0.3 and not isinstance(obj, nn.NativeTableau):
        with memoryview(obj) as view:
            if len(view):
                view[rng.randrange(len(view))] = rng.choice([0.0, 1.0, math.nan, -math.inf, 1e300])
        return
    floats = rng.choice([[], [1.0, 0.0], [R, 0.0, R, 0.0], [1.0, 0.0] * 4, [0.5] * 32, [1.0, "x"]])
    targets = rng.choice([[], [0], [1], [0, 1], [1, 0], [0, 0], [-1], [2**62], [0, 1, 2]])
    u = rng.choice([0.0, 0.3, 0.99, math.nan])
    cls_name = next(name for name, cls in CLASSES.items() if isinstance(obj, cls))
    method = rng.choice(sorted(METHODS[cls_name]))
    args = {"set_amplitudes": (floats,), "apply_gate": (floats, targets), "probabilities": (targets,),
            "measure": (targets, u) if cls_name != "NativeTableau" else (rng.randrange(-2, 4), u),
            "set_from_amplitudes": (floats,), "apply_channel": (floats, rng.randrange(-1, 3), targets),
            "apply": (rng.randrange(-1, 11), rng.randrange(-2, 4), rng.randrange(-2, 4))}.get(method, ())
    call(f"{cls_name}.{method}", getattr(obj, method), args, {})
    fn = rng.choice(["state_probabilities", "apply_gate", "clifford_run", "matmul"])
    fn_args = {"state_probabilities": (floats, targets, rng.randrange(-1, 4)),
               "apply_gate": (floats, floats, rng.randrange(-1, 4), targets),
               "clifford_run": ([0, 0, 0, 9, 0, 0], 1, [], rng.randrange(0, 100), 5),
               "matmul": (floats, floats, rng.randrange(-1, 3))}[fn]
    call(fn, getattr(nn, fn), fn_args, {})


def test_shared_objects_survive_interleaved_threads_and_collector_callbacks():
    """Eight threads interleave calls, count rewrites and buffer writes on the
    same objects (switching as often as the interpreter allows), while the
    cycle collector runs finalizers that call in again on the same objects."""
    objects = [nn.NativeState(2), nn.NativeDensity(1), nn.NativeTableau(2), StateSub(1),
               nn.NativeState(3), nn.NativeDensity(2), TableauSub(1)]
    failures = []

    class Reentrant:
        def __init__(self, seed):
            self.rng = random.Random(seed)
            self.cycle = self

        def __del__(self):
            try:
                random_operation(self.rng, objects)
            except BaseException as e:  # reported below; __del__ cannot raise
                failures.append(e)

    def worker(seed):
        rng = random.Random(seed)
        try:
            for i in range(300):
                random_operation(rng, objects)
                if i % 10 == 0:
                    Reentrant(seed * 1000 + i)  # garbage cycle with a finalizer
        except BaseException as e:
            failures.append(e)

    old_interval, old_threshold = sys.getswitchinterval(), gc.get_threshold()
    sys.setswitchinterval(1e-6)
    gc.set_threshold(5, 2, 2)
    try:
        threads = [threading.Thread(target=worker, args=(s,)) for s in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=300)
        gc.collect()
    finally:
        sys.setswitchinterval(old_interval)
        gc.set_threshold(*old_threshold)
    assert not any(t.is_alive() for t in threads)
    assert failures == []


# ---- every parameter at its extremes, systematically ------------------------------

EXTREME_INTS = [2**63 - 1, -2**63, 2**62 + 1, -2**62 - 1, 2**32, -2**31 - 1, 2**31, -1, 0]
EXTREME_FLOATS = [math.inf, -math.inf, math.nan, 1.7976931348623157e308, -1.7976931348623157e308,
                  5e-324, -0.0]


def extreme_variants(value):
    """The value with extremes put in: an int replaced, a list with one item
    replaced (first, last) or appended, or reduced to that one item."""
    if isinstance(value, int):
        return EXTREME_INTS
    if isinstance(value, float):
        return EXTREME_FLOATS
    variants = []
    extremes = EXTREME_INTS if value and all(type(x) is int for x in value) else EXTREME_FLOATS
    for x in extremes:
        variants += [[x], list(value) + [x]]
        if value:
            variants += [[x] + list(value[1:]), list(value[:-1]) + [x]]
    return variants


@pytest.mark.parametrize("entry", sorted(set(all_entry_points()) - {"version"}))
def test_every_parameter_survives_its_extremes(entry):
    """Each parameter of a working call in turn takes extreme values (the
    64-bit limits, counts near them, infinities, NaN, the largest and the
    smallest float), the others staying as they were."""
    if "." in entry:
        cls_name, method = entry.split(".")
        params = METHODS[cls_name][method]
    else:
        params = FUNCTIONS[entry] if entry in FUNCTIONS else (("num_qubits", "qubits"),)
    base = list(ARGS.get(entry, ()))
    for i in range(len(params)):
        for variant in extreme_variants(base[i]):
            args = base[:i] + [variant] + base[i + 1:]
            obj = prepared(cls_name) if "." in entry else None
            before = snapshot(obj, obj.num_qubits) if obj is not None else None
            outcome = call(entry, callable_of(entry, obj), args, {})
            if obj is not None and (outcome[0] == "raised" or method not in IN_PLACE):
                assert snapshot(obj, 1 if cls_name != "NativeTableau" else 2) == before, (args, outcome)


@pytest.mark.parametrize("keyword", ["dim\x00x", "d\x00"])
def test_keyword_with_nul_is_named_in_full(keyword):
    with pytest.raises(TypeError) as info:
        nn.matmul([], [], **{keyword: 1})
    assert str(info.value) == f"matmul() got an unexpected keyword argument '{keyword}'"


def test_keyword_that_is_not_text_raises_the_interpreters_error():
    # The one exception outside the usual types, as binding documents it:
    # a keyword name with a lone surrogate has no UTF-8 form.
    with pytest.raises(UnicodeEncodeError):
        nn.matmul([], [], **{"\udc80": 1})
    with pytest.raises(UnicodeEncodeError):
        nn.NativeState(**{"\udc80": 1})


def test_fuzz_tables_cover_the_whole_module():
    covered = set(FUNCTIONS) | set(CLASSES) | {f"{c}.{m}" for c in METHODS for m in METHODS[c]}
    assert covered == set(all_entry_points())
