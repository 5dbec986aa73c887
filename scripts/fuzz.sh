#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each one:
#   scripts/fuzz.sh                 1,000,000 executions per target
#   scripts/fuzz.sh --runs N        N executions per target
#   scripts/fuzz.sh --brief         the seed corpus replayed, then 20,000 executions (CI)
#   scripts/fuzz.sh ... bmp db      only the targets named
# Found inputs go to $BUILD/corpus-<target>; crashes, leaks and hangs to
# $BUILD/artifacts-<target>/ and make the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

BUILD=${BUILD_FUZZ:-$root/build-fuzz}
runs=1000000
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --brief) runs=20000 ;;
    --runs) runs=$2; shift ;;
    bmp|db|name) targets+=("$1") ;;
    *) echo "usage: $0 [--brief | --runs N] [bmp] [db] [name]" >&2; exit 2 ;;
  esac
  shift
done
[ ${#targets[@]} -gt 0 ] || targets=(bmp db name)

if [ ! -f "$BUILD/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$BUILD" -G Ninja \
    -DKALDORIA_SANITIZE=ON -DKALDORIA_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$BUILD" -j "${JOBS:-$(nproc)}" --target $(printf 'fuzz_%s ' "${targets[@]}")

export QT_QPA_PLATFORM=offscreen
# Leaks inside the uninstrumented Qt and fontconfig libraries only.
export LSAN_OPTIONS="suppressions=$root/tests/reliability/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

declare -A max_len=([bmp]=4096 [db]=16384 [name]=4096)
status=0
for t in "${targets[@]}"; do
  work="$BUILD/corpus-$t"
  artifacts="$BUILD/artifacts-$t"
  log="$BUILD/fuzz-$t.log"
  mkdir -p "$work" "$artifacts"
  started=$(date -u +%FT%TZ)
  set +e
  "$BUILD/fuzz/fuzz_$t" "$work" "$root/fuzz/corpus/$t" \
    -runs="$runs" -max_len="${max_len[$t]}" -timeout=25 -rss_limit_mb=2560 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1
  rc=$?
  set -e
  done_runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
  found=$(find "$artifacts" -type f | wc -l)
  echo "fuzz_$t: started $started, $done_runs executions, exit $rc, $found crash/leak/timeout artifacts (log $log)"
  if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
    status=1
    tail -n 40 "$log" >&2
  fi
done
exit $status
