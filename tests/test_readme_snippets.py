"""Every Python snippet in the README runs as written (each in a fresh
namespace) and its own asserts hold. A snippet that imports a peer simulator
is skipped without it (the peers tests run the qiskit recipe)."""
import pathlib
import re

import pytest

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"
PEERS = ("qiskit",)
SNIPPETS = re.findall(r"^```python\n(.*?)^```$", README.read_text(), flags=re.S | re.M)


def test_readme_has_snippets():
    assert len(SNIPPETS) >= 5


@pytest.mark.parametrize("code", SNIPPETS, ids=[f"snippet{i}" for i in range(len(SNIPPETS))])
def test_snippet_runs(code, capsys):
    for peer in PEERS:
        if re.search(rf"^\s*(from|import)\s+{peer}\b", code, flags=re.M):
            pytest.importorskip(peer)
    exec(compile(code, str(README), "exec"), {"__name__": "readme"})
