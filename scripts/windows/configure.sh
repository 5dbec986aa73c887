# Sourced by build.sh and test.sh: the toolchain, then the one Windows build
# folder both use (Release), configured afresh when the toolchain's prefix
# moved (a new key) so nothing found in the old one is kept.
"$here/install-deps.sh"
"$here/toolchain.sh"
prefix=$("$here/toolchain.sh" --print-prefix)
build=$repo/build-windows/build
fresh=()
if [ -f "$build/CMakeCache.txt" ] &&
   [ "$(sed -n 's/^KALDORIA_WINDOWS_PREFIX:[A-Z]*=//p' "$build/CMakeCache.txt")" != "$prefix" ]; then
  fresh=(--fresh)
fi
cmake -S "$repo" -B "$build" "${fresh[@]}" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" -DKALDORIA_WINDOWS_PREFIX="$prefix" >/dev/null
