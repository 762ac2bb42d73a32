#!/usr/bin/env bash
# Installs vandrel with its extras into the virtual environment VENV (its pip must work),
# unless nothing changed since the last install there: a stamp in VENV records a digest
# of every file of the working tree (tracked or new, not ignored) and the interpreter.
# Usage: install-vandrel.sh VENV
set -euo pipefail
cd "$(dirname "$0")/.."
venv="$1"
stamp="$venv/.vandrel-installed"
# (A file deleted but still tracked makes sha256sum fail; the digest then differs, as it should.)
digest="$({ git ls-files -co --exclude-standard -z 2>/dev/null | xargs -0 -r sha256sum 2>/dev/null || true
            "$venv/bin/python" --version; } | sha256sum | cut -d' ' -f1)"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$digest" ] &&
    "$venv/bin/python" -c 'import vandrel, vandrel_gym' 2>/dev/null; then
    echo "== vandrel is installed in $venv and up to date"
    exit 0
fi
rm -f "$stamp"
echo "== building and installing vandrel into $venv"
"$venv/bin/python" -m pip install -q ".[tools,gym,test]"
echo "$digest" > "$stamp"
