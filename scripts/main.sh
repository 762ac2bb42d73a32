#!/usr/bin/env bash
# The main job: set everything up, then run the demo cartridge (or the cartridge given)
# through the recorder, writing a picture, an animation and the sound into out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mkdir -p out
.venv/bin/vandrel-record --frames 600 --png out/demo.png --gif out/demo.gif --wav out/demo.wav "$@"
echo "Written: $PWD/out/demo.png (last frame), $PWD/out/demo.gif (the run), $PWD/out/demo.wav (the sound)"
