"""Argument binding, conversion and the error path shared by every entry point."""
import random

import pytest

import nimbic_native as nn
from conftest import CNOT, H, X
from test_release import SOURCE_VERSION

STATE1 = [1.0, 0.0, 0.0, 0.0]


def raises(exc, message, fn, *args, **kwargs):
    with pytest.raises(exc) as info:
        fn(*args, **kwargs)
    assert str(info.value) == message
    assert type(info.value) is exc


def test_version_and_noargs_contract():
    assert nn.version() == SOURCE_VERSION
    with pytest.raises(TypeError, match="takes no arguments"):
        nn.version(1)


@pytest.mark.parametrize("call, exc, message", [
    # positional count: wrapper form without keywords, binder form with them
    (lambda: nn.apply_gate(STATE1, X, 1, [0], 5), TypeError,
     "apply_gate() takes at most 4 argument(s) but 5 were given"),
    (lambda: nn.apply_gate(STATE1, X, 1, [0], 5, state=STATE1), TypeError,
     "apply_gate() takes at most 4 arguments (5 given)"),
    (lambda: nn.sample_outcome([1.0], 0.5, 3, u=1.0), TypeError,
     "sample_outcome() takes at most 2 arguments (3 given)"),
    (lambda: nn.apply_gate(STATE1, state=STATE1, gate=X, num_qubits=1, targets=[0]), TypeError,
     "apply_gate() got multiple values for argument 'state'"),
    (lambda: nn.apply_gate(STATE1, X, 1, [0], extra=1), TypeError,
     "apply_gate() got an unexpected keyword argument 'extra'"),
    (lambda: nn.apply_gate(STATE1, X, targets=[0]), TypeError,
     "apply_gate() missing required argument: 'num_qubits'"),
    # without keywords, an earlier conversion error wins over a later absence
    (lambda: nn.apply_gate("x"), TypeError, "apply_gate(): state expected a sequence, got str"),
    (lambda: nn.apply_gate([1.0]), TypeError, "apply_gate() missing required argument: 'gate'"),
    (lambda: nn.apply_gate(STATE1, X, 1, range(4)), TypeError,
     "apply_gate(): targets expected a sequence, got range"),
    (lambda: nn.apply_gate(STATE1, X, 1, None), TypeError,
     "apply_gate(): targets expected a sequence, got NoneType"),
    (lambda: nn.apply_gate(STATE1, b"\x00", 1, [0]), TypeError,
     "apply_gate(): gate expected a sequence, got bytes"),
])
def test_binding_messages(call, exc, message):
    raises(exc, message, call)


@pytest.mark.parametrize("bad, exc, message", [
    ([True, 0.0], TypeError, "state: expected int, got bool"),
    ([2**70, 0.0], OverflowError, "state: value out of range for int"),
    ([1j, 0.0], TypeError, "state: expected float, got complex"),
    ([1.0, None], TypeError, "state: expected float, got NoneType"),
    ([1.0, "1"], TypeError, "state: expected float, got str"),
])
def test_float_list_item_errors(bad, exc, message):
    raises(exc, message, nn.apply_gate, bad + [0.0, 0.0], X, 1, [0])


@pytest.mark.parametrize("value, exc, message", [
    (3.0, TypeError, "num_qubits: expected int, got float"),
    (True, TypeError, "num_qubits: expected int, got bool"),
    (2**63, OverflowError, "num_qubits: value out of range for int"),
    (-2**63 - 1, OverflowError, "num_qubits: value out of range for int"),
    ("2", TypeError, "num_qubits: expected int, got str"),
])
def test_int_errors(value, exc, message):
    raises(exc, message, nn.apply_gate, STATE1, X, value, [0])


@pytest.mark.parametrize("targets, exc, message", [
    ([False], TypeError, "targets: expected int, got bool"),
    ([0.0], TypeError, "targets: expected int, got float"),
    ([2**64], OverflowError, "targets: value out of range for int"),
])
def test_int_list_item_errors(targets, exc, message):
    raises(exc, message, nn.apply_gate, STATE1, X, 1, targets)


def test_float_parameter_conversion():
    # ints are accepted for floats, bools are not, complex never
    assert nn.sample_outcome([0.5, 0.5], 0) == 0
    raises(TypeError, "u: expected int, got bool", nn.sample_outcome, [0.5, 0.5], True)
    raises(TypeError, "u: expected float, got complex", nn.sample_outcome, [0.5], 1j)
    raises(OverflowError, "u: value out of range for int", nn.sample_outcome, [0.5], 2**64)


class F(float):
    pass


class I(int):
    pass


class L(list):
    def __len__(self):  # a lying length must not make conversion read past the items
        return 100


