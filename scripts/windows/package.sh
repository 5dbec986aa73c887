#!/usr/bin/env bash
# `make windows`, after build.sh: what goes to the office's PCs, made from the
# programs and DLLs build.sh staged (build-windows/build/dist):
#
#   build-windows/Kaldoria-VERSION-setup.exe      the per-user installer
#                                                 (scripts/windows/installer.nsi)
#   build-windows/Kaldoria-VERSION-portable.zip   the folder Kaldoria/ with a
#                                                 Korean README.txt, to unpack anywhere
#
# Both get a sample dojang.mdb made afresh here by the Windows kaldoria-db.exe
# under Wine, never the one in build-windows/Kaldoria, which a developer may
# have filled while trying the program.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
. "$here/wine-lib.sh"

version=$(sed -n 's/^project(Kaldoria VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
dist=$repo/build-windows/build/dist
for program in kaldoria.exe kaldoria-db.exe; do
  [ -f "$dist/$program" ] || { echo "package: $dist/$program is missing; run scripts/windows/build.sh first" >&2; exit 1; }
done

out=$repo/build-windows
work=$out/package
stage=$work/Kaldoria
rm -rf "$work"
mkdir -p "$stage"
cp -R "$dist/." "$stage/"

ensure_wine_prefix
(cd "$stage" && env -u DISPLAY wine ./kaldoria-db.exe create dojang.mdb --sample >"$work/create.log" 2>&1) || true
[ -f "$stage/dojang.mdb" ] || {
  tr -d '\r' <"$work/create.log" >&2
  echo "package: kaldoria-db.exe did not make the sample dojang.mdb" >&2; exit 1; }
mv "$stage/dojang.mdb" "$work/dojang.mdb"

# The installer's lists of files: what it puts in, and what its uninstaller
# takes out again (subfolders last, and only when empty).
windows_name() { local p=${1//\//\\}; echo "$p"; }
{
  last=""
  (cd "$stage" && find . -type f | sort) | while read -r f; do
    f=${f#./} d=$(dirname "$f")
    if [ "$d" != "$last" ]; then
      if [ "$d" = . ]; then echo 'SetOutPath "$INSTDIR"'; else echo "SetOutPath \"\$INSTDIR\\$(windows_name "$d")\""; fi
      last=$d
    fi
    echo "File \"$stage/$f\""
  done
} >"$work/files.nsh"
{
  (cd "$stage" && find . -type f | sort) | while read -r f; do
    echo "Delete \"\$INSTDIR\\$(windows_name "${f#./}")\""
  done
  (cd "$stage" && find . -mindepth 1 -type d | sort -r) | while read -r d; do
    echo "RMDir \"\$INSTDIR\\$(windows_name "${d#./}")\""
  done
} >"$work/unfiles.nsh"

setup=$out/Kaldoria-$version-setup.exe
size_kb=$(( ($(du -sk "$stage" | cut -f1) + $(du -sk "$work/dojang.mdb" | cut -f1)) ))
rm -f "$setup"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DOUTFILE="$setup" \
  -DICON="$repo/window/kaldoria.ico" -DFILES="$work/files.nsh" -DUNFILES="$work/unfiles.nsh" \
  -DSAMPLE="$work/dojang.mdb" -DSIZE_KB="$size_kb" "$here/installer.nsi"

# The portable folder: the same files, the sample book and the README
# (UTF-8 with a byte order mark and CRLF line ends, so Notepad shows it right).
mv "$work/dojang.mdb" "$stage/dojang.mdb"
{ printf '\xef\xbb\xbf'; sed 's/$/\r/' "$here/portable-README.txt"; } >"$stage/README.txt"
zip_file=$out/Kaldoria-$version-portable.zip
rm -f "$zip_file"
(cd "$work" && zip -q -r -9 -X "$zip_file" Kaldoria)

echo "package: $setup ($(du -k "$setup" | cut -f1) KB)"
echo "package: $zip_file ($(du -k "$zip_file" | cut -f1) KB)"
