#!/usr/bin/env bash
# Writes docs/transparent-export.png for the README: the sample stamp put on
# grey, grainy paper the way a scan shows it, stored with `kaldoria-db
# import`, exported again with `--transparent --size 24`, and the two shown
# side by side, the export over a checkerboard so that its transparency
# shows. Builds nothing: run it after `make`, with the build folder as argument.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
out="$root/docs/transparent-export.png"
command -v convert >/dev/null || { echo "transparent-example: ImageMagick is missing; run scripts/install-deps.sh" >&2; exit 1; }
[ -x "$build/kaldoria-db" ] || { echo "transparent-example: $build/kaldoria-db is missing; run make first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
db="$work/dojang.mdb"
tool() { "$build/kaldoria-db" "$@" >/dev/null; }

tool create "$db" --sample
tool export "$db" 도장 "$work/stamp.bmp"
# Ink on grey paper: the stamp multiplied onto a grey sheet with a fixed grain.
convert -size 64x64 xc:'#c8c4bc' -seed 15 -attenuate 0.3 +noise Uniform \
  "$work/stamp.bmp" -compose Multiply -composite "$work/scan.png"
tool import "$db" "회색 종이" "$work/scan.png"
tool export "$db" "회색 종이" "$work/transparent.png" --transparent --size 24

# Both enlarged three times without smoothing, a white gap between them.
convert "$work/scan.png" -scale 300% "$work/before.png"
convert -size 192x192 pattern:checkerboard \( "$work/transparent.png" -scale 300% \) \
  -compose Over -composite "$work/after.png"
mkdir -p "$(dirname "$out")"
convert "$work/before.png" \( -size 16x192 xc:white \) "$work/after.png" +append -depth 8 -strip "$out"
echo "transparent-example: wrote $out"
