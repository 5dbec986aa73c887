#!/usr/bin/env bash
# The Windows build's figures under Wine, each against a baseline built with
# the same toolchain and run the same way, so that a regression on Windows
# shows even though an absolute time under Wine says little:
#   - the stamp window's start-up on books of 1,000 and ROWS rows against the
#     bare Korean Qt window (bare-window.sh --compare);
#   - kaldoria-db.exe list of the ROWS-row book against sqlite3.exe reading
#     the same columns;
#   - kaldoria-db.exe import of a 64 MiB bitmap against sqlite3.exe's
#     INSERT ... readfile() into a fresh book of the same kind.
# Every process is a fresh Wine process; the two sides of a figure take turns
# and its ratio is of their medians. Needs the application folder (make
# windows).
#
#   bench.sh [--rows N] [--runs N] [--no-startup]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
rows=100000 runs=5 startup=1
while [ $# -gt 0 ]; do
  case $1 in
    --rows) rows=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --no-startup) startup=0; shift ;;
    *) echo "usage: $0 [--rows N] [--runs N] [--no-startup]" >&2; exit 2 ;;
  esac
done
app=$repo/build-windows/Kaldoria
linux_tool=$repo/build/kaldoria-db
[ -f "$app/kaldoria-db.exe" ] || { echo "bench: $app/kaldoria-db.exe is missing; run make windows first" >&2; exit 2; }
[ -x "$linux_tool" ] || { echo "bench: $linux_tool is missing; run make build first" >&2; exit 2; }
prefix=${KALDORIA_WINDOWS_PREFIX:-$("$here/toolchain.sh" --print-prefix)}
# shellcheck source=wine-lib.sh
. "$here/wine-lib.sh"

work=$(mktemp -d)
cleanup() {
  wineserver -k 2>/dev/null || true
  stop_private_display
  rm -rf "$work"
}
trap cleanup EXIT

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'); load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1); $(wine --version)"

# A 16 × 16 bitmap for every row, "도장" from the sample, made by the Linux
# tool and the shell: the file is the same on either system.
bitmap=$(convert -size 16x16 xc:'#c03020' -type truecolor bmp3:- | od -An -v -tx1 | tr -d ' \n')
book() {
  local path=$1 n=$2
  "$linux_tool" create "$path" --sample >/dev/null
  sqlite3 "$path" "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < $n)
                   INSERT INTO pic_list (pic_name, pic) SELECT 'stamp ' || i, X'$bitmap' FROM c"
}

[ "$startup" = 1 ] && echo && echo "== start-up (bare-window.sh --compare; cold = no Wine server up, warm = one still up)"
for n in $([ "$startup" = 1 ] && echo 1000 "$rows"); do
  rm -rf "$work/app"
  cp -r "$app" "$work/app"
  rm -f "$work/app/dojang.mdb"
  book "$work/app/dojang.mdb" "$n"
  echo "-- $n rows"
  "$here/bare-window.sh" --compare "$work/app" --warm-runs "$runs" | grep -E 'cold,|warm,|against'
done
rm -rf "$work/app"

ensure_wine_prefix
start_private_display
# One server kept up for the prefix, as on a desktop where programs have run.
wineserver -p
windows() { echo "Z:${1//\//\\}"; }
cp "$prefix/bin/sqlite3.exe" "$app/libsqlite3-0.dll" "$work/"
sqlite3_exe=$work/sqlite3.exe
now() { date +%s.%N; }
# Runs a Windows program with its output thrown away; leaves the seconds in $took.
timed() {
  local t0 t1
  t0=$(now)
  wine "$@" >"$work/out.txt" 2>>"$work/wine.log" || { echo "bench: $* failed" >&2; tail "$work/wine.log" >&2; exit 1; }
  t1=$(now)
  took=$(echo "$t0 $t1" | awk '{printf "%.4f", $2 - $1}')
}
# Both sides read every row: the output has the lines it should.
lines() {
  local n; n=$(wc -l <"$work/out.txt")
  [ "$n" -eq "$1" ] || { echo "bench: $n lines of output where $1 were due" >&2; exit 1; }
}
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
report() {  # what, ours..., --, engine...
  local what=$1; shift
  local ours=() engine=() side=ours
  for v in "$@"; do
    if [ "$v" = -- ]; then side=engine; continue; fi
    if [ $side = ours ]; then ours+=("$v"); else engine+=("$v"); fi
  done
  local o e; o=$(median "${ours[@]}") e=$(median "${engine[@]}")
  printf '%-28s ours %7.3f s  sqlite3.exe %7.3f s  ratio %5.2f   (ours %s; sqlite3.exe %s)\n' \
    "$what" "$o" "$e" "$(echo "$o $e" | awk '{print $1 / $2}')" "${ours[*]}" "${engine[*]}"
}

echo
echo "== kaldoria-db.exe against sqlite3.exe (fresh Wine processes, a Wine server up; medians of $runs)"
timed "$sqlite3_exe" -version  # the first start loads the DLLs into the page cache
book "$work/big.mdb" "$rows"
big=$(windows "$work/big.mdb")
ours=() engine=()
for _ in $(seq "$runs"); do
  timed "$app/kaldoria-db.exe" list "$big"; ours+=("$took")
  lines $((rows + 2))  # the sample's "도장", the rows and the count
  timed "$sqlite3_exe" "$big" "SELECT pic_name, length(pic), substr(pic, 1, 54) FROM pic_list"; engine+=("$took")
  lines $((rows + 1))
done
report "list, $rows rows" "${ours[@]}" -- "${engine[@]}"
ours=() engine=()
for _ in $(seq "$runs"); do
  timed "$app/kaldoria-db.exe" --help; ours+=("$took")
  timed "$sqlite3_exe" -version; engine+=("$took")
done
report "start alone (--help, -version)" "${ours[@]}" -- "${engine[@]}"

# 64 MiB of random pixels: 4736 × 4736 at 24 bits.
head -c $((4736 * 4736 * 3)) /dev/urandom >"$work/pixels"
convert -size 4736x4736 -depth 8 rgb:"$work/pixels" -type truecolor bmp3:"$work/64.bmp"
rm -f "$work/pixels"
picture=$(windows "$work/64.bmp")
ours=() engine=()
for i in $(seq "$runs"); do
  rm -f "$work/in-$i.mdb" "$work/shell-$i.mdb"
  "$linux_tool" create "$work/in-$i.mdb" >/dev/null
  "$linux_tool" create "$work/shell-$i.mdb" >/dev/null
  sync
  timed "$app/kaldoria-db.exe" import "$(windows "$work/in-$i.mdb")" x "$picture"; ours+=("$took")
  sync
  timed "$sqlite3_exe" "$(windows "$work/shell-$i.mdb")" "INSERT INTO pic_list (pic_name, pic) VALUES ('x', readfile('$picture'))"
  engine+=("$took")
  # Both stored the very bytes of the file.
  for side in in shell; do
    [ "$(sqlite3 "$work/$side-$i.mdb" "SELECT length(pic) FROM pic_list WHERE pic_name = 'x'")" = "$(stat -c %s "$work/64.bmp")" ] ||
      { echo "bench: the $side book's picture has the wrong length" >&2; exit 1; }
  done
  rm -f "$work/in-$i.mdb" "$work/shell-$i.mdb"
done
report "import, 64 MiB bitmap" "${ours[@]}" -- "${engine[@]}"
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
