#!/usr/bin/env bash
# Sets up what vandrel needs on a fresh machine: a CPython 3.12 virtual environment in
# .venv with vandrel built and installed into it.
#
#   setup.sh            for the main job: the module and its tools (the recorder, the
#                       player); needs only a C++ compiler and CPython, no root
#   setup.sh --tests    for the tests as well: the Gymnasium and test extras, CMake and
#                       Ninja from PyPI, and the system tools for the C++ tests and the
#                       6502 test programs (GoogleTest, cc65), installed when missing;
#                       ccache too when it can be, so that the builds of the tests and
#                       of each Python version compile the shared core once
set -euo pipefail
cd "$(dirname "$0")/.."

tests=false
case "${1:-}" in
"") ;;
--tests) tests=true ;;
*)
    echo "usage: $0 [--tests]" >&2
    exit 2
    ;;
esac

system_packages=()
command -v g++ >/dev/null 2>&1 || system_packages+=(g++)
if $tests; then
    command -v ca65 >/dev/null 2>&1 || system_packages+=(cc65)
    [ -f /usr/include/gtest/gtest.h ] || system_packages+=(libgtest-dev)
fi
can_install=false
[ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1 && can_install=true
# A compiler cache only saves time: installed along when packages can be installed.
if $tests && $can_install && ! command -v ccache >/dev/null 2>&1; then
    system_packages+=(ccache)
fi
if [ ${#system_packages[@]} -gt 0 ]; then
    if ! $can_install; then
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

if $tests; then
    # CMake and Ninja for the C++ tests come from PyPI, like the module's own build.
    [ -x .venv/bin/cmake ] && [ -x .venv/bin/ninja ] ||
        .venv/bin/python -m pip install -q "cmake>=3.18" ninja
    bash scripts/install-vandrel.sh .venv tools,gym,test
else
    bash scripts/install-vandrel.sh .venv tools
fi
