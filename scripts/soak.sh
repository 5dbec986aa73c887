#!/usr/bin/env bash
# Crash safety of the save path: a child process saves pictures over and over
# (reliability_driver soak) and is killed with SIGKILL at a random moment;
# after every kill the database must pass PRAGMA integrity_check and every
# name must still have exactly one complete picture, its old one or its new
# one (reliability_driver check).
#   scripts/soak.sh [--kills N] [--driver PATH]      N defaults to 200
set -euo pipefail
cd "$(dirname "$0")/.."

kills=200
driver=${DRIVER:-build/tests/reliability/reliability_driver}
while [ $# -gt 0 ]; do
  case "$1" in
    --kills) kills=$2; shift ;;
    --driver) driver=$2; shift ;;
    *) echo "usage: $0 [--kills N] [--driver PATH]" >&2; exit 2 ;;
  esac
  shift
done
[ -x "$driver" ] || { echo "no driver at $driver (build the target reliability_driver)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kaldoria-soak-XXXXXX")
trap 'rm -rf "$work"' EXIT
db=$work/dojang.mdb
log=$work/saves.log
names=10
"$driver" seed "$db" "$names"
: >"$log"

for ((k = 1; k <= kills; k++)); do
  "$driver" soak "$db" "$work" "$k" "$log" 2>"$work/soak.err" &
  pid=$!
  # Anywhere from before the first save to well into a run of them.
  sleep "0.$(printf '%03d' $((RANDOM % 1000)))"
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "kill $k: the saving process had already ended:" >&2
    cat "$work/soak.err" >&2
    exit 1
  fi
  kill -KILL "$pid"
  wait "$pid" 2>/dev/null || true
  if ! "$driver" check "$db" "$names" "$log"; then
    echo "kill $k: the database failed the check" >&2
    exit 1
  fi
done
saves=$(grep -c '^done' "$log" || true)
echo "soak: $kills kills, $saves completed saves in between, every check passed"
