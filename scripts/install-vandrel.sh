#!/usr/bin/env bash
# Installs vandrel with the extras EXTRAS (comma-separated) into the virtual environment
# VENV (its pip must work), unless nothing changed since an install there that took at
# least those extras: a stamp in VENV records a digest of every file of the working
# tree (tracked or new, not ignored) and the interpreter, then the extras.
#
# The module is built in build/<wheel tag> (pyproject.toml) and that build is kept: pip
# builds without isolation, with the build tools installed into VENV, so that a later
# install (another extra, a changed file) rebuilds only what changed. An isolated build
# runs in a new temporary environment each time, and scikit-build-core starts its build
# folder afresh then. VENV/pip.conf makes a plain `pip install ".[extra]"` of VENV's pip
# build the same way.
# Usage: install-vandrel.sh VENV EXTRAS
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -ne 2 ]; then
    echo "usage: $0 VENV EXTRAS   (EXTRAS: e.g. tools or tools,gym,test)" >&2
    exit 2
fi
venv="$1"
extras="$2"
stamp="$venv/.vandrel-installed"
# (A file deleted but still tracked makes sha256sum fail; the digest then differs, as it should.)
digest="$({ git ls-files -co --exclude-standard -z 2>/dev/null | xargs -0 -r sha256sum 2>/dev/null || true
            "$venv/bin/python" --version; } | sha256sum | cut -d' ' -f1)"

# True when the stamp names this digest and every extra asked for.
up_to_date() {
    [ -f "$stamp" ] || return 1
    local stamped_digest stamped_extras extra
    read -r stamped_digest stamped_extras <"$stamp" || return 1
    [ "$stamped_digest" = "$digest" ] || return 1
    for extra in ${extras//,/ }; do
        [[ ",$stamped_extras," == *",$extra,"* ]] || return 1
    done
    "$venv/bin/python" -c 'import vandrel, vandrel_tools' 2>/dev/null
}

# Writes VENV/pip.conf so that VENV's pip builds without isolation, and checks that it
# does: in pip's configuration files "no-build-isolation = false" turns isolation off
# (the value is that of the option's opposite). When the check cannot be made, or says
# otherwise, there is no pip.conf and only this script keeps the build.
no_isolation() {
    local conf="$1/pip.conf"
    if [ -f "$conf" ] && ! grep -q "written by scripts/install-vandrel.sh" "$conf"; then
        return 0    # the user's own
    fi
    printf '%s\n' "# written by scripts/install-vandrel.sh: pip keeps vandrel's build folder" \
        "# (delete this file to build every package in an isolated environment again)" \
        "[install]" "no-build-isolation = false" >"$conf"
    "$1/bin/python" - <<'PY' 2>/dev/null || rm -f "$conf"
from pip._internal.commands import create_command
options, _ = create_command("install").parse_args([])
assert not options.build_isolation
PY
}

if up_to_date; then
    echo "== vandrel is installed in $venv and up to date"
    exit 0
fi
# An earlier install's extras stay installed, so the stamp keeps naming them.
if [ -f "$stamp" ]; then
    read -r _ stamped_extras <"$stamp" || true
    [ -z "${stamped_extras:-}" ] || extras="$(printf '%s\n' ${extras//,/ } ${stamped_extras//,/ } |
        sort -u | paste -sd, -)"
fi
rm -f "$stamp"
echo "== building and installing vandrel[$extras] into $venv"
# With a compiler cache, the builds for each Python version (and each clone: paths are
# taken relative to the working tree) compile the core once.
if command -v ccache >/dev/null 2>&1; then
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$PWD"
fi
# The build tools pyproject.toml names, and what the build backend asks for on top (CMake
# and Ninja when the machine has none recent enough).
mapfile -t build_requires < <("$venv/bin/python" -c '
import tomllib
with open("pyproject.toml", "rb") as f:
    print("\n".join(tomllib.load(f)["build-system"]["requires"]))')
"$venv/bin/python" -m pip install -q "${build_requires[@]}"
mapfile -t backend_needs < <("$venv/bin/python" -c '
from scikit_build_core.build import get_requires_for_build_wheel
print("\n".join(get_requires_for_build_wheel()))' | grep .)
[ ${#backend_needs[@]} -eq 0 ] || "$venv/bin/python" -m pip install -q "${backend_needs[@]}"
no_isolation "$venv"
"$venv/bin/python" -m pip install -q --no-build-isolation ".[$extras]"
echo "$digest $extras" >"$stamp"
