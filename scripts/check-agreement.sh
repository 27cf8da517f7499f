#!/usr/bin/env bash
# Checks that the Linux build and the Windows build (run under Wine) compute the same numbers
# and bytes: builds quorvane_agreement in both build folders, runs each, and compares the two
# outputs byte for byte. Any difference fails and shows the first differing lines.
#
#   scripts/check-agreement.sh [LINUX_BUILD_DIR] [WINDOWS_BUILD_DIR]
#
# Defaults: build (configured as the core only when it does not exist yet) and build-windows
# (the windows-core preset).
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=${1:-build}
windows_build=${2:-build-windows}

if [ ! -f "$linux_build/CMakeCache.txt" ]; then
  cmake -S . -B "$linux_build" -DQUORVANE_CORE_ONLY=ON > /dev/null
fi
if [ ! -f "$windows_build/CMakeCache.txt" ]; then
  cmake --preset windows-core -B "$windows_build" > /dev/null
fi
cmake --build "$linux_build" -j2 --target quorvane_agreement > /dev/null
cmake --build "$windows_build" -j2 --target quorvane_agreement > /dev/null

wine=$(sed -n 's/^QUORVANE_WINE:FILEPATH=//p' "$windows_build/CMakeCache.txt")
wineserver=$(sed -n 's/^QUORVANE_WINESERVER:FILEPATH=//p' "$windows_build/CMakeCache.txt")
export WINEPREFIX="$PWD/$windows_build/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"

out="$windows_build/agreement"
mkdir -p "$out"
"$linux_build/tests/agreement/quorvane_agreement" "$out/linux.txt"
"$wine" "$windows_build/tests/agreement/quorvane_agreement.exe" "$out/windows.txt"
# Stop the Wine server of this prefix (started by the run above) so nothing outlives the check.
"$wineserver" -k 2> /dev/null || true

if cmp -s "$out/linux.txt" "$out/windows.txt"; then
  echo "Agreement: Linux and Windows outputs are identical" \
    "($(wc -l < "$out/linux.txt") lines, $(wc -c < "$out/linux.txt") bytes)"
else
  echo "Agreement FAILED: Linux and Windows outputs differ ($out/linux.txt, $out/windows.txt)" >&2
  diff "$out/linux.txt" "$out/windows.txt" | cut -c1-200 | head -20 >&2
  exit 1
fi
