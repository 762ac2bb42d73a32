#!/usr/bin/env bash
# Builds the libFuzzer harnesses (build/fuzz, clang with ASan and UBSan) and runs one of
# them for SECONDS seconds, then prints how many inputs it ran.
#
#   bash scripts/fuzz.sh TARGET SECONDS     TARGET: cartridge_image, state_record, save_folder,
#                                                   console_snapshot, integration_folder
#
# The run starts from the seeds the build wrote (build/fuzz/fuzz/seeds/TARGET), the
# regression inputs (fuzz/regressions/TARGET), the shared games when ../shared/roms/games
# exists (cartridge targets), and the inputs earlier runs kept (build/fuzz/corpus/TARGET,
# where new inputs go). A crash leaves its input in build/fuzz/crashes/TARGET/: once the
# fault is understood, copy it to fuzz/regressions/TARGET/, where the normal test build
# replays it (ctest -R fuzz.replay).
#
# integration_folder is a Python harness (fuzz/integration_folder.py): it runs under
# atheris, libFuzzer for Python (installed into .venv when missing), against the vandrel
# installed in .venv (brought up to date first), and writes its own seeds; the Python
# tests replay its regressions (tests/python/test_fuzz_replay.py).
set -euo pipefail
cd "$(dirname "$0")/.."

targets="cartridge_image state_record save_folder console_snapshot integration_folder"
python_targets="integration_folder"
if [ $# -ne 2 ] || [[ " $targets " != *" $1 "* ]] || ! [[ "$2" =~ ^[0-9]+$ ]]; then
    echo "usage: $0 TARGET SECONDS   (TARGET: ${targets// /, })" >&2
    exit 2
fi
target=$1
seconds=$2

# Runs the harness and prints how many inputs it ran, or the end of its log and the
# place of the crashing input.
fuzz() {
    local corpus=build/fuzz/corpus/$target crashes=build/fuzz/crashes/$target
    local log=build/fuzz/$target.log status=0 executions speed
    mkdir -p "$corpus" "$crashes"
    echo "== fuzzing $target for $seconds s"
    "$@" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
        -artifact_prefix="$crashes/" "$corpus" "${inputs[@]}" >"$log" 2>&1 || status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    if [ $status -ne 0 ]; then
        tail -n 60 "$log" >&2
        echo "== $target FAILED after ${executions:-?} executions; the input is in $crashes/" >&2
        exit $status
    fi
    echo "== $target: ${executions:-?} executions in $seconds s (${speed:-?} per second)"
}

if [[ " $python_targets " == *" $target "* ]]; then
    [ -x .venv/bin/python ] || bash scripts/setup.sh --tests
    bash scripts/install-vandrel.sh .venv gym
    .venv/bin/python -c 'import atheris' 2>/dev/null || {
        echo "== installing atheris"
        .venv/bin/python -m pip install -q atheris
    }
    seeds=build/fuzz/seeds/$target
    rm -rf "$seeds"
    .venv/bin/python fuzz/"$target".py --write-seeds "$seeds"
    inputs=("$seeds" fuzz/regressions/"$target")
    dictionary=()
    [ ! -f fuzz/"$target".dict ] || dictionary=(-dict=fuzz/"$target".dict)
    fuzz .venv/bin/python fuzz/"$target".py "${dictionary[@]}"
    exit 0
fi

# clang and its libFuzzer runtime come from Debian's packages (the default LLVM version).
fuzzer_runtime() {
    command -v clang++ >/dev/null 2>&1 &&
        compgen -G "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-*.a" >/dev/null
}
if ! fuzzer_runtime; then
    if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
        echo "error: please install clang and libFuzzer first (Debian: clang libclang-rt-dev)" >&2
        exit 1
    fi
    echo "== installing clang libclang-rt-dev"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-dev >/dev/null
fi
[ -x .venv/bin/cmake ] || bash scripts/setup.sh --tests

echo "== building the fuzzers"
.venv/bin/cmake -S . -B build/fuzz -G Ninja -DCMAKE_MAKE_PROGRAM="$PWD/.venv/bin/ninja" \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANDREL_BUILD_FUZZERS=ON \
    -DVANDREL_WERROR=ON >/dev/null
.venv/bin/cmake --build build/fuzz --target "vandrel_fuzz_$target"

inputs=(build/fuzz/fuzz/seeds/"$target" fuzz/regressions/"$target")
if [ "$target" = cartridge_image ] && [ -d ../shared/roms/games ]; then
    inputs+=(../shared/roms/games)
fi
fuzz build/fuzz/fuzz/vandrel_fuzz_"$target"
