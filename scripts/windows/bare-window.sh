#!/usr/bin/env bash
# Builds the bare Korean Qt window (bench/bare_window/bare_window.cpp) against
# the cached Windows toolchain, puts the DLLs it needs beside it, and starts
# it under Wine on a private Xvfb display: it proves the toolchain and gives
# the baseline start-up time (launch until its window exists) that
# Kaldoria's own start-up is compared with.
#
#   bare-window.sh [--screenshot FILE] [--warm-runs N]
#                  [--compare FOLDER [--compare-screenshot FILE]]
#
# With --compare, Kaldoria's application folder (a copy of it, so that its
# book and temp.bmp stay as they were) is started the same way, cold and
# warm, launches of the two programs taking turns, and the ratio of the
# medians is printed: an absolute time under Wine says little.
#
# "cold" is a launch with no Wine server running for the prefix, "warm" one
# right after another, whose server is still up. The Wine prefix lives in the toolchain cache
# (made once, about 20 s).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
shot="" warm_runs=3 compare="" compare_shot=""
while [ $# -gt 0 ]; do
  case $1 in
    --screenshot) shot=$(realpath -m "$2"); shift 2 ;;
    --warm-runs) warm_runs=$2; shift 2 ;;
    --compare) compare=$(realpath "$2"); shift 2 ;;
    --compare-screenshot) compare_shot=$(realpath -m "$2"); shift 2 ;;
    *) echo "usage: $0 [--screenshot FILE] [--warm-runs N] [--compare FOLDER [--compare-screenshot FILE]]" >&2; exit 2 ;;
  esac
done
if [ -n "$compare" ] && [ ! -f "$compare/kaldoria.exe" ]; then
  echo "bare-window: $compare/kaldoria.exe is missing; run make windows first" >&2
  exit 2
fi

prefix=${KALDORIA_WINDOWS_PREFIX:-$("$here/toolchain.sh" --print-prefix)}
build=$repo/build-windows/bare
cmake -S "$repo/bench/bare_window" -B "$build" --fresh -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" -DKALDORIA_WINDOWS_PREFIX="$prefix" >/dev/null
cmake --build "$build" -j 2
rm -rf "$build/dist"
echo "bare-window: DLLs beside the program:"
"$here/deploy.sh" "$prefix" "$build/dist" "$build/bare_window.exe" | sed 's/^/  /'
"$(command -v x86_64-w64-mingw32-strip)" "$build/dist/bare_window.exe"
echo "bare-window: $(du -sh "$build/dist" | cut -f1) in $build/dist"

export WINEPREFIX=${KALDORIA_WINEPREFIX:-${KALDORIA_WINDOWS_CACHE:-$HOME/.cache/kaldoria-windows}/wineprefix}
export WINEDEBUG=-all WINEARCH=win64 LANG=C.UTF-8
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "bare-window: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "bare-window: making the Wine prefix $WINEPREFIX"
  wine wineboot -i >/dev/null 2>&1
  wineserver -w
fi

bare_exe=$build/dist/bare_window.exe
if [ -n "$compare" ]; then
  cp -r "$compare" "$work/Kaldoria"
  kaldoria_exe=$work/Kaldoria/kaldoria.exe
fi

now() { date +%s.%N; }
# Starts the program ($1, the bare window unless given), waits until a window
# of its process exists, leaves the seconds that took in $elapsed, the window
# id in $window and the pid in $pid.
launch() {
  local t0 t1 exe=${1:-$bare_exe}
  t0=$(now)
  (cd "$(dirname "$exe")" && exec wine "$exe") >>"$work/wine.log" 2>&1 &
  pid=$!
  window=""
  while [ -z "$window" ]; do
    kill -0 "$pid" 2>/dev/null || { echo "bare-window: the program ended; see below" >&2; cat "$work/wine.log" >&2; exit 1; }
    window=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n1 || true)
    [ -n "$window" ] || sleep 0.02
  done
  t1=$(now)
  elapsed=$(echo "$t0 $t1" | awk '{printf "%.2f", $2 - $1}')
}
close() {
  # No window manager: Alt+F4 closes a Qt window (xdotool windowclose does not end it).
  xdotool key --window "$window" alt+F4 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
launch
cold=$elapsed
close
echo "bare-window: cold start ${cold} s"
# Warm: the next launches come within Wine's 3 s linger, so they find the
# server of the previous run still up, as on a desktop that ran a program.
warm=()
for i in $(seq "$warm_runs"); do
  launch
  warm+=("$elapsed")
  if [ "$i" -eq 1 ] && [ -n "$shot" ]; then
    sleep 1.5
    import -window root "$shot"
    echo "bare-window: screenshot $shot"
  fi
  close
done
echo "bare-window: first window after launch: cold ${cold} s, warm ${warm[*]} s"
[ -n "$compare" ] || exit 0

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
ratio() { echo "$1 $2" | awk '{printf "%.2f", $1 / $2}'; }
# Captured again until two captures in a row agree, so that the window has
# finished painting.
capture() {
  local previous="" i
  for i in $(seq 50); do
    import -window "$window" "$work/shot-$i.ppm"
    if [ -n "$previous" ] && cmp -s "$previous" "$work/shot-$i.ppm"; then break; fi
    previous="$work/shot-$i.ppm"
    sleep 0.2
  done
  import -window "$window" -strip "$1"
}

cold_bare=() cold_kaldoria=()
for _ in 1 2 3; do
  for exe in "$bare_exe" "$kaldoria_exe"; do
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    launch "$exe"
    if [ "$exe" = "$bare_exe" ]; then cold_bare+=("$elapsed"); else cold_kaldoria+=("$elapsed"); fi
    close
  done
done
warm_bare=() warm_kaldoria=()
for i in $(seq "$warm_runs"); do
  launch "$bare_exe"
  warm_bare+=("$elapsed")
  close
  launch "$kaldoria_exe"
  warm_kaldoria+=("$elapsed")
  if [ "$i" -eq 1 ] && [ -n "$compare_shot" ]; then
    capture "$compare_shot"
    echo "bare-window: Kaldoria's window in $compare_shot"
  fi
  close
done
cb=$(median "${cold_bare[@]}") ck=$(median "${cold_kaldoria[@]}")
wb=$(median "${warm_bare[@]}") wk=$(median "${warm_kaldoria[@]}")
echo "bare-window: cold, bare ${cold_bare[*]} s; Kaldoria ${cold_kaldoria[*]} s"
echo "bare-window: warm, bare ${warm_bare[*]} s; Kaldoria ${warm_kaldoria[*]} s"
echo "bare-window: Kaldoria's start-up against the bare window (medians): cold $(ratio "$ck" "$cb") ($ck / $cb s), warm $(ratio "$wk" "$wb") ($wk / $wb s)"
