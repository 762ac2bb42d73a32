#!/usr/bin/env bash
# The main job: set everything up, then run the demo cartridge (or the cartridge given)
# through the recorder, writing a picture, an animation and the sound into out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mkdir -p out
# The outputs are named after the cartridge: out/demo.* for the demo, out/game.* for game.nes,
# wherever it stands among the recorder's options (the recorder's own parser finds it).
name="$(.venv/bin/python -c 'import sys; from vandrel_tools.recorder import output_name
print(output_name(sys.argv[1:]))' "$@")"
.venv/bin/vandrel-record --frames 600 --png "out/$name.png" --gif "out/$name.gif" --wav "out/$name.wav" "$@"
echo "Written: $PWD/out/$name.png (last frame), $PWD/out/$name.gif (the run), $PWD/out/$name.wav (the sound)"
