#!/usr/bin/env bash
# Sets everything up and runs every test: the C++ unit tests through ctest, then the
# Python tests through pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

echo "== C++ tests"
.venv/bin/cmake -S . -B build/tests -G Ninja -DCMAKE_MAKE_PROGRAM="$PWD/.venv/bin/ninja" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANDREL_BUILD_TESTS=ON \
    -DVANDREL_WERROR=ON >/dev/null
.venv/bin/cmake --build build/tests
.venv/bin/ctest --test-dir build/tests --output-on-failure -j 2

echo "== Python tests"
.venv/bin/python -m pytest tests/python
