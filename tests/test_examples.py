"""Every program in examples/ runs to completion and prints its result. The
examples assert their own results, so a wrong number fails them too."""
import importlib.util
import pathlib
import subprocess
import sys

import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
# A line each example must print (its headline result).
EXPECTED = {
    "quickstart.py": "P(q0 q1)      [0.5, 0.0, 0.0, 0.5]",
    "noisy_bell.py": "P(00, 01, 10, 11) = [0.52, 0.08, 0.08, 0.32]",
    "ghz_sampling.py": "1000 shots,",
    "surface_code.py": "every error detected and corrected",
    "stabilizer_vs_statevector.py": "largest difference from the dense simulation:",
    "dask_scale_out.py": "sweep matches cos(theta)^10",
    "mpi_qft.py": "inverse QFT returned the secret",
}
# Examples that need an extra: the module they import first.
NEEDS = {"dask_scale_out.py": "distributed", "mpi_qft.py": "mpi4py"}
EXTRAS = {"distributed": "distributed", "mpi4py": "mpi"}


def test_every_example_is_listed():
    assert sorted(p.name for p in EXAMPLES.glob("*.py")) == sorted(EXPECTED)


@pytest.mark.parametrize("name", sorted(EXPECTED))
def test_example_runs(name):
    if name in NEEDS and importlib.util.find_spec(NEEDS[name]) is None:
        pytest.skip(f"needs {NEEDS[name]} (pip install '.[{EXTRAS[NEEDS[name]]}]')")
    done = subprocess.run([sys.executable, str(EXAMPLES / name)], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert EXPECTED[name] in done.stdout
