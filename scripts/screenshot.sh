#!/usr/bin/env bash
# Writes docs/screenshot.png and docs/screenshot-manager.png (`make
# screenshot`): the built stamp window and 도장 관리, started under a private
# Xvfb display in a temporary application folder that holds a fresh sample
# database (for the manager, with a few more stamps made by the tool),
# captured with ImageMagick's `import`. Builds nothing: run it after `make`,
# with the build folder as argument.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
out="$root/docs/screenshot.png"
for program in Xvfb xdotool import; do
  command -v "$program" >/dev/null || { echo "screenshot: $program is missing; run scripts/install-deps.sh" >&2; exit 1; }
done
for program in kaldoria kaldoria-db kaldoria-manager; do
  [ -x "$build/$program" ] || { echo "screenshot: $build/$program is missing; run make first" >&2; exit 1; }
done

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The application folder: the window and its database, nothing else.
cp "$build/kaldoria" "$work/kaldoria"
"$build/kaldoria-db" create "$work/dojang.mdb" --sample >/dev/null

# Xvfb picks a free display itself and writes its number to fd 3.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "screenshot: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

env -u QT_QPA_PLATFORM LANG=C.UTF-8 "$work/kaldoria" 2>"$work/kaldoria.log" &
pids+=($!)
window="$(timeout 30 xdotool search --sync --onlyvisible --name '^Kaldoria$' | head -n1)" || {
  echo "screenshot: the window did not appear" >&2
  cat "$work/kaldoria.log" >&2
  exit 1
}

# Captured again until two captures in a row agree, so that the window has
# finished painting.
previous=""
for i in $(seq 50); do
  import -window "$window" "$work/shot-$i.ppm"
  if [ -n "$previous" ] && cmp -s "$previous" "$work/shot-$i.ppm"; then break; fi
  previous="$work/shot-$i.ppm"
  sleep 0.2
done

mkdir -p "$(dirname "$out")"
import -window "$window" -strip "$out"
echo "screenshot: wrote $out"

# 도장 관리 on a book of a few stamps, the sample one selected.
"$build/kaldoria-db" create "$work/manager.mdb" --sample >/dev/null
i=0
for name in 김수현 결산 박영희 회사 이철수; do
  i=$((i + 1))
  convert -size 280x280 xc:'#f4f1ea' -fill none -stroke "rgb($((150 + i * 15)),30,40)" -strokewidth 14 \
    -draw "circle 140,140 140,$((30 + i * 4))" -stroke none -fill "rgb($((150 + i * 15)),30,40)" \
    -font "$(fc-match -f '%{file}' 'Noto Sans CJK KR:bold')" -pointsize 64 -gravity center -annotate +0+0 "${name:0:2}" \
    "$work/$name.png"
  "$build/kaldoria-db" import "$work/manager.mdb" "$name" "$work/$name.png" >/dev/null
done
env -u QT_QPA_PLATFORM LANG=C.UTF-8 HOME="$work" "$build/kaldoria-manager" "$work/manager.mdb" 2>"$work/manager.log" &
pids+=($!)
manager="$(timeout 30 xdotool search --sync --onlyvisible --pid "${pids[-1]}" --name '^도장 관리 — ' | head -n1)" || {
  echo "screenshot: the manager did not appear" >&2
  cat "$work/manager.log" >&2
  exit 1
}
xdotool windowsize --sync "$manager" 760 440
xdotool windowfocus --sync "$manager"
sleep 1
xdotool key Home Down Down Down
previous=""
for i in $(seq 50); do
  sleep 0.3
  import -window "$manager" "$work/manager-$i.ppm"
  if [ -n "$previous" ] && cmp -s "$previous" "$work/manager-$i.ppm"; then break; fi
  previous="$work/manager-$i.ppm"
done
import -window "$manager" -strip "$root/docs/screenshot-manager.png"
echo "screenshot: wrote $root/docs/screenshot-manager.png"
