#!/usr/bin/env bash
# Runs a command on a private X server, as a desktop would have it: Xvfb, the openbox
# window manager, key auto-repeat on. The command gets DISPLAY and QT_QPA_PLATFORM=xcb.
# Exits 77 (skipped) where Xvfb, openbox, xset, xprop or xdotool are missing.
#   under-x.sh COMMAND [ARGUMENT...]
set -u
for tool in Xvfb openbox xset xprop xdotool; do
    if ! command -v "$tool" > /dev/null; then
        echo "SKIP: no $tool on this machine"
        exit 77
    fi
done

dir=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-x-XXXXXX")
x_pid=""
wm_pid=""
cleanup() {
    for pid in $wm_pid $x_pid; do
        kill "$pid" 2> /dev/null && wait "$pid" 2> /dev/null
    done
    rm -rf "$dir"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to descriptor 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$dir/display" 2> "$dir/xvfb.log" &
x_pid=$!
for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    sleep 0.1
done
if [ ! -s "$dir/display" ]; then
    echo "SKIP: Xvfb did not start: $(tail -3 "$dir/xvfb.log")"
    exit 77
fi
export DISPLAY=":$(head -n 1 "$dir/display")"
xset r on
xset r rate 250 30

mkdir -p "$dir/home"
HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config" openbox --sm-disable > "$dir/wm.log" 2>&1 &
wm_pid=$!
# The window manager is ready once it has announced itself on the root window.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q "window id" && break
    sleep 0.1
done

export QT_QPA_PLATFORM=xcb
"$@"
status=$?
exit "$status"
