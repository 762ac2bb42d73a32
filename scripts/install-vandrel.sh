#!/usr/bin/env bash
# Installs vandrel with the extras EXTRAS (comma-separated) into the virtual environment
# VENV (its pip must work), unless nothing changed since an install there that took at
# least those extras: a stamp in VENV records a digest of every file of the working
# tree (tracked or new, not ignored) and the interpreter, then the extras.
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
"$venv/bin/python" -m pip install -q ".[$extras]"
echo "$digest $extras" >"$stamp"
