#!/usr/bin/env bash
# Builds the libFuzzer harnesses (build/fuzz, clang with ASan and UBSan) and runs one of
# them for SECONDS seconds, then prints how many inputs it ran.
#
#   bash scripts/fuzz.sh TARGET SECONDS     TARGET: cartridge_image, state_record, save_folder,
#                                                   console_snapshot
#
# The run starts from the seeds the build wrote (build/fuzz/fuzz/seeds/TARGET), the
# regression inputs (fuzz/regressions/TARGET), the shared games when ../shared/roms/games
# exists (cartridge targets), and the inputs earlier runs kept (build/fuzz/corpus/TARGET,
# where new inputs go). A crash leaves its input in build/fuzz/crashes/TARGET/: once the
# fault is understood, copy it to fuzz/regressions/TARGET/, where the normal test build
# replays it (ctest -R fuzz.replay).
set -euo pipefail
cd "$(dirname "$0")/.."

targets="cartridge_image state_record save_folder console_snapshot"
if [ $# -ne 2 ] || [[ " $targets " != *" $1 "* ]] || ! [[ "$2" =~ ^[0-9]+$ ]]; then
    echo "usage: $0 TARGET SECONDS   (TARGET: ${targets// /, })" >&2
    exit 2
fi
target=$1
seconds=$2

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

corpus=build/fuzz/corpus/$target
crashes=build/fuzz/crashes/$target
mkdir -p "$corpus" "$crashes"
inputs=("$corpus" build/fuzz/fuzz/seeds/"$target" fuzz/regressions/"$target")
if [ "$target" = cartridge_image ] && [ -d ../shared/roms/games ]; then
    inputs+=(../shared/roms/games)
fi

echo "== fuzzing $target for $seconds s"
log=build/fuzz/$target.log
status=0
build/fuzz/fuzz/vandrel_fuzz_"$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
    -artifact_prefix="$crashes/" "${inputs[@]}" >"$log" 2>&1 || status=$?
executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
if [ $status -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "== $target FAILED after ${executions:-?} executions; the input is in $crashes/" >&2
    exit $status
fi
echo "== $target: ${executions:-?} executions in $seconds s (${speed:-?} per second)"
