#!/usr/bin/env bash
# Installs the Debian 12 packages of the Windows cross build: the MinGW-w64 compiler (the
# posix-threads variant), libgcrypt and libgpg-error built for MinGW, Wine to run the tests,
# and GoogleTest's sources (built with the tests). Safe to run again.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PACKAGES=(
  cmake
  g++-mingw-w64-x86-64-posix
  libgcrypt-mingw-w64-dev
  wine64
  googletest
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${missing[@]}"
fi
