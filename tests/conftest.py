import math

import pytest

import nimbic_native as nn

SQRT_HALF = 1 / math.sqrt(2)
# Gates as flat interleaved row-major lists.
H = [SQRT_HALF, 0.0, SQRT_HALF, 0.0, SQRT_HALF, 0.0, -SQRT_HALF, 0.0]
X = [0.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.0]
CNOT = [1.0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 1.0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 1.0, 0,
        0, 0, 0, 0, 1.0, 0, 0, 0]


@pytest.fixture
def bell():
    s = nn.NativeState(2)
    s.set_zero_state()
    s.apply_gate(H, [0])
    s.apply_gate(CNOT, [0, 1])
    return s
