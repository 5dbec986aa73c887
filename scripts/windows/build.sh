#!/usr/bin/env bash
# `make windows`: builds kaldoria.exe and kaldoria-db.exe for 64-bit Windows
# with the cached toolchain and makes the application folder
# build-windows/Kaldoria, the folder that is copied whole to a Windows PC:
#
#   kaldoria.exe, kaldoria-db.exe   the programs
#   *.dll, platforms/, styles/      every DLL they need (deploy.sh)
#   translations/qtbase_ko.qm       Qt's own texts in Korean
#   dojang.mdb                      a sample book, made by the Windows
#                                   kaldoria-db.exe under Wine when none is there
#
# What the folder already holds besides these (the user's book, temp.bmp) is
# left alone.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
. "$here/configure.sh"
. "$here/wine-lib.sh"

cmake --build "$build" -j 2 --target kaldoria kaldoria-db kaldoria-manager

app=$repo/build-windows/Kaldoria
stage=$build/dist
rm -rf "$stage"
echo "windows: DLLs beside the programs:"
"$here/deploy.sh" "$prefix" "$stage" "$build/kaldoria.exe" "$build/kaldoria-db.exe" "$build/kaldoria-manager.exe" | sed 's/^/  /'
x86_64-w64-mingw32-strip "$stage/kaldoria.exe" "$stage/kaldoria-db.exe" "$stage/kaldoria-manager.exe"
mkdir -p "$stage/translations"
cp /usr/share/qt6/translations/qtbase_ko.qm "$stage/translations/"
mkdir -p "$app"
cp -R "$stage/." "$app/"

if [ ! -e "$app/dojang.mdb" ]; then
  ensure_wine_prefix
  # Only the folder's own DLLs: the book is made the way the PC will run it.
  (cd "$app" && env -u DISPLAY wine ./kaldoria-db.exe create dojang.mdb --sample 2>&1 | tr -d '\r' | sed 's/^/  /')
  [ -f "$app/dojang.mdb" ] || { echo "windows: kaldoria-db.exe did not make dojang.mdb" >&2; exit 1; }
fi
echo "windows: $(du -sh "$app" | cut -f1) in $app"
