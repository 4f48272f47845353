"""Pickle and copy of a large NativeState against copying its bytes once.

The floor is `bytes(memoryview(state))`: one pass over the amplitudes into a
new object, as any serialisation must make. Measured in the same run, taking
turns, best of several repeats:

- pickle.dumps with protocol 5 (the buffer goes in-band, written straight from
  the state), with the default protocol (a bytes copy, then the pickle), and
  with protocol 5 out of band (the buffer is handed over, not copied);
- pickle.loads of the protocol-5 pickle (a new state, then one copy);
- copy.copy and copy.deepcopy.

Target: pickle.dumps(state, protocol=5) within 2x the floor at 24 qubits.

    python benchmarks/pickling.py [--qubits 24] [--repeats 7]
"""

import argparse
import copy
import pickle

import nimbic_native as nn
from timing import best_times

TARGET = 2.0



def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--qubits", type=int, default=24)
    parser.add_argument("--repeats", type=int, default=7)
    args = parser.parse_args()

    state = nn.NativeState(args.qubits)
    state.set_zero_state()
    state.apply_gate([0.6, 0.0, 0.8, 0.0, 0.8, 0.0, -0.6, 0.0], [0])
    in_band = pickle.dumps(state, protocol=5)
    assert bytes(memoryview(pickle.loads(in_band))) == bytes(memoryview(state))

    cases = {
        "bytes(memoryview(state)) (floor)": lambda: bytes(memoryview(state)),
        "pickle.dumps, protocol 5": lambda: pickle.dumps(state, protocol=5),
        f"pickle.dumps, default protocol {pickle.DEFAULT_PROTOCOL}": lambda: pickle.dumps(state),
        "pickle.dumps, protocol 5 out of band": lambda: pickle.dumps(state, protocol=5, buffer_callback=list().append),
        "pickle.loads, protocol 5": lambda: pickle.loads(in_band),
        "copy.copy": lambda: copy.copy(state),
        "copy.deepcopy": lambda: copy.deepcopy(state),
    }
    times = best_times(list(cases.values()), args.repeats)
    floor = times[0]
    size = len(memoryview(state).cast("B"))
    print(f"NativeState({args.qubits}): {size / 2**20:.0f} MiB, best of {args.repeats}")
    for (name, _), t in zip(cases.items(), times):
        print(f"  {name:42s} {t * 1e3:9.2f} ms  {t / floor:6.2f}x floor")
    ratio = times[1] / floor
    verdict = "met" if ratio < TARGET else "NOT met"
    print(f"target: pickle.dumps(state, protocol=5) < {TARGET}x floor: {ratio:.2f}x, {verdict}")


if __name__ == "__main__":
    main()
