#!/usr/bin/env bash
# The main job: set up, then run a cartridge for a few seconds of emulated time and
# report frames and cycles. Pass a cartridge path to run your own.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
exec .venv/bin/python tools/run_frames.py "$@"
