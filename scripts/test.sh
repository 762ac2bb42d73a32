#!/usr/bin/env bash
# Sets everything up and runs every test: the C++ unit tests through ctest, then the
# Python tests through pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
phase_started=$SECONDS
phases=()
# Records how long the phase that just ended took; the summary prints them all.
phase_done() {
    phases+=("$(printf '%-28s %4d s' "$1" $((SECONDS - phase_started)))")
    phase_started=$SECONDS
}
print_phases() {
    echo "== phase times"
    printf '   %s\n' "${phases[@]}"
    printf '   %-28s %4d s\n' "total" $((SECONDS - started))
}
trap print_phases EXIT

bash scripts/setup.sh --tests
phase_done "setup (3.12 module, tools)"

echo "== C++ tests"
launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR="$PWD"
fi
# Without link-time optimisation: each of the build's programs would optimise the whole
# core again at its link (the module, which the Python tests use, keeps it).
.venv/bin/cmake -S . -B build/tests -G Ninja -DCMAKE_MAKE_PROGRAM="$PWD/.venv/bin/ninja" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANDREL_BUILD_TESTS=ON \
    -DVANDREL_WERROR=ON -DVANDREL_LTO=OFF "${launcher[@]}" >/dev/null
.venv/bin/cmake --build build/tests
phase_done "C++ build"
.venv/bin/ctest --test-dir build/tests --output-on-failure -j 2
.venv/bin/python scripts/ctest_skips.py build/tests
phase_done "C++ tests"

echo "== Python tests"
.venv/bin/python -m pytest -rs tests/python
phase_done "Python tests (3.12)"

# The module builds for CPython 3.13 as well: the same suite runs there when one is found
# (in .venv-3.13, built and installed beside the 3.12 one).
if python313="$(bash scripts/find-python.sh 3.13 2>/dev/null)"; then
    [ -x .venv-3.13/bin/python ] || "$python313" -m venv .venv-3.13
    bash scripts/install-vandrel.sh .venv-3.13 tools,gym,test
    phase_done "3.13 module"
    echo "== Python tests on CPython 3.13"
    .venv-3.13/bin/python -m pytest -rs tests/python
    phase_done "Python tests (3.13)"
else
    echo "== no CPython 3.13 found: the Python tests ran on 3.12 only"
fi
