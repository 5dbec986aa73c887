#!/usr/bin/env bash
# Installs the Debian packages the Windows cross-build needs: the mingw-w64
# compilers, the tools that fetch and unpack Debian source packages and build
# them, Wine to run the result, NSIS and zip for the installer and the portable
# zip (unzip and sqlite3 to test them), and Xvfb/xdotool to drive a window
# under Wine. The Linux build never needs any of these, so they
# are kept apart from scripts/install-deps.sh.
# Only what is missing is installed, so running it again is cheap.
set -euo pipefail

packages=(
  # Compilers with posix threads (the win32-threads variant has no std::thread).
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev mingw-w64-tools
  # Fetching and unpacking Debian source packages, and building them.
  dpkg-dev cmake ninja-build make perl python3 tcl xz-utils
  # Qt's host tools (moc, rcc, uic) of the same version as the qtbase source.
  qt6-base-dev qt6-base-dev-tools
  # The tests' GoogleTest, built from its sources for Windows; Qt's Korean
  # texts, shipped in the application folder.
  googletest qt6-translations-l10n
  # Running and packaging the result.
  wine wine64 nsis zip unzip sqlite3 xvfb xdotool x11-utils imagemagick fonts-noto-cjk
)

. "$(dirname "$0")/../apt-missing.sh"
install_missing "${packages[@]}"
