#!/usr/bin/env bash
# The save path under load and at size, with timings:
#   two processes saving 500 pictures each into one database at once, a
#   quarter of them under ten names both use (no save lost, none refused as
#   locked, one row per name), then start-up and saves on a database of
#   100,000 rows and on one holding a 256 MiB picture, each against the
#   sqlite3 shell doing the same replace.
#   scripts/stress.sh [--saves N] [--rows N] [--mib N] [--driver PATH]
set -euo pipefail
cd "$(dirname "$0")/.."

saves=500 rows=100000 mib=256
driver=${DRIVER:-build/tests/reliability/reliability_driver}
while [ $# -gt 0 ]; do
  case "$1" in
    --saves) saves=$2; shift ;;
    --rows) rows=$2; shift ;;
    --mib) mib=$2; shift ;;
    --driver) driver=$2; shift ;;
    *) echo "usage: $0 [--saves N] [--rows N] [--mib N] [--driver PATH]" >&2; exit 2 ;;
  esac
  shift
done
[ -x "$driver" ] || { echo "no driver at $driver (build the target reliability_driver)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kaldoria-stress-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$driver" load-test "$work" "$saves"
"$driver" large "$work" "$rows" "$mib"
