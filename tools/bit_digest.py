"""Print a digest of the exact bits that nimbic_native computes for a fixed
set of seeded inputs, one line per family of entry points and a total.

Two builds of the module (another compiler, another C++ runtime, another
machine) that print the same lines gave the same bits on every call:

    python tools/bit_digest.py > a.txt           # one build
    python tools/bit_digest.py --compare a.txt   # another: exit 1 on any difference

The inputs reach the AVX2 kernels (on CPUs that have AVX2), the scalar ones
and the thread split (states of 2^20 amplitudes and more).
"""

import argparse
import hashlib
import math
import random
import struct
import sys

import nimbic_native as nn


def floats(rng, count):
    return [rng.uniform(-1.0, 1.0) for _ in range(count)]


def unit(rng, count):
    values = floats(rng, count)
    norm = math.sqrt(math.fsum(v * v for v in values))  # the same bits on every Python
    return [v / norm for v in values]


class Digest:
    def __init__(self):
        self.hash = hashlib.sha256()

    def add(self, value):
        if isinstance(value, (list, tuple)):
            self.hash.update(struct.pack("<q", len(value)))
            for v in value:
                self.add(v)
        elif isinstance(value, float):
            self.hash.update(struct.pack("<d", value))
        elif isinstance(value, int):
            self.hash.update(struct.pack("<q", value))
        elif isinstance(value, (bytes, memoryview)):
            self.hash.update(bytes(value))
        else:
            self.hash.update(repr(value).encode())

    def hex(self):
        return self.hash.hexdigest()[:32]


def statevector(d, rng):
    for n in (1, 3, 6, 11, 20):
        state = nn.NativeState(n)
        state.set_amplitudes(unit(rng, 2 << n))
        for k in (1, 2, 3):
            if k > n:
                continue
            for _ in range(3):
                targets = rng.sample(range(n), k)
                state.apply_gate(floats(rng, 2 * 4**k), targets)
            if n > 1:  # adjacent pair, the kernel with its own SIMD path
                q = rng.randrange(n - 1)
                state.apply_gate(floats(rng, 32), [q, q + 1])
        d.add(memoryview(state).cast("B"))
        d.add(state.probabilities(rng.sample(range(n), min(n, 2))))
        d.add(state.measure([rng.randrange(n)], rng.random()))
        d.add(memoryview(state).cast("B"))
        small = unit(rng, 2 << min(n, 8))
        m = min(n, 8)
        d.add(nn.apply_gate(small, floats(rng, 8), m, [rng.randrange(m)]))
        d.add(nn.state_probabilities(small, [0], m))
        d.add(nn.collapse_state(small, [0], 1, m))


def density(d, rng):
    for n in (1, 3, 6, 9):
        rho = nn.NativeDensity(n)
        rho.set_from_amplitudes(unit(rng, 2 << n))
        for k, m in ((1, 1), (1, 3), (min(n, 2), 2), (min(n, 3), 2)):
            rho.apply_channel(floats(rng, m * 2 * 4**k), m, rng.sample(range(n), k))
        diagonal = [0.0] * 8
        diagonal[0], diagonal[6] = rng.random(), rng.random()
        rho.apply_channel(diagonal, 1, [rng.randrange(n)])
        rho.apply_channel([0, 0, 1, 0, 1, 0, 0, 0], 1, [rng.randrange(n)])
        d.add(memoryview(rho).cast("B"))
        d.add(rho.probabilities(rng.sample(range(n), min(n, 2))))
        d.add(rho.measure([rng.randrange(n)], rng.random()))
        d.add(memoryview(rho).cast("B"))
    psi = unit(rng, 16)
    rho = nn.state_to_density(psi)
    d.add(rho)
    d.add(nn.density_probabilities(rho, [1], 3))
    d.add(nn.density_collapse(rho, [0, 2], 1, 3))
    d.add(nn.channel(rho, floats(rng, 2 * 2 * 64), 2, 8))
    d.add(nn.sandwich(rho, floats(rng, 128), 8))
    d.add(nn.embed_operator(floats(rng, 8), 2, [1], 3))


def stabilizer(d, rng):
    n = 12
    program = []
    for _ in range(200):
        code = rng.randrange(9)
        a, b = rng.sample(range(n), 2)
        program += [code, a, b]
    measured = program + [v for q in range(n) for v in (9, q, 0)]
    d.add(nn.clifford_run(measured, n, [q % 2 for q in range(n)], 300, 2024))
    flat = nn.clifford_tableau(program, n)
    d.add(flat)
    d.add(nn.clifford_state_vector(flat, n))
    tableau = nn.NativeTableau(n)
    for i in range(0, len(program), 3):
        tableau.apply(*program[i:i + 3])
    d.add(tableau.measure(0, 0.3))
    d.add(tableau.stabilizer_tableau())
    d.add(tableau.state_vector())


def linalg(d, rng):
    for dim in (1, 2, 4, 7):
        a, b = floats(rng, 2 * dim * dim), floats(rng, 2 * dim * dim)
        d.add(nn.matmul(a, b, dim))
        d.add(nn.dagger(a, dim))
        d.add(nn.add_scaled(a, b, dim, 0.3))
        d.add(nn.matvec(a, floats(rng, 2 * dim), dim))
        d.add(nn.kron(a, dim, b, dim))
        d.add(nn.matrix_det(a, dim))
        d.add(nn.matrix_inverse(a, dim))
        d.add(nn.matrix_allclose(a, b, dim, 0.5))
        d.add(nn.is_identity_matrix(a, dim, 0.5))
        sym = floats(rng, dim * dim)
        sym = [sym[r * dim + c] + sym[c * dim + r] for r in range(dim) for c in range(dim)]
        d.add(nn.jacobi_eig(sym, dim))
        d.add(nn.simultaneous_diag(sym, [2.0 * v for v in sym], dim))
    d.add(nn.solve3(floats(rng, 9), floats(rng, 3)))
    d.add(nn.kron_factor(nn.kron(floats(rng, 8), 2, floats(rng, 8), 2)))
    d.add(nn.pauli_expansion(floats(rng, 2 * 64), 3))
    d.add(nn.sample_outcome([0.25] * 4, rng.random()))


FAMILIES = {"statevector": statevector, "density": density, "stabilizer": stabilizer, "linalg": linalg}


def digests():
    lines = []
    total = Digest()
    for seed, (name, family) in enumerate(FAMILIES.items()):
        d = Digest()
        family(d, random.Random(seed))
        lines.append(f"{name}: {d.hex()}")
        total.add(d.hex().encode())
    lines.append(f"total: {total.hex()}")
    return lines


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--compare", metavar="FILE", help="digests printed by another build")
    args = parser.parse_args(argv)
    lines = digests()
    print("\n".join(lines))
    if args.compare:
        with open(args.compare) as f:
            theirs = f.read().split("\n")
        theirs = [line for line in theirs if line]
        if theirs != lines:
            print(f"different bits from the build behind {args.compare}", file=sys.stderr)
            return 1
        print(f"same bits as the build behind {args.compare}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
