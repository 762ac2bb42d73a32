#!/usr/bin/env bash
# Prints the path of a CPython 3.12 interpreter: $VANDREL_PYTHON if set, else
# python3.12 on PATH, else one installed by pyenv, else python3 if it is 3.12.
set -euo pipefail

is_cpython_312() {
    "$1" -c 'import sys; sys.exit(0 if sys.implementation.name == "cpython" and sys.version_info[:2] == (3, 12) else 1)' \
        >/dev/null 2>&1
}

candidates=()
[ -n "${VANDREL_PYTHON:-}" ] && candidates+=("$VANDREL_PYTHON")
command -v python3.12 >/dev/null 2>&1 && candidates+=("$(command -v python3.12)")
pyenv_root="${PYENV_ROOT:-}"
if [ -z "$pyenv_root" ] && command -v pyenv >/dev/null 2>&1; then pyenv_root="$(pyenv root)"; fi
[ -z "$pyenv_root" ] && pyenv_root="$HOME/.pyenv"
for python in "$pyenv_root"/versions/3.12*/bin/python3.12; do
    [ -x "$python" ] && candidates+=("$python")
done
command -v python3 >/dev/null 2>&1 && candidates+=("$(command -v python3)")

for python in "${candidates[@]}"; do
    if is_cpython_312 "$python"; then
        echo "$python"
        exit 0
    fi
done
echo "error: vandrel needs CPython 3.12, and none was found (looked at \$VANDREL_PYTHON," \
     "python3.12 on PATH, pyenv versions under $pyenv_root, and python3)." \
     "Install it (for example 'pyenv install 3.12') or point VANDREL_PYTHON at one." >&2
exit 1
