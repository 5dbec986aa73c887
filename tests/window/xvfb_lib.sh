# Shared by the Xvfb tests of the built program. Sourced with the path of the
# built kaldoria and of the xclose helper: makes a temporary application
# folder holding a copy of the program and an empty picture database made by
# the sqlite3 shell, and offers waits on windows and pixels. Every wait polls
# a condition with a deadline.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../xvfb_windows.sh"

app_source=$1
xclose=$2
# `make test` selects the offscreen platform; these tests need the X server.
export QT_QPA_PLATFORM=xcb
unset QT_SCALE_FACTOR QT_FONT_DPI

work=$(mktemp -d)
app_pid=
cleanup() {
    if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill "$app_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
cp "$app_source" "$work/kaldoria"
db=$work/dojang.mdb
sqlite3 "$db" "CREATE TABLE pic_list (pic_name TEXT, pic BLOB);"


# le32 N: four little-endian bytes as printf escapes.
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }

# make_bmp WIDTH HEIGHT RRGGBB FILE: a 24-bit bitmap of one colour.
make_bmp() {
    local w=$1 h=$2 rgb=$3 file=$4
    local stride=$(((w * 3 + 3) / 4 * 4))
    local pixel="\\x${rgb:4:2}\\x${rgb:2:2}\\x${rgb:0:2}" row="" pad="" x y
    for ((x = 0; x < w; x++)); do row+=$pixel; done
    for ((x = w * 3; x < stride; x++)); do pad+='\x00'; done
    {
        printf "BM$(le32 $((54 + stride * h)))$(le32 0)$(le32 54)"
        printf "$(le32 40)$(le32 "$w")$(le32 "$h")\\x01\\x00\\x18\\x00$(le32 0)$(le32 $((stride * h)))"
        printf "$(le32 2835)$(le32 2835)$(le32 0)$(le32 0)"
        for ((y = 0; y < h; y++)); do printf "$row$pad"; done
    } >"$file"
}


# start_app: runs the program in the background and sets main_window.
start_app() {
    "$work/kaldoria" &
    app_pid=$!
    main_window=$(timeout 30 xdotool search --all --sync --onlyvisible --pid "$app_pid" --name '^Kaldoria$' | head -1) ||
        fail "the window did not appear"
    [ -n "$main_window" ] || fail "the window did not appear"
}



# pixel WINDOW X Y: the colour of one pixel as RRGGBB.
pixel() { import -window "$1" -crop "1x1+$2+$3" -depth 8 txt:- | grep -o '#[0-9A-Fa-f]\{6\}' | head -1 | tr -d '#' | tr a-f A-F; }
pixel_is() { [ "$(pixel "$1" "$2" "$3")" = "$4" ]; }

# layout: the screen's logical resolution, read back from the window's
# width, and the places of the controls in pixels, the way the window
# converts its twips (1440 to the inch, halves rounded up).
layout() {
    local width
    width=$(xdotool getwindowgeometry --shell "$main_window" | sed -n 's/^WIDTH=//p')
    dpi=$(((width * 1440 * 2 + 3540) / (3540 * 2)))
    px() { echo $((($1 * dpi * 2 + 1440) / (1440 * 2))); }
    # picName's inner area starts inside its two-pixel border.
    inner_x=$(($(px 120) + 2)) inner_y=$(($(px 540) + 2)) inner_size=$(($(px 1030) - 4))
    name_at="$(($(px 120) + 10)) $(($(px 180) + $(px 315) / 2))"
    close_at="$(($(px 2400) + $(px 975) / 2)) $(($(px 1080) + $(px 435) / 2))"
    save_at="$(($(px 1320) + $(px 975) / 2)) $(($(px 1080) + $(px 435) / 2))"
    picture_at="$(($(px 1320) + $(px 2055) / 2)) $(($(px 600) + $(px 435) / 2))"
}

# click_at X Y: a left click in the main window.
click_at() { xdotool mousemove --window "$main_window" "$1" "$2" click 1; }

# dismiss: answers the message box now up with Enter and waits until it is gone;
# sets message_title.
dismiss() {
    wait_dialog
    message_title=$(xdotool getwindowname "$dialog")
    xdotool key Return
    wait_for 20 no_other_window || fail "the message box stayed"
}

# wait_exit: waits for the program to end and sets status.
wait_exit() {
    wait_for 20 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end"
    status=0
    wait "$app_pid" || status=$?
    app_pid=
}

# rows: the table as "name|size|first two bytes" lines, in rowid order.
rows() { sqlite3 "$db" "SELECT ifnull(pic_name, '<NULL>') || '|' || length(pic) || '|' || hex(substr(pic, 1, 2)) FROM pic_list ORDER BY rowid"; }
