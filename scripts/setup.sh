#!/usr/bin/env bash
# Sets up everything vandrel needs on a fresh machine: the system tools for the C++
# tests and the 6502 test programs (when missing), a CPython 3.12 virtual environment
# in .venv, and vandrel itself built and installed into it with its test tools.
set -euo pipefail
cd "$(dirname "$0")/.."

system_packages=()
command -v g++ >/dev/null 2>&1 || system_packages+=(g++)
command -v ca65 >/dev/null 2>&1 || system_packages+=(cc65)
[ -f /usr/include/gtest/gtest.h ] || system_packages+=(libgtest-dev)
if [ ${#system_packages[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
        echo "error: please install these packages first: ${system_packages[*]}" >&2
        exit 1
    fi
    echo "== installing ${system_packages[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${system_packages[@]}" >/dev/null
fi

python="$(bash scripts/find-python.sh)"
if [ ! -x .venv/bin/python ] || ! .venv/bin/python -c 'import sys; sys.exit(sys.version_info[:2] != (3, 12))'; then
    echo "== creating .venv with $python"
    rm -rf .venv
    "$python" -m venv .venv
fi

# A second run with nothing changed skips the installs (see install-vandrel.sh).
if [ -f .venv/.vandrel-installed ] && [ -x .venv/bin/cmake ] && [ -x .venv/bin/ninja ]; then
    bash scripts/install-vandrel.sh .venv
    exit 0
fi
.venv/bin/python -m pip install -q --upgrade pip
# CMake and Ninja for the C++ tests come from PyPI, like the module's own build.
.venv/bin/python -m pip install -q "cmake>=3.18" ninja
bash scripts/install-vandrel.sh .venv
