"""Linear-algebra helpers and stabilizer reconstruction against baselines
measured in the same run. Prints ratios (ours / baseline, best of repeats).

    python benchmarks/linalg.py

- clifford_state_vector on a random valid 20-qubit tableau against
  NativeState(20).amplitudes(), which builds a list of the same length
  (target: at most 2x).
- pauli_expansion growth per added qubit from n = 4 to n = 9 (target: at
  most 5x per qubit; the data grow 4x).
- matmul and matrix_inverse at dim 4 and jacobi_eig at n = 4 from Python
  lists against numpy doing the same from the same lists, numpy.array
  conversion included (target: at most 1.0x).
"""

import random
import sys
import timeit

import numpy as np
import stim

import nimbic_native as nn


def best(fn, number, repeat=7):
    return min(timeit.repeat(fn, number=number, repeat=repeat)) / number


def flat_tableau(t):
    n = len(t)
    rows = [t.x_output(k) for k in range(n)] + [t.z_output(k) for k in range(n)]
    flat = []
    for p in rows:
        xs, zs = p.to_numpy()
        flat += [int(v) for v in xs] + [int(v) for v in zs] + [1 if p.sign == -1 else 0]
    return flat + [0] * (2 * n + 1)


def state_vector_bench():
    n = 20
    flat = flat_tableau(stim.Tableau.random(n))
    state = nn.NativeState(n)
    state.set_zero_state()
    ours = best(lambda: nn.clifford_state_vector(flat, n), 3, 5)
    base = best(state.amplitudes, 3, 5)
    print(f"clifford_state_vector n=20: {ours * 1e3:8.2f} ms, NativeState(20).amplitudes(): "
          f"{base * 1e3:8.2f} ms, ratio {ours / base:5.2f} (target <= 2.0)")


def pauli_expansion_bench():
    """Also times NativeState(2n).amplitudes(), a list of the same 2*4^n
    floats: building and freeing the Python floats is the floor of both."""
    rng = random.Random(1)
    times, floor = {}, {}
    for n in range(4, 10):
        m = [rng.uniform(-1, 1) for _ in range(2 * 4 ** n)]
        state = nn.NativeState(2 * n)
        state.set_zero_state()
        number = max(1, 2000 >> (2 * (n - 4)))
        times[n] = best(lambda: nn.pauli_expansion(m, n), number, 7)
        floor[n] = best(state.amplitudes, number, 7)
    for n in range(5, 10):
        print(f"pauli_expansion n={n - 1}->{n}: {times[n - 1] * 1e6:9.1f} us -> {times[n] * 1e6:9.1f} us, "
              f"growth {times[n] / times[n - 1]:4.2f}x (target <= 5.0); same-size list floor growth "
              f"{floor[n] / floor[n - 1]:4.2f}x, call/floor {times[n] / floor[n]:4.2f}")
    print(f"pauli_expansion n=4->9 mean growth per qubit {(times[9] / times[4]) ** 0.2:4.2f}x")


def small_matrix_bench():
    rng = random.Random(2)
    a = [rng.uniform(-1, 1) for _ in range(32)]
    b = [rng.uniform(-1, 1) for _ in range(32)]
    sym = np.array([rng.uniform(-1, 1) for _ in range(16)]).reshape(4, 4)
    s = (sym + sym.T).ravel().tolist()

    def np_complex(x):
        return np.array(x).view(np.complex128).reshape(4, 4)

    cases = [
        ("matmul dim 4", lambda: nn.matmul(a, b, 4), lambda: np_complex(a) @ np_complex(b)),
        ("matrix_inverse dim 4", lambda: nn.matrix_inverse(a, 4), lambda: np.linalg.inv(np_complex(a))),
        ("jacobi_eig n 4", lambda: nn.jacobi_eig(s, 4), lambda: np.linalg.eigh(np.array(s).reshape(4, 4))),
    ]
    for name, ours_fn, numpy_fn in cases:
        ours = best(ours_fn, 20000)
        base = best(numpy_fn, 20000)
        print(f"{name:22s}: {ours * 1e6:6.2f} us, numpy {base * 1e6:6.2f} us, ratio {ours / base:4.2f} (target <= 1.0)")


if __name__ == "__main__":
    print(f"python {sys.version.split()[0]}, numpy {np.__version__}, stim {stim.__version__}")
    state_vector_bench()
    pauli_expansion_bench()
    small_matrix_bench()
