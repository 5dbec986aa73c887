#!/usr/bin/env bash
# The built program in an X session: it starts with its window titled
# "Kaldoria" and the stored "도장" picture drawn in the picture box, and
# closing the window by its frame ends it with exit status 0; a stored stamp
# that is no picture, or a bad database, ends the start with a report and a
# non-zero status.
# Usage: startup_xvfb.sh KALDORIA XCLOSE
if [ -z "${KALDORIA_IN_XVFB:-}" ]; then
    KALDORIA_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" "$0" "$@"
fi
. "$(dirname "$0")/xvfb_lib.sh"

make_bmp 40 30 CC2233 "$work/stamp.bmp"
sqlite3 "$db" "INSERT INTO pic_list VALUES ('도장', readfile('$work/stamp.bmp'))"

start_app
[ "$(xdotool getwindowname "$main_window")" = Kaldoria ] || fail "title is '$(xdotool getwindowname "$main_window")'"
layout
wait_for 10 pixel_is "$main_window" "$inner_x" "$inner_y" CC2233 || fail "the stamp is not drawn at the top left"
pixel_is "$main_window" $((inner_x + 39)) $((inner_y + 29)) CC2233 || fail "the stamp is not drawn unscaled"
background=$(pixel "$main_window" $((inner_x + inner_size - 1)) $((inner_y + inner_size - 1)))
[ "$background" != CC2233 ] || fail "the stamp covers the whole box"
pixel_is "$main_window" $((inner_x + 40)) "$inner_y" "$background" || fail "the stamp is drawn wider than it is"
pixel_is "$main_window" "$inner_x" $((inner_y + 30)) "$background" || fail "the stamp is drawn taller than it is"
cmp -s "$work/temp.bmp" "$work/stamp.bmp" || fail "the transfer file does not hold the stored picture"

"$xclose" "$main_window" || fail "could not close the window"
wait_exit
[ "$status" -eq 0 ] || fail "exit status $status after closing by the frame"
echo "ok: started, drew the stamp, closed by the frame with status 0"

# Starts the program, which must report its failure in a box titled
# Kaldoria, never show the window, and end with a non-zero status once the
# box is closed. $1 says what made it fail.
expect_failed_start() {
  "$work/kaldoria" &
  app_pid=$!
  main_window=
  wait_dialog
  [ "$(xdotool getwindowname "$dialog")" = Kaldoria ] || fail "$1: the report is titled '$(xdotool getwindowname "$dialog")'"
  xdotool key Return
  wait_exit
  [ "$status" -ne 0 ] || fail "$1: the start ended with status 0"
}

# A stored stamp that is no picture.
sqlite3 "$db" "UPDATE pic_list SET pic = x'00010203' WHERE pic_name = '도장'"
expect_failed_start "an unreadable stored stamp"
echo "ok: an unreadable stored stamp ended the start with status $status"

# The one end-to-end run of a bad database at start-up (the cases are the
# engine's table): a text file in dojang.mdb's place is reported in a box,
# the program ends with a non-zero status and the file is left as it was.
printf '이것은 데이타베이스가 아닙니다.\n' > "$db"
cp "$db" "$work/before.mdb"
expect_failed_start "a bad database"
cmp -s "$db" "$work/before.mdb" || fail "the bad database was changed"
echo "ok: a bad database ended the start with status $status and was left as it was"
