#!/usr/bin/env bash
# `make test-installer`: tries the installer and the portable zip that
# `make windows` made (scripts/windows/package.sh) under Wine, in a copy of
# the Wine prefix of its own (the shared one is never installed into):
#
# - the installer, silent (/S): the files, the Start-menu entry, the uninstall
#   key, the folder on the user's PATH (kept after what was there); the
#   installed kaldoria-db.exe lists the sample book and saves a real-size
#   stamp (the host's sqlite3 reads the same bytes back) and stamps a 견적서 PDF
#   with the PDF libraries of the installed folder alone; kaldoria.exe starts
#   there; a second install keeps the book; the silent uninstall removes the
#   programs, DLLs, temp.bmp, entry, key and PATH entry and keeps dojang.mdb;
# - the zip, unpacked into a folder with Korean letters and blanks in its
#   path: README.txt, kaldoria-db.exe list/import there, kaldoria.exe started
#   there (its window found by its process, closed with Alt+F4).
#
# Prints "ok" or "FAIL" a line per check and fails if any check failed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
. "$here/wine-lib.sh"
export LANG=C.UTF-8

version=$(sed -n 's/^project(Kaldoria VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
setup=$repo/build-windows/Kaldoria-$version-setup.exe
zip_file=$repo/build-windows/Kaldoria-$version-portable.zip
for f in "$setup" "$zip_file"; do
  [ -f "$f" ] || { echo "installer-test: $f is missing; run make windows first" >&2; exit 1; }
done

ensure_wine_prefix
shared=$WINEPREFIX
work=$(mktemp -d "${TMPDIR:-/tmp}/kaldoria-installer.XXXXXX")
export WINEPREFIX=$work/wineprefix
cleanup() {
  stop_private_display
  # Only this copy's server: the shared prefix's programs are left alone.
  WINEPREFIX=$work/wineprefix wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
echo "installer-test: copying the Wine prefix to $WINEPREFIX"
cp -a "$shared" "$WINEPREFIX"
start_private_display

failures=0
ok() { echo "ok   - $1"; }
fail() { echo "FAIL - $1"; failures=$((failures + 1)); }
check() { # description, command...
  local what=$1; shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}
absent() { [ ! -e "$1" ]; }
# What a Windows program prints, as Linux text.
win() { wine "$@" 2>/dev/null | tr -d '\r'; }

user=$(basename "$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n1)")
profile=$WINEPREFIX/drive_c/users/$user
inst=$profile/AppData/Local/Programs/Kaldoria
inst_win="C:\\users\\$user\\AppData\\Local\\Programs\\Kaldoria"
# The user's Start-menu programs folder, as the prefix made it.
programs=$(find "$profile/AppData/Roaming" -maxdepth 4 -type d -path '*/Start Menu/Programs' | head -n1)
[ -n "$programs" ] || { echo "installer-test: no Start-menu folder in $profile" >&2; exit 1; }
shortcut="$programs/도장 관리 Kaldoria.lnk"
manager_shortcut="$programs/도장 관리.lnk"
# The uninstall key, as the installer defines it.
key="HKCU\\$(sed -n 's/^!define UNINSTKEY "\(.*\)"$/\1/p' "$here/installer.nsi")"
[ "$key" != 'HKCU\' ] || { echo "installer-test: no UNINSTKEY in installer.nsi" >&2; exit 1; }
user_path() { win reg query 'HKCU\Environment' /v Path | sed -n 's/^ *Path *REG_[A-Z_]*SZ *//p'; }
key_exists() { wine reg query "$key" >/dev/null 2>&1; }
# Waits until no program of this prefix runs (the uninstaller goes on in a
# copy of itself after the one started returns).
settle() { wineserver -w; }

# A stamp of the size users have: a 64x64 24-bit bitmap, about 12 KB.
stamp=$work/some.bmp
convert -size 64x64 gradient:red-blue -type TrueColor "BMP3:$stamp"
stamp_hex=$(od -An -v -tx1 "$stamp" | tr -d ' \n')
# The names and sizes in a book, as the host's sqlite3 reads them.
rows() { sqlite3 "$1" "SELECT pic_name || '|' || length(pic) FROM pic_list ORDER BY pic_name"; }
stored_hex() { sqlite3 "$1" "SELECT hex(pic) FROM pic_list WHERE pic_name = '$2'" | tr 'A-F' 'a-f'; }

# Starts kaldoria.exe (a Unix path) from another folder and waits for a
# window of its process and for temp.bmp beside it; sets window_pid and
# window_id. True when both came.
start_window() {
  local exe=$1 folder i
  folder=$(dirname "$exe")
  window_id=""
  (cd "$work" && exec wine "$exe" >"$work/window.log" 2>&1) &
  window_pid=$!
  for i in $(seq 600); do
    kill -0 "$window_pid" 2>/dev/null || break
    window_id=$(xdotool search --onlyvisible --pid "$window_pid" 2>/dev/null | head -n1 || true)
    [ -n "$window_id" ] && [ -f "$folder/temp.bmp" ] && break
    sleep 0.1
  done
  if [ -z "$window_id" ]; then
    echo "  kaldoria.exe showed no window; it printed:"; sed 's/^/    /' "$work/window.log"
    kill "$window_pid" 2>/dev/null || true; wait "$window_pid" 2>/dev/null || true
    return 1
  fi
}

# run_manager EXE: 도장 관리 started in its folder shows its window, titled
# by the folder's book, and closes on Alt+F4 (the window found by its process).
run_manager() {
  local exe=$1 pid window="" i
  (cd "$(dirname "$exe")" && exec wine "$exe" >"$work/manager.log" 2>&1) &
  pid=$!
  for i in $(seq 600); do
    kill -0 "$pid" 2>/dev/null || break
    window=$(xdotool search --onlyvisible --pid "$pid" --name '^도장 관리 — dojang.mdb' 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "  kaldoria-manager.exe showed no window; it printed:"; sed 's/^/    /' "$work/manager.log"; }
  # Wine may drop a key sent before it has finished mapping the window on a
  # busy machine: Alt+F4 again until the program ends, three times at most.
  local attempt
  for attempt in 1 2 3; do
    sleep 1
    [ -n "$window" ] && xdotool key --window "$window" alt+F4 2>/dev/null || true
    for i in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null || break
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "  kaldoria-manager.exe did not end on Alt+F4; it printed:"; sed 's/^/    /' "$work/manager.log"
    kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true
    return 1
  fi
  wait "$pid" 2>/dev/null || true
  [ -n "$window" ]
}

# start_window, then closes the window with Alt+F4 (no window manager under
# Xvfb). True when all of that happened.
run_window() {
  local exe=$1 folder pid window i
  folder=$(dirname "$exe")
  start_window "$exe" || return 1
  pid=$window_pid window=$window_id
  sleep 0.5
  xdotool key --window "$window" alt+F4 2>/dev/null || true
  for i in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    echo "  kaldoria.exe did not end on Alt+F4"
    kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true
    return 1
  fi
  wait "$pid" 2>/dev/null || true
  [ -f "$folder/temp.bmp" ]
}

echo "installer-test: the installer, $(basename "$setup")"
# The user already has a PATH of their own, with an expandable entry.
wine reg add 'HKCU\Environment' /v Path /t REG_EXPAND_SZ /d '%USERPROFILE%\bin;C:\tools' /f >/dev/null 2>&1
before_path=$(user_path)
status=0; wine "$setup" /S >/dev/null 2>&1 || status=$?
settle
check "silent install exits 0 (was $status)" [ "$status" -eq 0 ]
for f in kaldoria.exe kaldoria-db.exe kaldoria-manager.exe uninstall.exe dojang.mdb Qt6Core.dll Qt6Widgets.dll \
         libsqlite3-0.dll libpq.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll translations/qtbase_ko.qm; do
  check "installed: $f" [ -f "$inst/$f" ]
done
check "no README.txt in the installed folder" absent "$inst/README.txt"
check "Start-menu entry '도장 관리 Kaldoria'" [ -f "$shortcut" ]
check "Start-menu entry '도장 관리' for the manager" [ -f "$manager_shortcut" ]
check "uninstall key exists" key_exists
# reg.exe prints Korean in the console's code page; regedit exports UTF-16.
wine regedit /E "$work/key.reg" "${key/HKCU/HKEY_CURRENT_USER}" >/dev/null 2>&1 || true
check "uninstall key names the program '도장 관리 Kaldoria'" \
  grep -q '"DisplayName"="도장 관리 Kaldoria"' < <(iconv -f UTF-16 -t UTF-8 "$work/key.reg" 2>/dev/null | tr -d '\r')
check "user PATH is the old one plus the folder" [ "$(user_path)" = "$before_path;$inst_win" ]
out=$(cd "$work" && win cmd /c "cd /d C:\\ && kaldoria-db.exe --help" || true)
check "a new console finds kaldoria-db.exe on the PATH" grep -q 'kaldoria-db COMMAND' <<<"$out"
# In a real console (script(1) gives Wine a terminal) set to code page 949,
# as a Korean Windows has it: the Korean names reach the console whole, and
# its code page is the same after kaldoria-db as before.
printf '@echo off\r\nchcp 949\r\nkaldoria-db.exe list "%s\\dojang.mdb"\r\nchcp\r\n' "$inst_win" >"$work/codepage.bat"
out=$(cd "$work" && timeout 120 script -qc "wine cmd /c codepage.bat" /dev/null </dev/null 2>/dev/null |
  tr -d '\r' | sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' || true)
check "a console in code page 949 shows the names as Korean" grep -q '^"도장"' <<<"$out"
check "the console's code page is 949 before and after kaldoria-db" \
  [ "$(grep -c '^Active code page: 949$' <<<"$out")" -eq 2 ]

out=$(cd "$inst" && win ./kaldoria-db.exe list dojang.mdb || true)
check "installed kaldoria-db.exe lists the sample '도장'" grep -q '^"도장"' <<<"$out"
cp "$stamp" "$inst/some.bmp"
status=0; (cd "$inst" && win ./kaldoria-db.exe import dojang.mdb 새도장 some.bmp >/dev/null) || status=$?
check "import of a 12 KB stamp as 새도장 exits 0 (was $status)" [ "$status" -eq 0 ]
rm -f "$inst/some.bmp"
out=$(cd "$inst" && win ./kaldoria-db.exe list dojang.mdb || true)
check "list shows 새도장 after the save" grep -q '^"새도장"' <<<"$out"
check "sqlite3 reads the same bytes under 새도장" [ "$(stored_hex "$inst/dojang.mdb" 새도장)" = "$stamp_hex" ]
# Stamping loads the PDF libraries (qpdf, Poppler, FreeType) from the installed folder alone.
cp "$repo/tests/data/pdf/quotation.pdf" "$inst/견적서.pdf"
out=$(cd "$inst" && win ./kaldoria-db.exe stamp dojang.mdb 도장 견적서.pdf 날인.pdf || true)
check "installed kaldoria-db.exe stamps the sample 견적서 on its '(인)'" grep -q "3쪽, '(인)'이 있는 자리" <<<"$out"
rm -f "$inst/견적서.pdf" "$inst/날인.pdf"
check "kaldoria.exe starts in the installed folder (window, temp.bmp), closes on Alt+F4" run_window "$inst/kaldoria.exe"
check "kaldoria-manager.exe opens the installed folder's book, closes on Alt+F4" run_manager "$inst/kaldoria-manager.exe"

filled=$(rows "$inst/dojang.mdb")
status=0; wine "$setup" /S >/dev/null 2>&1 || status=$?
settle
check "a second silent install exits 0 (was $status)" [ "$status" -eq 0 ]
check "the second install keeps the book as it was" [ "$(rows "$inst/dojang.mdb")" = "$filled" ]
check "the second install adds no second PATH entry" [ "$(user_path)" = "$before_path;$inst_win" ]

# With the window open from the installed folder, neither the installer nor
# the uninstaller touches anything, and a silent run says so by its status.
if start_window "$inst/kaldoria.exe"; then
  listing() { (cd "$inst" && find . -printf '%p %s %T@\n' | sort); }
  before=$(listing)
  status=0; wine "$setup" /S >/dev/null 2>&1 || status=$?
  check "a silent install over a running Kaldoria exits 2 (was $status)" [ "$status" -eq 2 ]
  check "...and changes no file" [ "$(listing)" = "$before" ]
  status=0; wine "$inst_win\\uninstall.exe" /S "_?=$inst_win" >/dev/null 2>&1 || status=$?
  check "a silent uninstall in place while Kaldoria runs exits 2 (was $status)" [ "$status" -eq 2 ]
  wine "$inst_win\\uninstall.exe" /S >/dev/null 2>&1 || true
  for _ in $(seq 300); do pgrep -f 'Au_\.exe' >/dev/null || break; sleep 0.2; done
  check "...and neither form removes a file" [ "$(listing)" = "$before" ]
  check "...nor the Start-menu entry, the key or the PATH entry" \
    bash -c "[ -f '$shortcut' ] && wine reg query '$key' >/dev/null 2>&1 && [ \"\$(wine reg query 'HKCU\\Environment' /v Path 2>/dev/null | tr -d '\\r' | grep -c Kaldoria)\" -eq 1 ]"
  xdotool key --window "$window_id" alt+F4 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$window_pid" 2>/dev/null || break; sleep 0.1; done
  kill "$window_pid" 2>/dev/null || true; wait "$window_pid" 2>/dev/null || true
else
  fail "kaldoria.exe starts, to try the installer over it"
fi

status=0; wine "$inst_win\\uninstall.exe" /S >/dev/null 2>&1 || status=$?
settle
check "silent uninstall exits 0 (was $status)" [ "$status" -eq 0 ]
for f in kaldoria.exe kaldoria-db.exe kaldoria-manager.exe uninstall.exe temp.bmp Qt6Core.dll libpq.dll platforms styles \
         translations; do
  check "uninstalled: $f" absent "$inst/$f"
done
check "dojang.mdb kept with every stamp" [ "$(rows "$inst/dojang.mdb" 2>/dev/null)" = "$filled" ]
check "nothing but dojang.mdb left in the folder" [ "$(ls -A "$inst")" = dojang.mdb ]
check "Start-menu entries gone" bash -c "[ ! -e '$shortcut' ] && [ ! -e '$manager_shortcut' ]"
check "uninstall key gone" bash -c "! wine reg query '$key' >/dev/null 2>&1"
check "user PATH back to what it was" [ "$(user_path)" = "$before_path" ]

# The user's PATH in the other shapes it comes in: none at all, and one too
# long for the installer to read whole, which it must leave exactly as it is.
long="C:\\$(printf 'a%.0s' $(seq 1100))"
for row in "none|-|$inst_win|-" "too long|$long|$long|$long"; do
  IFS='|' read -r name initial installed removed <<<"$row"
  if [ "$initial" = - ]; then
    wine reg delete 'HKCU\Environment' /v Path /f >/dev/null 2>&1 || true
  else
    wine reg add 'HKCU\Environment' /v Path /t REG_EXPAND_SZ /d "$initial" /f >/dev/null 2>&1
  fi
  wine "$setup" /S >/dev/null 2>&1 || true
  settle
  check "user PATH $name: after install as expected" [ "$(user_path)" = "${installed/#-/}" ]
  wine "$inst_win\\uninstall.exe" /S >/dev/null 2>&1 || true
  settle
  check "user PATH $name: after uninstall as expected" [ "$(user_path)" = "${removed/#-/}" ]
done
check "the book is still kept after those installs" [ "$(rows "$inst/dojang.mdb" 2>/dev/null)" = "$filled" ]

echo "installer-test: the portable zip, $(basename "$zip_file")"
desk="$profile/바탕 화면/도장 관리"
mkdir -p "$desk"
unzip -q "$zip_file" -d "$desk"
app=$desk/Kaldoria
check "unpacked: kaldoria.exe, kaldoria-db.exe, kaldoria-manager.exe, dojang.mdb" \
  bash -c "[ -f '$app/kaldoria.exe' ] && [ -f '$app/kaldoria-db.exe' ] && [ -f '$app/kaldoria-manager.exe' ] && [ -f '$app/dojang.mdb' ]"
check "README.txt is UTF-8 with a BOM" bash -c "head -c3 '$app/README.txt' | od -An -tx1 | grep -q 'ef bb bf' && iconv -f UTF-8 -t UTF-8 '$app/README.txt' >/dev/null"
check "README.txt has CRLF line ends only" bash -c "[ \$(grep -c \$'\\r\$' '$app/README.txt') -eq \$(wc -l <'$app/README.txt') ]"
out=$(cd "$app" && win ./kaldoria-db.exe list dojang.mdb || true)
check "kaldoria-db.exe lists '도장' under '바탕 화면\\도장 관리'" grep -q '^"도장"' <<<"$out"
cp "$stamp" "$app/some.bmp"
status=0; (cd "$app" && win ./kaldoria-db.exe import dojang.mdb 새도장 some.bmp >/dev/null) || status=$?
check "import there exits 0 (was $status)" [ "$status" -eq 0 ]
out=$(cd "$app" && win ./kaldoria-db.exe list dojang.mdb || true)
check "list there shows 새도장" grep -q '^"새도장"' <<<"$out"
check "sqlite3 reads the same bytes there" [ "$(stored_hex "$app/dojang.mdb" 새도장)" = "$stamp_hex" ]
check "kaldoria.exe starts there (window by its process, temp.bmp), closes on Alt+F4" run_window "$app/kaldoria.exe"

if [ "$failures" -eq 0 ]; then
  echo "installer-test: all checks passed"
else
  echo "installer-test: $failures checks failed" >&2
  exit 1
fi
