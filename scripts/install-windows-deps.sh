#!/usr/bin/env bash
# Installs the Debian 12 packages of the Windows cross build: the MinGW-w64 compiler (the
# posix-threads variant), libgcrypt and libgpg-error built for MinGW, Wine to run the tests,
# and GoogleTest's sources (built with the tests). Safe to run again.
set -euo pipefail
PACKAGES=(
  cmake
  g++-mingw-w64-x86-64-posix
  libgcrypt-mingw-w64-dev
  wine64
  googletest
)
. "$(dirname "$0")/apt-install.sh"
