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
  libqpdf-dev libpoppler-qt6-dev qpdf
  desktop-file-utils man-db groff-base xclip
)

. "$(dirname "$0")/apt-missing.sh"
install_missing "${packages[@]}"
