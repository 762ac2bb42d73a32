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

# A second run with nothing changed skips the installs: the stamp records a digest of
# every file of the working tree (tracked or new, not ignored) as of the last install.
stamp=.venv/.vandrel-installed
# (A file deleted but still tracked makes sha256sum fail; the digest then differs, as it should.)
digest="$({ git ls-files -co --exclude-standard -z 2>/dev/null | xargs -0 -r sha256sum 2>/dev/null || true
            .venv/bin/python --version; } | sha256sum | cut -d' ' -f1)"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$digest" ] && .venv/bin/python -c 'import vandrel, vandrel_gym' 2>/dev/null; then
    echo "== vandrel is installed and up to date"
    exit 0
fi
rm -f "$stamp"
.venv/bin/python -m pip install -q --upgrade pip
# CMake and Ninja for the C++ tests come from PyPI, like the module's own build.
.venv/bin/python -m pip install -q "cmake>=3.18" ninja
echo "== building and installing vandrel"
.venv/bin/python -m pip install -q ".[tools,gym,test]"
echo "$digest" > "$stamp"
