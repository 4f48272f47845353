"""The native checks: every kernel variant (AVX2, threaded) against its scalar
single-thread reference, bit for bit. The checks are a C++ program built from
the kernel sources with CMake into build-native/ (or taken from
NIMBIC_NATIVE_CHECKS, a path to a built nimbic_native_checks)."""
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
FAMILIES = [
    "cpu_quota",
    "density_blocks",
    "density_diagonal",
    "density_map",
    "density_measurement",
    "density_permutation",
    "density_single_qubit",
    "density_state_to_density",
    "density_whole_matrix",
    "memory_limits",
    "outcome_search",
    "stabilizer_native_tableau",
    "stabilizer_packed_sampler",
    "stabilizer_packed_tableau",
    "stabilizer_sampler",
    "stabilizer_state_vector",
    "statevector_1q",
    "statevector_2q_adjacent",
    "statevector_dispatch",
    "statevector_general",
    "statevector_measurement",
]


def build_checks() -> pathlib.Path:
    given = os.environ.get("NIMBIC_NATIVE_CHECKS")
    if given:
        return pathlib.Path(given)
    if shutil.which("cmake") is None or not (ROOT / "CMakeLists.txt").exists():
        pytest.skip("cmake and the source tree are needed to build the native checks")
    build = ROOT / "build-native"
    configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DNIMBIC_MODULE=OFF",
                 "-DNIMBIC_NATIVE_CHECKS=ON", "-DCMAKE_BUILD_TYPE=Release"]
    if shutil.which("ninja"):
        configure += ["-G", "Ninja"]
    if os.environ.get("NIMBIC_WERROR"):
        configure.append("-DNIMBIC_WERROR=ON")
    if not (build / "CMakeCache.txt").exists():
        subprocess.run(configure, check=True, capture_output=True)
    out = subprocess.run(["cmake", "--build", str(build), "--target", "nimbic_native_checks"],
                         capture_output=True, text=True)
    assert out.returncode == 0, out.stdout[-4000:] + out.stderr[-4000:]
    return build / "tests" / "native" / "nimbic_native_checks"


@pytest.fixture(scope="module")
def checks():
    return build_checks()


def test_every_family_is_run_here(checks):
    listed = subprocess.run([str(checks), "--list"], capture_output=True, text=True, check=True)
    assert listed.stdout.split() == FAMILIES


@pytest.mark.parametrize("family", FAMILIES)
def test_family(checks, family):
    out = subprocess.run([str(checks), family], capture_output=True, text=True)
    sys.stdout.write(out.stdout)
    assert out.returncode == 0, out.stdout
    assert out.stdout.startswith(f"{family}: ") and ", 0 failures" in out.stdout
