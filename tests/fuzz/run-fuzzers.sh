#!/bin/bash
# Builds the libFuzzer targets with clang, ASan and UBSan, and runs each one
# for a bounded time. Any crash, sanitizer report or broken property fails.
#
#   tests/fuzz/run-fuzzers.sh [build dir]     (default /work/main/build/fuzz)
#   FUZZ_SECONDS=60 tests/fuzz/run-fuzzers.sh (time per target, default 20)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-/work/main/build/fuzz}
seconds=${FUZZ_SECONDS:-20}
cmake=${CMAKE:-cmake}

for tool in clang clang++; do
    command -v "$tool" >/dev/null || { echo "run-fuzzers: $tool not installed (tools/packages-test.txt)" >&2; exit 1; }
done

mkdir -p "$build"
CC=clang CXX=clang++ "$cmake" -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 \
    || { cat "$build/configure.log" >&2; exit 1; }
"$cmake" --build "$build" -j2 >"$build/build.log" 2>&1 || { cat "$build/build.log" >&2; exit 1; }

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

# target and its -max_len: short texts for the parsers, longer streams for the
# byte logic (the line target also builds multi-megabyte lines itself).
targets=(
    "fuzz_serialsettings 256"
    "fuzz_numbertext 128"
    "fuzz_paritymarks 8192"
    "fuzz_linelogic 65536"
    "fuzz_dataoptions 4096"
)

failed=0
for entry in "${targets[@]}"; do
    read -r name maxlen <<<"$entry"
    # New inputs go to the build tree; the seeds in the source tree stay as they are.
    corpus="$build/corpus/$name"
    artifacts="$build/artifacts/$name"
    mkdir -p "$corpus" "$artifacts"
    log="$build/$name.log"
    start=$SECONDS
    if "$build/$name" -max_total_time="$seconds" -max_len="$maxlen" -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$here/corpus/$name" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        echo "$name: ok, ${runs:-?} runs in $((SECONDS - start)) s"
    else
        echo "$name: FAILED after $((SECONDS - start)) s; log $log" >&2
        tail -n 40 "$log" >&2
        ls "$artifacts" >&2
        failed=1
    fi
done
exit $failed
