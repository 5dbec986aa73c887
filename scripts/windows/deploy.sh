#!/usr/bin/env bash
# Copies beside Windows programs every DLL they need that Windows itself does
# not have: the mingw runtime, Qt (with its Windows and offscreen platform
# plugins, its picture-format plugins and the windowsvista style), and the cached libraries (SQLite, libpq, OpenSSL).
# The list is found by walking the programs' imports, not written by hand,
# so it stays right when a program starts using another library.
#
#   deploy.sh PREFIX DEST PROGRAM.exe...
#
# PREFIX is the toolchain's prefix (toolchain.sh --print-prefix). Prints the
# DLLs copied, one a line, relative to DEST.
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: $0 PREFIX DEST PROGRAM.exe..." >&2; exit 2; }
prefix=$1 dest=$2; shift 2
triple=x86_64-w64-mingw32

gcc_dir=$(dirname "$("$triple-g++-posix" -print-file-name=libstdc++-6.dll)")
pthread_dir=$(dirname "$(readlink -f "$("$triple-g++-posix" -print-file-name=libwinpthread-1.dll)")")
search=("$prefix/bin" "$gcc_dir" "$pthread_dir")

mkdir -p "$dest"
queue=()
for exe in "$@"; do
  cp "$exe" "$dest/"
  queue+=("$dest/$(basename "$exe")")
done

declare -A seen=()
copied=()
# Finds a DLL by name (case-insensitively, as Windows does) in the search dirs.
find_dll() {
  local d f
  for d in "${search[@]}"; do
    f=$(find "$d" -maxdepth 1 -iname "$1" -print -quit 2>/dev/null)
    [ -n "$f" ] && { echo "$f"; return 0; }
  done
  return 0
}
add() { # file, path relative to dest
  mkdir -p "$(dirname "$dest/$2")"
  cp "$1" "$dest/$2"
  # Symbols are for debugging here, not for shipping (halves Qt's size).
  "$triple-strip" --strip-unneeded "$dest/$2"
  copied+=("$2")
  queue+=("$dest/$2")
}

while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}; queue=("${queue[@]:1}")
  while read -r name; do
    key=${name,,}
    [ -n "${seen[$key]:-}" ] && continue
    seen[$key]=1
    path=$(find_dll "$name")
    # Not ours: a Windows system DLL (KERNEL32, USER32, api-ms-win-*, ...).
    [ -n "$path" ] || continue
    add "$path" "$(basename "$path")"
    # Qt finds its platform plugins and style at run time, not by import.
    # The offscreen platform is for drawing with no window (kaldoria-db draws
    # the sample stamp with it).
    if [ "$key" = qt6gui.dll ]; then
      add "$prefix/plugins/platforms/qwindows.dll" platforms/qwindows.dll
      add "$prefix/plugins/platforms/qoffscreen.dll" platforms/qoffscreen.dll
      # The picture formats beyond those Qt reads by itself (BMP, PNG, PPM,
      # XPM): GIF, ICO and JPEG, as Linux has them.
      for plugin in "$prefix"/plugins/imageformats/*.dll; do
        add "$plugin" "imageformats/$(basename "$plugin")"
      done
    fi
    if [ "$key" = qt6widgets.dll ] && [ -f "$prefix/plugins/styles/qwindowsvistastyle.dll" ]; then
      add "$prefix/plugins/styles/qwindowsvistastyle.dll" styles/qwindowsvistastyle.dll
    fi
  done < <("$triple-objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p')
done
printf '%s\n' "${copied[@]}" | sort
