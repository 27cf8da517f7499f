#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Quorvane needs.
# Safe to run again: apt-get install only adds what is missing.
set -euo pipefail
PACKAGES=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  portaudio19-dev libasound2-dev libjack-jackd2-dev libsndfile1-dev libsamplerate0-dev libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libgcrypt20-dev libbotan-2-dev
  libsecret-1-dev gnome-keyring dbus-daemon
  espeak-ng sox gnuplot-nox pulseaudio pulseaudio-utils libasound2-plugins
  xvfb xauth openbox xdotool x11-xserver-utils x11-utils dbus-daemon at-spi2-core libglib2.0-bin
  clang libclang-rt-14-dev
  file librsvg2-bin desktop-file-utils appstream lintian
)
. "$(dirname "$0")/apt-install.sh"
