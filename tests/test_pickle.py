"""Pickle and copy of the three classes: independent objects of the same class
with the same num_qubits and the same buffer bits, large buffers as raw bytes,
and malformed pickle data refused before anything is written."""
import copy
import copyreg
import math
import pickle
import random
import struct

import pytest

import nimbic_native as nn

PROTOCOLS = list(range(pickle.HIGHEST_PROTOCOL + 1))


def out_of_band(obj):
    buffers = []
    data = pickle.dumps(obj, protocol=5, buffer_callback=buffers.append)
    return pickle.loads(data, buffers=buffers)


COPIES = {f"pickle protocol {p}": (lambda obj, p=p: pickle.loads(pickle.dumps(obj, protocol=p)))
          for p in PROTOCOLS}
COPIES.update({"copy.copy": copy.copy, "copy.deepcopy": copy.deepcopy, "protocol 5 out of band": out_of_band})

# Amplitudes whose bits a float round trip through text or arithmetic would
# change: signed zeros, a NaN with a payload, infinities, subnormals.
ODD = [-0.0, struct.unpack("<d", struct.pack("<Q", 0x7FF8_0000_DEAD_BEEF))[0], math.inf, -math.inf, 5e-324]


def raw(obj):
    return bytes(memoryview(obj))


def filled(cls, n, seed):
    rng = random.Random(seed)
    obj = cls(n)
    values = [rng.uniform(-1, 1) for _ in range(len(raw(obj)) // 8)]
    values[:len(ODD)] = ODD[:len(values)]
    memoryview(obj).cast("B")[:] = struct.pack(f"<{len(values)}d", *values)
    return obj


class Tagged(nn.NativeState):
    pass


def clifford_tableau(n, seed):
    rng = random.Random(seed)
    t = nn.NativeTableau(n)
    for _ in range(8 * n):
        a, b = rng.sample(range(n), 2)
        t.apply(rng.randrange(9), a, b)
    return t


@pytest.mark.parametrize("how", COPIES)
@pytest.mark.parametrize("cls, n, stored", [(nn.NativeState, 4, 4), (nn.NativeState, 3, 9),
                                            (nn.NativeState, 0, -2), (nn.NativeDensity, 3, 3),
                                            (nn.NativeDensity, 2, 0)])
def test_buffer_classes_round_trip_bit_for_bit(how, cls, n, stored):
    original = filled(cls, n, seed=n)
    original.num_qubits = stored  # the buffers keep the size they were built with
    before = raw(original)
    twin = COPIES[how](original)
    assert type(twin) is cls and twin is not original
    assert twin.num_qubits == stored and raw(twin) == before
    memoryview(original).cast("B")[:8] = b"\x01" * 8  # independent in both directions
    assert raw(twin) == before
    memoryview(twin).cast("B")[-8:] = b"\x02" * 8
    assert raw(original)[-8:] == before[-8:]


def drive(t, n, seed):
    """Random gates and measurements (determined ones too); their outcomes."""
    rng = random.Random(seed)
    outcomes = []
    for _ in range(6 * n):
        a, b = rng.sample(range(n), 2)
        if rng.random() < 0.2:
            outcomes.append(t.measure(a, rng.random()))
        else:
            t.apply(rng.randrange(9), a, b)
    return outcomes


@pytest.mark.parametrize("how", COPIES)
@pytest.mark.parametrize("n", [5, 20])  # 20 qubits: a large tableau's internal working form
def test_tableau_round_trip(how, n):
    original = clifford_tableau(n, seed=3)
    drive(original, n, seed=4)
    want = original.stabilizer_tableau()
    twin = COPIES[how](original)
    assert type(twin) is nn.NativeTableau and twin.num_qubits == n
    assert twin.stabilizer_tableau() == want
    # Both go on alike, and independently.
    assert drive(twin, n, seed=5) == drive(original, n, seed=5)
    assert twin.stabilizer_tableau() == original.stabilizer_tableau()
    original.apply(0, 0, 0)
    assert twin.stabilizer_tableau() != original.stabilizer_tableau()


@pytest.mark.parametrize("how", COPIES)
@pytest.mark.parametrize("n", [5, 20])
def test_tableau_with_reassigned_count(how, n):
    original = clifford_tableau(n, seed=6)
    want = original.stabilizer_tableau()
    original.num_qubits = 2
    twin = COPIES[how](original)
    assert twin.num_qubits == 2
    original.num_qubits = twin.num_qubits = n
    assert twin.stabilizer_tableau() == want == original.stabilizer_tableau()


def forged_tableau(built, n, flat):
    """A NativeTableau(built) restored by pickle with num_qubits n, its
    buffers holding the flattened tableau `flat` of n qubits (any bits)."""
    rows, size = [flat[i * (2 * n + 1):(i + 1) * (2 * n + 1)] for i in range(2 * n + 1)], built * (2 * built + 1)
    fields = [sum((row[:n] for row in rows), []), sum((row[n:2 * n] for row in rows), []), [row[-1] for row in rows]]
    payload = tuple(struct.pack(f"<{k}q", *f, *[0] * (k - len(f))) for f, k in zip(fields, [size, size, 2 * built + 1]))
    return pickle.loads(pickled_by_hand(nn.NativeTableau, built, (n, payload, None)))


@pytest.mark.parametrize("n, alteration", [(n, "none") for n in (15, 16, 17, 63, 64, 65, 100, 200)] + [
    (16, "destabilizer equals its stabilizer"), (64, "one bit flipped"), (100, "scratch row of any bits")])
def test_restored_tableau_follows_the_row_procedure(n, alteration):
    """A tableau restored from a pickle (whose bits may form no tableau), then
    driven by gates, measurements in the Z or X basis (a few qubits favoured,
    so that many are determined), reads, pickle or copy round trips and
    num_qubits rewritten and restored, as `ref` (built one qubit larger, used
    with count n: the row procedure on its buffers) is."""
    rng = random.Random(n)
    flat, w = clifford_tableau(n, seed=n).stabilizer_tableau(), 2 * n + 1
    i = rng.randrange(n)
    if alteration == "destabilizer equals its stabilizer":
        flat[i * w:i * w + 2 * n] = flat[(n + i) * w:(n + i) * w + 2 * n]
    elif alteration == "one bit flipped":
        flat[i * w + rng.randrange(2 * n)] ^= 1
    elif alteration == "scratch row of any bits":
        flat[2 * n * w:] = [rng.randrange(2) for _ in range(2 * n)] + [1]
    t, ref = forged_tableau(n, n, flat), forged_tableau(n + 1, n, flat)
    assert t.stabilizer_tableau() == flat == ref.stabilizer_tableau()
    for step in range(150):
        kind = rng.random()
        a, b = (rng.randrange(3) if rng.random() < 0.5 else rng.randrange(n) for _ in range(2))
        if kind < 0.05:
            t = COPIES[rng.choice(list(COPIES))](t)
        elif kind < 0.08:  # a read with fewer qubits writes the plain layout back
            t.num_qubits = ref.num_qubits = rng.randrange(1, n)
            assert t.stabilizer_tableau() == ref.stabilizer_tableau()
            t.num_qubits = ref.num_qubits = n
        elif kind < 0.5:
            code = rng.randrange(9)
            for obj in (t, ref) if code < 6 or a != b else ():
                obj.apply(code, a, b)
        elif kind < 0.9:  # in the Z basis, or in the X basis (H before and after)
            u, basis, outcomes = rng.random(), [(0, a, 0)] * (rng.random() < 0.4), []
            for obj in (t, ref):
                for op in basis:
                    obj.apply(*op)
                outcomes.append(obj.measure(a, u))
                for op in basis:
                    obj.apply(*op)
            assert outcomes[0] == outcomes[1], step
        else:
            assert t.stabilizer_tableau() == ref.stabilizer_tableau(), step
            assert n > 17 or t.state_vector() == ref.state_vector()
    assert t.stabilizer_tableau() == ref.stabilizer_tableau()


@pytest.mark.parametrize("cls, n", [(nn.NativeState, -1), (nn.NativeState, 62), (nn.NativeDensity, -3),
                                    (nn.NativeTableau, -1), (nn.NativeTableau, 0)])
@pytest.mark.parametrize("how", ["copy.copy", "pickle protocol 2", "pickle protocol 5"])
def test_empty_buffers_round_trip(cls, n, how):
    twin = COPIES[how](cls(n))
    assert repr(twin) == repr(cls(n))


def test_subclasses_keep_class_and_attributes():
    original = filled(Tagged, 2, seed=1)
    original.tags = ["bell"]
    original.me = original
    for how, shares_tags in [("copy.copy", True), ("copy.deepcopy", False), ("pickle protocol 5", False)]:
        twin = COPIES[how](original)
        assert type(twin) is Tagged and raw(twin) == raw(original)
        assert twin.tags == ["bell"] and (twin.tags is original.tags) == shares_tags
        assert twin.me is (original if how == "copy.copy" else twin)


@pytest.mark.parametrize("cls, n", [(nn.NativeState, 16), (nn.NativeDensity, 8)])
def test_large_buffers_pickle_as_raw_bytes(cls, n):
    obj = filled(cls, n, seed=0)
    size = len(raw(obj))
    for protocol in (3, 4, 5):
        assert len(pickle.dumps(obj, protocol=protocol)) < size + 200
    buffers = []
    assert len(pickle.dumps(obj, protocol=5, buffer_callback=buffers.append)) < 200
    assert [len(memoryview(b).cast("B")) for b in buffers] == [size]


def pickled_by_hand(cls, n, state):
    """Pickle bytes that rebuild `cls(n)` and pass `state` to __setstate__."""
    class Forged:
        def __reduce__(self):
            return copyreg.__newobj__, (cls, n), state
    return pickle.dumps(Forged(), protocol=1)


@pytest.mark.parametrize("cls, n, state, error, message", [
    (nn.NativeState, 2, (2, (b"\0" * 63,), None), ValueError,
     "NativeState.__setstate__: buffer 0 holds 63 bytes, the object's holds 64"),
    (nn.NativeState, 1, (2, (b"\0" * 64,), None), ValueError,
     "NativeState.__setstate__: buffer 0 holds 64 bytes, the object's holds 32"),
    (nn.NativeDensity, 1, (1, (b"\0" * 64, b""), None), TypeError,
     r"NativeDensity.__setstate__: expected a tuple of 1 buffer\(s\), got tuple"),
    (nn.NativeTableau, 1, (1, (b"\0" * 24, b"\0" * 24, b"\0" * 16), None), ValueError,
     "NativeTableau.__setstate__: buffer 2 holds 16 bytes, the object's holds 24"),
    (nn.NativeTableau, 1, (1, (b"\0" * 24, b"\0" * 8 + b"\2" + b"\0" * 15, b"\0" * 24), None), ValueError,
     "NativeTableau.__setstate__: buffer 1 holds entries other than 0 and 1"),
    (nn.NativeState, 1, (1, ([0.0] * 4,), None), TypeError,
     "NativeState.__setstate__: buffer 0 must be contiguous bytes, got list"),
    (nn.NativeState, 1, [1, (b"\0" * 32,), None], TypeError,
     r"NativeState.__setstate__: expected a tuple \(num_qubits, buffers, dict\), got list"),
    (nn.NativeState, 1, (1.0, (b"\0" * 32,), None), TypeError, "num_qubits: expected int, got float"),
    (nn.NativeState, 1, (1, (b"\0" * 32,), {"a": 1}), TypeError,
     "NativeState.__setstate__: the state has instance attributes, the object has no __dict__"),
    (nn.NativeState, 1, (1, (b"\0" * 32,), 5), TypeError,
     "NativeState.__setstate__: the instance dict must be a dict or None, got int"),
    (nn.NativeState, 40, (40, (b"",), None), MemoryError, "memory allocation failure"),
])
def test_malformed_pickles_raise(cls, n, state, error, message):
    with pytest.raises(error, match=message):
        pickle.loads(pickled_by_hand(cls, n, state))


@pytest.mark.parametrize("n", [1, 3, 16])  # 16 qubits: the restored rows restart the working form
def test_every_tableau_entry_is_checked_for_a_bit(n):
    """Each slot of each of x, z and r, the first and the last included, is
    checked: one entry other than 0 or 1 anywhere refuses the state."""
    sizes = [(2 * n + 1) * n, (2 * n + 1) * n, 2 * n + 1]
    values = [2, -1, 1 << 8, 1 << 62]
    for buffer, size in enumerate(sizes):
        for slot in range(size):
            entries = [[0] * k for k in sizes]
            entries[buffer][slot] = values[slot % len(values)]
            state = (n, tuple(struct.pack(f"<{len(e)}q", *e) for e in entries), None)
            with pytest.raises(ValueError, match=f"buffer {buffer} holds entries other than 0 and 1"):
                pickle.loads(pickled_by_hand(nn.NativeTableau, n, state))


def test_refused_state_changes_nothing():
    obj = filled(nn.NativeState, 2, seed=5)
    obj.num_qubits = 7
    before = raw(obj)
    # The first buffer would fit; the dict is refused: nothing is written.
    with pytest.raises(TypeError):
        obj.__setstate__((2, (b"\0" * 64,), {"a": 1}))
    with pytest.raises(ValueError):
        obj.__setstate__((2, (b"\0" * 65,), None))
    assert raw(obj) == before and obj.num_qubits == 7
    obj.__setstate__((3, (bytes(range(64)),), None))
    assert raw(obj) == bytes(range(64)) and obj.num_qubits == 3
