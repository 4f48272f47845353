"""The type stub against the module. stubtest checks names and kinds but
cannot see the parameters of native functions (they have no text signature),
so the parameters and result types are compared here with the published
signatures."""
import ast
import pathlib

import pytest

import nimbic_native as nn
from test_module import FUNCTION_TABLE, METHOD_TABLES, parse_params

STUB = pathlib.Path(__file__).resolve().parent.parent / "nimbic_native.pyi"
TREE = ast.parse(STUB.read_text())
# Stub annotation -> the kind in the runtime signature line.
KINDS = {"_Floats": "Sequence[float]", "_Ints": "Sequence[int]", "int": "int", "float": "float",
         "list[float]": "Sequence[float]", "list[int]": "Sequence[int]", "str": "str", "None": "None"}


def stub_defs(body):
    return {node.name: node for node in body if isinstance(node, (ast.FunctionDef, ast.ClassDef))}


def stub_params(fn, skip_self=False):
    args = fn.args.args[1:] if skip_self else fn.args.args
    assert not (fn.args.vararg or fn.args.kwarg or fn.args.kwonlyargs or fn.args.posonlyargs)
    return [(a.arg, KINDS[ast.unparse(a.annotation)]) for a in args]


def one_line_doc(node):
    doc = ast.get_docstring(node)
    return doc is not None and doc.strip() != "" and "\n" not in doc


def test_stub_names_follow_the_module():
    defs = stub_defs(TREE.body)
    functions = [n for n, d in defs.items() if isinstance(d, ast.FunctionDef)]
    assert functions == [name for name, _ in FUNCTION_TABLE]
    classes = [n for n, d in defs.items() if isinstance(d, ast.ClassDef)]
    assert classes == ["NativeTableau", "NativeState", "NativeDensity"]
    assert all(isinstance(getattr(nn, c), type) for c in classes)


@pytest.mark.parametrize("name, doc", FUNCTION_TABLE)
def test_function_signatures(name, doc):
    fn = stub_defs(TREE.body)[name]
    signature, result = doc[len(name) + 1:].split(") -> ")
    assert stub_params(fn) == parse_params(signature)
    assert KINDS[ast.unparse(fn.returns)] == result
    assert one_line_doc(fn), name


@pytest.mark.parametrize("cls", list(METHOD_TABLES), ids=lambda c: c.__name__)
def test_class_signatures(cls):
    node = stub_defs(TREE.body)[cls.__name__]
    assert one_line_doc(node)
    members = stub_defs(node.body)
    assert [n for n in members if not n.startswith("__")] == [n for n, _, _ in METHOD_TABLES[cls]]
    for name, signature, _ in METHOD_TABLES[cls]:
        assert stub_params(members[name], skip_self=True) == parse_params(signature), name
        assert one_line_doc(members[name]), name
    assert stub_params(members["__new__"], skip_self=True) == [("num_qubits", "int")]
    attributes = [ast.unparse(n) for n in node.body if isinstance(n, ast.AnnAssign)]
    assert attributes == ["num_qubits: int"]
    # The buffer methods are declared exactly for the classes that export one.
    exports = cls is not nn.NativeTableau
    assert ("__buffer__" in ast.unparse(node)) == exports


@pytest.mark.parametrize("arg, accepted", [([1.0, 0.0], True), ((1.0, 0.0), True), ([1, 0], True),
                                           (range(2), False), (iter([1.0, 0.0]), False)])
def test_float_arguments_are_lists_or_tuples(arg, accepted):
    # The stub types float arguments as lists or tuples of floats or ints.
    if accepted:
        assert nn.dagger(arg, 1) == [1.0, -0.0]
    else:
        with pytest.raises(TypeError, match="expected a sequence"):
            nn.dagger(arg, 1)
