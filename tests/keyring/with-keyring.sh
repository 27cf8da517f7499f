#!/usr/bin/env bash
# Runs a command (the keyring tests) against a Secret Service of its own: a private D-Bus
# session bus with a gnome-keyring-daemon whose login keyring lives in a temporary HOME and is
# created and unlocked with a test password. The user's own bus and keyring are never touched;
# everything ends with the command. Works as root too (gnome-keyring-daemon then only warns
# that it cannot lock its memory).
#   tests/keyring/with-keyring.sh COMMAND [ARGUMENTS...]
set -euo pipefail

if [ "${1:-}" != "--inside-session" ]; then
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-keyring-XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
  mkdir -m 700 "$scratch/home" "$scratch/runtime"
  status=0
  # No display: a prompt of the keyring must fail at once instead of waiting for a user.
  env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u GNOME_KEYRING_CONTROL \
    HOME="$scratch/home" XDG_DATA_HOME="$scratch/home/.local/share" \
    XDG_CONFIG_HOME="$scratch/home/.config" XDG_CACHE_HOME="$scratch/home/.cache" \
    XDG_RUNTIME_DIR="$scratch/runtime" \
    dbus-run-session -- "$0" --inside-session "$@" || status=$?
  exit "$status"
fi
shift

# --unlock reads the password from standard input; with no login keyring yet it creates one
# with that password, and the login keyring is the default collection.
printf '%s' quorvane-test | gnome-keyring-daemon --unlock --components=secrets >/dev/null
# The daemon forks: wait until it owns the Secret Service's name on this bus.
gdbus wait --session --timeout 20 org.freedesktop.secrets
export QUORVANE_TEST_KEYRING=private
"$@"
