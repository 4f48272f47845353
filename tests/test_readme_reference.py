"""The README's reference table is generated from the stub: it is current,
covers the whole module, and a stale table is caught and rewritten."""
import pathlib
import subprocess
import sys

import nimbic_native as nn

ROOT = pathlib.Path(__file__).resolve().parent.parent
TOOL = ROOT / "tools" / "readme_reference.py"
README = ROOT / "README.md"


def run(*args):
    return subprocess.run([sys.executable, str(TOOL), *args], capture_output=True, text=True)


def test_readme_table_is_current():
    done = run("--check")
    assert done.returncode == 0, done.stderr


def test_table_covers_the_module():
    text = README.read_text()
    table = text[text.index("<!-- reference table"):text.index("<!-- end of reference table")]
    for name, value in vars(nn).items():
        if name.startswith("_"):
            continue
        assert f"| `{name}(" in table, name
        if isinstance(value, type):
            for method in (m for m in vars(value) if not m.startswith("_")):
                assert f"| `{name}.{method}" in table, f"{name}.{method}"


def test_stale_table_is_caught_and_rewritten(tmp_path):
    text = README.read_text()
    readme = tmp_path / "README.md"
    readme.write_text(text.replace("Matrix product a @ b of two complex matrices.", "Old words."))
    assert run("--check", "--readme", str(readme)).returncode == 1
    assert readme.read_text() != text, "--check changes nothing"
    assert run("--readme", str(readme)).returncode == 0
    assert readme.read_text() == text
    # A docstring edited in the stub makes the committed README stale.
    stub = tmp_path / "nimbic_native.pyi"
    stub.write_text((ROOT / "nimbic_native.pyi").read_text().replace("Conjugate transpose", "Adjoint"))
    done = run("--check", "--readme", str(readme), "--stub", str(stub))
    assert done.returncode == 1 and "stale" in done.stderr
