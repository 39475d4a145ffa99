#!/bin/sh
# Runs every benchmark and prints each figure beside its anchor.
#   bench/run.sh [bench.py options, e.g. --only anchors]
# Without a DISPLAY it starts a private X session (Xvfb + openbox) itself.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

if [ -z "${PARVELO_BENCH_BUILT:-}" ]; then
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
    cmake --build "$build" -j2 --target vinstrument keyrecorder xdo_anchor
    # Parvelo itself: measured when it builds, reported as not measured if not.
    cmake --build "$build" -j2 --target parvelo >"$build/bench-parvelo-build.log" 2>&1 ||
        echo "run.sh: build/parvelo did not build (see $build/bench-parvelo-build.log)" >&2
    PARVELO_BENCH_BUILT=1
    export PARVELO_BENCH_BUILT
fi

if [ -z "${DISPLAY:-}" ]; then
    exec "$root/tests/e2e/xsession.sh" "$0" "$@"
fi
exec python3 "$root/bench/bench.py" --build "$build" "$@"