def test_subclasses_and_tuples_convert_like_builtins():
    expected = nn.apply_gate(STATE1, X, 1, [0])
    assert expected == [0.0, 0.0, 1.0, 0.0]
    assert nn.apply_gate(tuple(STATE1), tuple(X), 1, (0,)) == expected
    assert nn.apply_gate([F(1.0), 0.0, 0, F(0.0)], X, I(1), [I(0)]) == expected
    assert nn.apply_gate([1, 0, 0, 0], [0, 0, 1, 0, 1, 0, 0, 0], 1, [0]) == expected
    assert nn.apply_gate(L(STATE1), L(X), 1, L([0])) == expected
    # the slow path takes over mid-list and keeps converting
    assert nn.apply_gate([1.0, 0.0, F(0.0), I(0)], X, 1, [0]) == expected


def test_num_qubits_negative_is_passed_on():
    assert nn.apply_gate(STATE1, X, -1, [0]) == STATE1


def test_keyword_calls_match_positional(bell):
    args = dict(state=STATE1, gate=H, num_qubits=1, targets=[0])
    assert nn.apply_gate(**args) == nn.apply_gate(STATE1, H, 1, [0])
    assert nn.apply_gate(STATE1, H, targets=[0], num_qubits=1) == nn.apply_gate(STATE1, H, 1, [0])
    copy = nn.NativeState(2)
    copy.set_amplitudes(bell.amplitudes())
    assert bell.measure(targets=[0], u=0.6) == copy.measure([0], 0.6)
    assert bell.amplitudes() == copy.amplitudes()


def test_method_counts_only_its_own_parameters():
    s = nn.NativeState(1)
    raises(TypeError, "apply_gate() takes at most 2 argument(s) but 3 were given",
           s.apply_gate, [1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0], [0], 3)
    raises(TypeError, "measure() missing required argument: 'u'", s.measure, [0])
    with pytest.raises(TypeError, match="takes no arguments"):
        s.reset(1)


def test_type_name_is_cut_to_63_bytes():
    long_type = type("A" * 100, (), {})
    raises(TypeError, "apply_gate(): state expected a sequence, got " + "A" * 63,
           nn.apply_gate, long_type())


def test_panic_becomes_runtime_error_and_calls_go_on():
    raises(RuntimeError, "panic in native code: array.get: index out of range (i,a.len):7, 7",
           nn.apply_gate, STATE1, X[:7], 1, [0])
    assert nn.apply_gate(STATE1, X, 1, [0]) == [0.0, 0.0, 1.0, 0.0]


def test_arguments_are_never_modified():
    state, gate, targets = list(STATE1), list(X), [0]
    nn.apply_gate(state, gate, 1, targets)
    assert (state, gate, targets) == (STATE1, X, [0])


def test_out_of_memory_is_memory_error():
    raises(MemoryError, "panic in native code: memory allocation failure", nn.NativeState, 40)
    raises(MemoryError, "panic in native code: memory allocation failure", nn.NativeState, 59)


def first_repeat(targets):
    seen = set()
    for q in targets:
        if q in seen:
            return q
        seen.add(q)
    return None


@pytest.mark.parametrize("num_qubits", [64, 65, 2000, 2**40])  # one word, a bit per qubit, sorted
@pytest.mark.parametrize("seed", range(4))
def test_duplicate_target_reported_is_the_first_repeat_in_list_order(num_qubits, seed):
    rng = random.Random(seed)
    targets = [rng.randrange(min(num_qubits, 60)) for _ in range(30)]
    targets[rng.randrange(30):] = [7, 3, 7, 3, 7]  # several values repeat, the earliest repeat wins
    message = f"panic in native code: duplicate qubit index (q):{first_repeat(targets)}"
    raises(RuntimeError, message, nn.embed_operator, [], 1, targets, num_qubits)


@pytest.mark.parametrize("num_qubits", [200_002, 2**62])
def test_duplicate_among_many_targets(num_qubits):
    k = 200_000
    raises(RuntimeError, "panic in native code: duplicate qubit index (q):0",
           nn.embed_operator, [], 1, list(range(k)) + [0], num_qubits)
    raises(RuntimeError, f"panic in native code: duplicate qubit index (q):{k - 1}",
           nn.embed_operator, [], 1, list(range(k)) + [k - 1, 5], num_qubits)
    # without a repeat the range check and then the operator's size are the errors
    raises(RuntimeError, f"panic in native code: qubit index out of range (q,n):-1, {num_qubits}",
           nn.embed_operator, [], 1, list(range(k)) + [0, -1], num_qubits)
    raises(RuntimeError, f"panic in native code: operator dimension 1 does not match {k} targets",
           nn.embed_operator, [], 1, list(range(k)), num_qubits)
