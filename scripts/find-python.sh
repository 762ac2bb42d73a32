#!/usr/bin/env bash
# Prints the path of a CPython interpreter of the version given (default 3.12):
# $VANDREL_PYTHON if set (3.12 only), else pythonX.Y on PATH, else one installed by pyenv,
# else python3 if it is that version.
set -euo pipefail
version="${1:-3.12}"

is_wanted_cpython() {
    "$1" -c "import sys; sys.exit(0 if sys.implementation.name == 'cpython' and '%d.%d' % sys.version_info[:2] == '$version' else 1)" \
        >/dev/null 2>&1
}

candidates=()
[ -n "${VANDREL_PYTHON:-}" ] && [ "$version" = 3.12 ] && candidates+=("$VANDREL_PYTHON")
command -v "python$version" >/dev/null 2>&1 && candidates+=("$(command -v "python$version")")
pyenv_root="${PYENV_ROOT:-}"
if [ -z "$pyenv_root" ] && command -v pyenv >/dev/null 2>&1; then pyenv_root="$(pyenv root)"; fi
[ -z "$pyenv_root" ] && pyenv_root="$HOME/.pyenv"
for python in "$pyenv_root"/versions/"$version"*/bin/python"$version"; do
    [ -x "$python" ] && candidates+=("$python")
done
command -v python3 >/dev/null 2>&1 && candidates+=("$(command -v python3)")

for python in "${candidates[@]}"; do
    if is_wanted_cpython "$python"; then
        echo "$python"
        exit 0
    fi
done
echo "error: vandrel needs CPython $version, and none was found (looked at \$VANDREL_PYTHON," \
     "python$version on PATH, pyenv versions under $pyenv_root, and python3)." \
     "Install it (for example 'pyenv install $version') or point VANDREL_PYTHON at one." >&2
exit 1
