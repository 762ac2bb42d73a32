"""Writes src/bindings/docstrings.hpp from the type stubs, so that help(vandrel.NES) says
what the stubs say. Run it after changing a docstring in src/bindings/vandrel.pyi, then
clang-format the header; a test checks that the two agree.

Usage: python scripts/docstrings.py
"""

import ast
import pathlib

ROOT = pathlib.Path(__file__).resolve().parent.parent
STUBS = ROOT / "src" / "bindings" / "vandrel.pyi"
HEADER = ROOT / "src" / "bindings" / "docstrings.hpp"


def docstrings(stubs):
    """(class, method or None, text) for every class and method with a docstring; the
    overloads of one method get a number each, in order."""
    found = []
    for node in ast.parse(stubs).body:
        if not isinstance(node, ast.ClassDef) or node.name.startswith("_"):
            continue
        found.append((node.name, None, ast.get_docstring(node)))
        methods = {}
        for item in node.body:
            # pickling's __getstate__ and __setstate__ come from pybind11, without text
            if (isinstance(item, ast.FunctionDef) and ast.get_docstring(item)
                    and item.name not in ("__getstate__", "__setstate__")):
                methods.setdefault(item.name, []).append(ast.get_docstring(item))
        for name, texts in methods.items():
            if len(texts) == 1:
                found.append((node.name, name, texts[0]))
            else:
                found += [(node.name, f"{name}{i}", text) for i, text in enumerate(texts)]
    return found


def identifier(cls, method):
    """NES_RUNFRAME for NES.runFrame, NES_DUNDER_GETSTATE for NES.__getstate__."""
    if method is None:
        return f"{cls}_CLASS".upper()
    if method.startswith("__"):
        return f"{cls}_DUNDER_{method.strip('_').replace('__', '_')}".upper()
    return f"{cls}_{method}".upper()


def cpp_string(text):
    lines = text.replace("\\", "\\\\").replace('"', '\\"').split("\n")
    return "\n".join(f'    "{line}\\n"' if i < len(lines) - 1 else f'    "{line}"'
                     for i, line in enumerate(lines))


def main():
    out = ["// Written by scripts/docstrings.py from src/bindings/vandrel.pyi; edit the stubs,",
           "// not this file.",
           "#pragma once",
           "",
           "namespace vandrel::docs {",
           ""]
    stubs = STUBS.read_text()
    out.append("inline constexpr char const MODULE[] =")
    out.append(cpp_string(ast.get_docstring(ast.parse(stubs))) + ";")
    for cls, method, text in docstrings(stubs):
        out.append(f"inline constexpr char const {identifier(cls, method)}[] =")
        out.append(cpp_string(text) + ";")
    out += ["", "} // namespace vandrel::docs", ""]
    HEADER.write_text("\n".join(out))


if __name__ == "__main__":
    main()
