#!/usr/bin/env bash
# Installs the Debian packages Kaldoria needs to build, run and test.
# Only what is missing is installed, so running it again is cheap.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-translations-l10n libsqlite3-dev sqlite3
  libgtest-dev googletest
  fonts-noto-cjk xvfb xdotool x11-utils
  clang libclang-rt-14-dev
  xauth imagemagick libx11-dev
  mdbtools-dev
  libpq-dev postgresql
  libicu-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
