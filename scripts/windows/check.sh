#!/usr/bin/env bash
# Checks the cached Windows libraries against Debian's own: builds
# tests/windows/toolchain_check/toolchain_check.cpp for Linux and for Windows, runs the Windows one
# under Wine, and fails unless both print the same facts (ICU properties of
# every code point, SQLite's options and a 1,000-picture book through the
# blob API, libpq's TLS library, Qt's BMP codec). Lines starting with "info"
# (library versions) are shown, not compared.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
prefix=${KALDORIA_WINDOWS_PREFIX:-$("$here/toolchain.sh" --print-prefix)}
build=$repo/build-windows/check

cmake -S "$repo/tests/windows/toolchain_check" -B "$build/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/linux" -j 2 >/dev/null
cmake -S "$repo/tests/windows/toolchain_check" -B "$build/windows" --fresh -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" -DKALDORIA_WINDOWS_PREFIX="$prefix" >/dev/null
cmake --build "$build/windows" -j 2 >/dev/null
rm -rf "$build/dist"
"$here/deploy.sh" "$prefix" "$build/dist" "$build/windows/toolchain_check.exe" >/dev/null

export WINEPREFIX=${KALDORIA_WINEPREFIX:-${KALDORIA_WINDOWS_CACHE:-$HOME/.cache/kaldoria-windows}/wineprefix}
export WINEDEBUG=-all WINEARCH=win64
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/linux/toolchain_check" "$work" >"$work/linux.txt"
# No display needed: the program opens no window.
env -u DISPLAY wine "$build/dist/toolchain_check.exe" 'Z:'"$work" 2>"$work/wine.err" | tr -d '\r' >"$work/windows.txt" || {
  cat "$work/wine.err" >&2; echo "check: the Windows program failed under Wine" >&2; exit 1; }

grep '^info' "$work/linux.txt" | sed 's/^info/linux:  /'
grep '^info' "$work/windows.txt" | sed 's/^info/windows:/'
if diff <(grep -v '^info' "$work/linux.txt") <(grep -v '^info' "$work/windows.txt"); then
  echo "check: the Windows libraries behave like Debian's ($(grep -vc '^info' "$work/linux.txt") facts compared)"
else
  echo "check: the Windows libraries differ from Debian's (< Linux, > Windows)" >&2
  exit 1
fi
