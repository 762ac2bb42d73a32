"""help(vandrel.NES) says what the type stubs say: every public class and method has the
stubs' docstring (src/bindings/docstrings.hpp is written from the stubs)."""
import ast
import pathlib
import re

import pytest
import vandrel

STUBS = pathlib.Path(__file__).resolve().parents[2] / "src" / "bindings" / "vandrel.pyi"


def stub_docstrings():
    module = ast.parse(STUBS.read_text())
    yield "module", None, ast.get_docstring(module)
    for node in module.body:
        if isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
            yield node.name, None, ast.get_docstring(node)
            for item in node.body:
                if isinstance(item, ast.FunctionDef) and ast.get_docstring(item) \
                        and item.name not in ("__getstate__", "__setstate__"):
                    yield node.name, item.name, ast.get_docstring(item)


@pytest.mark.parametrize("cls, method, text", list(stub_docstrings()),
                         ids=lambda v: v if isinstance(v, str) and len(v) < 30 else "")
def test_the_module_carries_the_stubs_docstrings(cls, method, text):
    target = vandrel if cls == "module" else getattr(vandrel, cls)
    if method:
        target = getattr(target, method)
    assert text in target.__doc__


@pytest.mark.parametrize("cls", [vandrel.NES, vandrel.Controller])
def test_every_public_method_is_documented(cls):
    for name in dir(cls):
        if name.startswith("_"):
            continue
        member = getattr(cls, name)
        doc = member.__doc__ or ""
        if isinstance(member, property):    # the text alone: a property has no signature
            assert doc.strip(), name
            continue
        # pybind11 puts the signature first; the text follows after a blank line
        assert "\n\n" in doc and doc.split("\n\n", 1)[1].strip(), name


def is_property(function):
    return any(isinstance(d, ast.Name) and d.id == "property" for d in function.decorator_list)


def stub_parameters():
    for node in ast.parse(STUBS.read_text()).body:
        if isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
            for item in node.body:
                if (isinstance(item, ast.FunctionDef) and not item.name.startswith("_")
                        and not is_property(item)):
                    arguments = item.args.posonlyargs + item.args.args + item.args.kwonlyargs
                    yield node.name, item.name, [a.arg for a in arguments[1:]]


@pytest.mark.parametrize("cls, method, names", list(stub_parameters()))
def test_help_names_the_arguments_as_the_stubs_do(cls, method, names):
    signature = getattr(getattr(vandrel, cls), method).__doc__.splitlines()[0]
    assert re.findall(r"(\w+): ", signature.split("(", 1)[1]) == ["self"] + names
    assert "Wrapper" not in signature
