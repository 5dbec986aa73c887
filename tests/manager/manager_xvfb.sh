#!/usr/bin/env bash
# 도장 관리 as a clerk uses it, in its own X session, by the keyboard alone:
# adds a scan through the real file dialog, replaces it with another (after
# the side-by-side question), restores the first from the history, and copies
# it for a document; the book and the clipboard are read from outside.
# Usage: manager_xvfb.sh KALDORIA-MANAGER KALDORIA-DB
if [ -z "${KALDORIA_IN_XVFB:-}" ]; then
    KALDORIA_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" "$0" "$@"
fi
set -euo pipefail
manager=$1 tool=$2
export QT_QPA_PLATFORM=xcb
work=$(mktemp -d)
app_pid=
cleanup() {
    if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill "$app_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/../xvfb_windows.sh"
focus_main() { xdotool windowfocus --sync "$main_window"; }
stored() { sqlite3 "$work/dojang.mdb" "SELECT length(pic) || ' ' || hex(substr(pic, 19, 4)) FROM pic_list WHERE pic_name = 'seal'"; }

"$tool" create "$work/dojang.mdb" --sample >/dev/null
convert -size 300x300 xc:white -fill 'rgb(200,30,40)' -draw 'circle 150,150 150,40' "$work/scan.png"
convert -size 240x180 xc:white -fill 'rgb(20,30,200)' -draw 'circle 120,90 120,20' "$work/other.png"

HOME=$work "$manager" "$work/dojang.mdb" 2>"$work/manager.log" &
app_pid=$!
main_window=$(timeout 30 xdotool search --all --sync --onlyvisible --pid "$app_pid" --name '^도장 관리 — dojang.mdb' | head -1) ||
    fail "the window did not appear"

# Add: Ctrl+N, the file dialog, the proposed name replaced by "seal".
add() {
    focus_main
    xdotool key ctrl+n
    wait_dialog '^도장 그림 추가$'
    xdotool type --delay 10 "$1"
    xdotool key Return
    wait_dialog '^도장 추가$'
    xdotool key ctrl+a
    xdotool type --delay 10 seal
    xdotool key Return
}
add "$work/scan.png"
wait_for 20 bash -c "[ -n \"\$(sqlite3 '$work/dojang.mdb' \"SELECT 1 FROM pic_list WHERE pic_name = 'seal'\")\" ]" ||
    fail "the scan was not stored"
first=$(stored)
[ "${first#* }" = 2C010000 ] || fail "stored width is not the scan's 300 pixels: $first"

add "$work/other.png"
wait_dialog '^도장 바꾸기$'
xdotool key alt+r
wait_for 20 bash -c "[ \"\$(sqlite3 '$work/dojang.mdb' \"SELECT hex(substr(pic, 19, 4)) FROM pic_list WHERE pic_name = 'seal'\")\" = F0000000 ]" ||
    fail "the replace was not stored: $(stored)"

# Restore the first scan from the history: Ctrl+H, the newest version, Alt+R, 예.
wait_for 20 no_other_window || fail "a dialog stayed after the replace"
focus_main
xdotool key ctrl+h
wait_dialog '^기록 — seal$'
history=$dialog
xdotool key alt+r
wait_dialog '^도장 관리$'
xdotool key alt+y
wait_for 20 bash -c "[ \"\$(sqlite3 '$work/dojang.mdb' \"SELECT length(pic) || ' ' || hex(substr(pic, 19, 4)) FROM pic_list WHERE pic_name = 'seal'\")\" = '$first' ]" ||
    fail "the restore did not bring the scan back: $(stored)"
xdotool windowfocus --sync "$history"
xdotool key Escape
wait_for 20 no_other_window || fail "the history stayed"

# Copy for a document: a PNG with transparency on the clipboard.
focus_main
xdotool key ctrl+c
wait_for 20 bash -c "xclip -selection clipboard -t TARGETS -o 2>/dev/null | grep -qx image/png" ||
    fail "no PNG on the clipboard: $(xclip -selection clipboard -t TARGETS -o 2>&1 | tr '\n' ' ')"
xclip -selection clipboard -t image/png -o >"$work/copied.png"
[ "$(identify -format '%[channels]' "$work/copied.png")" = srgba ] || fail "the copied PNG has no transparency"
[ "$(convert "$work/copied.png" -format '%[fx:int(p{0,0}.a*255)]' info:)" = 0 ] || fail "the copied PNG's paper is not transparent"

kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=
[ "$(sqlite3 "$work/dojang.mdb" 'PRAGMA integrity_check')" = ok ] || fail "integrity check failed"
echo "ok: added a scan whole, replaced it after the question, restored it, copied it for a document"
