"""Lists against zero-copy buffers for numpy users, at 18 qubits.

Module functions take and return Python lists, so a numpy state goes through
`.tolist()` and back: every amplitude becomes a Python float twice. A
NativeState keeps the amplitudes in its own buffer, which numpy views without
copying, and applies the gate in place. Measured in the same run, taking
turns, best of several repeats:

- in place: `state.apply_gate(gate, [q])` on a NativeState (numpy views it);
- list round trip: `numpy.array(nn.apply_gate(amps.tolist(), gate, n, [q]))`;
- the conversions alone: `amps.tolist()` and `numpy.array(list)`.

    python benchmarks/numpy_interop.py [--qubits 18] [--repeats 9]
"""

import argparse
import math

import numpy

import nimbic_native as nn
from timing import best_times



def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--qubits", type=int, default=18)
    parser.add_argument("--repeats", type=int, default=9)
    args = parser.parse_args()
    n = args.qubits
    s = 1 / math.sqrt(2)
    gate = [s, 0.0, s, 0.0, s, 0.0, -s, 0.0]
    q = n // 2

    state = nn.NativeState(n)
    state.set_zero_state()
    view = numpy.frombuffer(state, dtype=numpy.complex128)  # no copy: numpy reads the state in place
    amps = view.copy()
    floats = amps.view(numpy.float64)
    as_list = floats.tolist()

    # Both routes give the same bits.
    once = numpy.array(nn.apply_gate(floats.tolist(), gate, n, [q]))
    state.apply_gate(gate, [q])
    assert once.tobytes() == view.tobytes()

    cases = {
        "in place: state.apply_gate": lambda: state.apply_gate(gate, [q]),
        "list round trip: apply_gate(amps.tolist())": lambda: numpy.array(nn.apply_gate(floats.tolist(), gate, n, [q])),
        "  of which amps.tolist()": lambda: floats.tolist(),
        "  of which numpy.array(list)": lambda: numpy.array(as_list),
    }
    times = best_times(list(cases.values()), args.repeats)
    base = times[0]
    print(f"{n} qubits ({2**n} amplitudes), best of {args.repeats}")
    for (name, _), t in zip(cases.items(), times):
        print(f"  {name:46s} {t * 1e3:9.3f} ms  {t / base:8.1f}x in place")
    print(f"the list round trip costs {times[1] / base:.0f}x an in-place apply_gate")
    print(f"the two conversions alone are {(times[2] + times[3]) / times[1]:.0%} of the list round trip")


if __name__ == "__main__":
    main()
