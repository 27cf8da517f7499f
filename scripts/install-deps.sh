#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Quorvane needs.
# Safe to run again: apt-get install only adds what is missing.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PACKAGES=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  portaudio19-dev libsndfile1-dev libsamplerate0-dev libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libgcrypt20-dev libbotan-2-dev
  espeak-ng sox pulseaudio pulseaudio-utils libasound2-plugins
  xvfb xauth
  clang libclang-rt-14-dev
  file help2man librsvg2-bin desktop-file-utils appstream lintian
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
