"""The module refuses to load into any interpreter but the CPython version it was built
for (3.12 or 3.13)."""

import glob
import os
import pathlib
import subprocess
import sys

import pytest

import vandrel

LOAD_ELSEWHERE = """
import importlib.util, os, sys
sys.setdlopenflags(os.RTLD_LAZY)  # reach the module's own check before any symbol lookup
spec = importlib.util.spec_from_file_location("vandrel", sys.argv[1])
try:
    spec.loader.exec_module(importlib.util.module_from_spec(spec))
except ImportError as e:
    print(e)
"""


THIS = "%d.%d" % sys.version_info[:2]


def other_interpreters():
    root = os.environ.get("PYENV_ROOT", str(pathlib.Path.home() / ".pyenv"))
    found = []
    for version in ("3.11", "3.12", "3.13"):
        if version != THIS:
            found += sorted(glob.glob(f"{root}/versions/{version}*/bin/python{version}"))[:1]
    return found


@pytest.mark.parametrize("python", other_interpreters() or [pytest.param(None, marks=pytest.mark.skip(
    reason=f"no other CPython (3.11-3.13) installed beside {THIS}"))])
def test_other_interpreter_versions_get_the_version_mismatch_error(python):
    out = subprocess.run([python, "-c", LOAD_ELSEWHERE, vandrel.__file__],
                         capture_output=True, text=True, timeout=60).stdout
    version = subprocess.run([python, "-c", "import sys; print(sys.version)"],
                             capture_output=True, text=True, timeout=60).stdout.strip()
    assert out.strip() == (f"Python version mismatch: module was compiled for Python {THIS}, "
                           f"but the interpreter version is incompatible: {version}.")


def test_the_module_defines_exactly_its_classes():
    public = {name for name in dir(vandrel) if not name.startswith("_")}
    assert public == {"NES", "Controller", "ConversionError", "UnsupportedBoardWarning"}
    assert sys.version_info[:2] in ((3, 12), (3, 13))
