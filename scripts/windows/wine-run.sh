#!/usr/bin/env bash
# Runs a Windows program of the cross-build under Wine, finding its DLLs where
# they were built rather than copied beside it: Qt, SQLite, libpq and OpenSSL
# in the toolchain's prefix, the C++ runtime in mingw's folders. CMake uses it
# as the emulator of the Windows build (CMAKE_CROSSCOMPILING_EMULATOR), so
# CTest and gtest_discover_tests start every test executable through it.
#
#   wine-run.sh PREFIX PROGRAM.exe [ARGUMENT...]
#
# PREFIX is the toolchain's prefix (toolchain.sh --print-prefix). The Wine
# prefix is the cache's (KALDORIA_WINEPREFIX overrides it); it must exist
# already (scripts/windows/test.sh makes it), since several tests start at once.
# Carriage returns are taken out of what the program prints, so the output
# reads as a Linux program's (gtest's test lists, CTest's expressions).
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 PREFIX PROGRAM.exe [ARGUMENT...]" >&2; exit 2; }
prefix=$1; shift
triple=x86_64-w64-mingw32

. "$(dirname "$0")/wine-lib.sh"
[ -f "$WINEPREFIX/system.reg" ] || { echo "wine-run: no Wine prefix at $WINEPREFIX" >&2; exit 1; }

# A Unix path as Windows sees it: Wine's drive Z: is the root folder.
windows_path() { local p=${1//\//\\}; echo "Z:$p"; }
gcc_dir=$(dirname "$("$triple-g++-posix" -print-file-name=libstdc++-6.dll)")
pthread_dir=$(dirname "$(readlink -f "$("$triple-g++-posix" -print-file-name=libwinpthread-1.dll)")")
WINEPATH="$(windows_path "$prefix/bin");$(windows_path "$gcc_dir");$(windows_path "$pthread_dir")"
export WINEPATH
# A crash ends the test, rather than waiting in Wine's debugger.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winedbg.exe=d"
# Wine hands a Windows program the variables QT_* only from their
# WINE-prefixed forms (the host's own are for the Linux Qt), so the test's
# QT_QPA_PLATFORM is passed on that way. Qt's plugins (the Windows platform,
# offscreen, the windowsvista style) come from the prefix. (TEMP and TMP
# cannot be passed: Wine sets them from the prefix's registry, so temporary
# files go to the Wine user's Temp folder.)
export WINEQT_PLUGIN_PATH
WINEQT_PLUGIN_PATH=$(windows_path "$prefix/plugins")
while IFS='=' read -r name _; do
  export "WINE$name=${!name}"
done < <(env | grep -E '^QT_[A-Z_]*=' || true)

set -o pipefail
wine "$@" | tr -d '\r'
