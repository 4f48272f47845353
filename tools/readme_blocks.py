"""Type-check the README's numpy blocks with mypy and pyright, against the
nimbic_native stub that this interpreter finds (the installed one).

    python tools/readme_blocks.py                 # the installed stub
    python tools/readme_blocks.py --stub FILE     # a stub edit, beside the blocks

The numpy blocks are the ```python blocks that import numpy and nothing
beyond numpy, this project's packages and the standard library (the qiskit
recipe needs qiskit and runs in the peers tests instead). Each block is written to a
file of its own in a temporary folder, as a reader would paste it, and both
checkers run there with this interpreter's Python version and site-packages.
A probe file that misuses the stub must fail in both checkers: a checker that
does not see the stub would accept everything. Exits 1 on any failure.
"""

import argparse
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
ALLOWED = {"numpy", "nimbic_native", "nimbic_scale"} | set(sys.stdlib_module_names)
# Both misuses must be reported: a NativeState is not a str, and NativeDensity
# has no method frombuffer.
PROBE = """import nimbic_native as nn
wrong: str = nn.NativeState(1)
nn.NativeDensity(1).frombuffer()
"""


def imported(code):
    names = re.findall(r"^\s*import\s+(.+)$", code, flags=re.M)
    names = [part.strip().split()[0] for line in names for part in line.split(",")]
    names += re.findall(r"^\s*from\s+(\S+)\s+import\b", code, flags=re.M)
    return {name.split(".")[0] for name in names}


def numpy_blocks(readme_text):
    blocks = re.findall(r"^```python\n(.*?)^```$", readme_text, flags=re.S | re.M)
    return [b for b in blocks if "numpy" in imported(b) and imported(b) <= ALLOWED]


def run(command, cwd):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    return done.returncode, (done.stdout + done.stderr).strip()


def checkers(folder):
    version = f"{sys.version_info.major}.{sys.version_info.minor}"
    return {
        "mypy": [sys.executable, "-m", "mypy", "--python-version", version, "--cache-dir", str(folder / ".mypy_cache")],
        "pyright": [sys.executable, "-m", "pyright", "--pythonpath", sys.executable, "--pythonversion", version],
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--readme", type=pathlib.Path, default=ROOT / "README.md")
    parser.add_argument("--stub", type=pathlib.Path, help="check against this stub instead of the installed one")
    args = parser.parse_args()
    blocks = numpy_blocks(args.readme.read_text())
    if not blocks:
        raise SystemExit(f"no numpy blocks in {args.readme}")
    failed = False
    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp)
        if args.stub:
            shutil.copy(args.stub, folder / "nimbic_native.pyi")
        files = []
        for i, code in enumerate(blocks):
            (folder / f"readme_block_{i}.py").write_text(code)
            files.append(f"readme_block_{i}.py")
        (folder / "probe.py").write_text(PROBE)
        for name, command in checkers(folder).items():
            status, output = run(command + files, folder)
            print(f"{name} on {len(files)} README blocks, Python {sys.version_info.major}.{sys.version_info.minor}:"
                  f" {'ok' if status == 0 else 'FAILED'}")
            if status != 0:
                print(output)
                failed = True
            status, output = run(command + ["probe.py"], folder)
            # Both misuses are reported: the checker reads the stub.
            reported = set(re.findall(r"probe\.py:(\d+)(?::\d+ -|:) error", output))
            if status == 0 or reported != {"2", "3"}:
                print(f"{name} does not see the nimbic_native stub (the probe's two misuses went unreported):\n{output}")
                failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
