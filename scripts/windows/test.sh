#!/usr/bin/env bash
# `make test-windows`: builds the test suite for 64-bit Windows in the same
# folder as `make windows` and runs it with CTest, each test executable under
# Wine (scripts/windows/wine-run.sh), on an Xvfb display of its own for
# anything that opens a real window; widget tests draw offscreen as on Linux.
# Prints the counts of passed, skipped and failed tests and why tests skipped.
#
#   test.sh [CTEST ARGUMENT...]     e.g. -R window. to run some tests only
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
. "$here/configure.sh"
. "$here/wine-lib.sh"

cmake --build "$build" -j 2
ensure_wine_prefix

trap stop_private_display EXIT
start_private_display
log=$build/Testing/windows-test.log
mkdir -p "$(dirname "$log")"
status=0
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2 "$@") 2>&1 | tee "$log" || status=$?

# The counts, from CTest's line per test, and the skip reasons gtest printed.
awk '/^ *[0-9]+\/[0-9]+ Test +#[0-9]+:/ {
       if ($0 ~ /Passed/) p++; else if ($0 ~ /Skipped/) s++; else f++ }
     END { printf "test-windows: %d passed, %d skipped, %d failed\n", p, s, f }' "$log"
last=$build/Testing/Temporary/LastTest.log
if [ -f "$last" ] && grep -q ': Skipped$' "$last"; then
  echo "test-windows: why tests skipped (count, reason):"
  tr -d '\r' <"$last" | awk '/: Skipped$/ { getline r; print r }' | sort | uniq -c | sort -rn | sed 's/^/  /'
fi
exit "$status"
