#!/usr/bin/env bash
# The commands of the built program in an X session: type a name and save,
# open a bitmap through the real file dialog and save it, then close with the
# close button: exit status 0 and a database that passes its integrity check.
# Usage: save_xvfb.sh KALDORIA XCLOSE
if [ -z "${KALDORIA_IN_XVFB:-}" ]; then
    KALDORIA_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" "$0" "$@"
fi
. "$(dirname "$0")/xvfb_lib.sh"

make_bmp 40 30 CC2233 "$work/stamp.bmp"
sqlite3 "$db" "INSERT INTO pic_list VALUES ('도장', readfile('$work/stamp.bmp'));
               INSERT INTO pic_list VALUES ('O''Brien', x'00'); INSERT INTO pic_list VALUES ('O''Brien', x'01');"
mkdir "$work/pictures"
make_bmp 20 10 1144DD "$work/pictures/blue.bmp"

start_app
layout
wait_for 10 pixel_is "$main_window" "$inner_x" "$inner_y" CC2233 || fail "the stamp is not drawn"
bitmap_size=$((54 + (inner_size * 3 + 3) / 4 * 4 * inner_size))

# A typed name with an apostrophe replaces both earlier rows of that name.
xdotool windowfocus --sync "$main_window"
click_at $name_at
xdotool key ctrl+a
xdotool type --delay 20 "O'Brien"
click_at $save_at
dismiss
[ "$message_title" = Kaldoria ] || fail "message box titled '$message_title'"
expected="도장|$(stat -c %s "$work/stamp.bmp")|424D
O'Brien|$bitmap_size|424D"
[ "$(rows)" = "$expected" ] || fail "rows after the first save: $(rows)"

# A bitmap chosen in the real dialog is shown, and saved under another name.
click_at $picture_at
wait_dialog
xdotool type --delay 20 "$work/pictures/blue.bmp"
xdotool key Return
wait_for 20 no_other_window || fail "the file dialog stayed"
wait_for 10 pixel_is "$main_window" "$inner_x" "$inner_y" 1144DD || fail "the chosen bitmap is not shown"
background=$(pixel "$main_window" $((inner_x + 30)) $((inner_y + 30)))

xdotool windowfocus --sync "$main_window"
click_at $name_at
xdotool key ctrl+a
xdotool type --delay 20 "blue"
click_at $save_at
dismiss
[ "$(sqlite3 "$db" "SELECT count(*) FROM pic_list WHERE pic_name = 'blue'")" = 1 ] || fail "rows: $(rows)"
sqlite3 "$db" "SELECT writefile('$work/stored.bmp', pic) FROM pic_list WHERE pic_name = 'blue'" >/dev/null
stored_pixel() { convert "$work/stored.bmp" -crop "1x1+$1+$2" -depth 8 txt:- | grep -o '#[0-9A-Fa-f]\{6\}' | head -1 | tr -d '#' | tr a-f A-F; }
[ "$(stored_pixel 0 0)" = 1144DD ] || fail "stored top-left pixel is $(stored_pixel 0 0)"
[ "$(stored_pixel 30 30)" = "$background" ] || fail "stored background is $(stored_pixel 30 30), shown $background"
cmp -s "$work/stored.bmp" "$work/temp.bmp" || fail "the transfer file differs from the stored bytes"

click_at $close_at
wait_exit
[ "$status" -eq 0 ] || fail "exit status $status after the close button"
[ "$(sqlite3 "$db" "PRAGMA integrity_check")" = ok ] || fail "integrity check failed"
echo "ok: saved a typed name, saved a chosen bitmap, closed with status 0"
