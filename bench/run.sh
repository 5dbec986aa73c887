#!/usr/bin/env bash
# Builds the benchmarks and runs the quick ones one after another (about
# three minutes in all); the figures go to standard output. bench_big, the
# big books' benchmark, is built too but takes half an hour: run it by hand
# (build/bench_big [--quick] [--linked]).
#   bench/run.sh [BUILD-FOLDER] [--quick]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
[ $# -gt 0 ] && shift
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target bench_transfer bench_startup bench_save bench_tool bench_pg bench_big bench_history bench_manager bench_stamp
echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'); load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for area in transfer startup save tool pg history manager stamp; do
    echo
    echo "== $area"
    "$build/bench_$area" "$@"
done
