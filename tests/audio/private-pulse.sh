#!/usr/bin/env bash
# A private PulseAudio server for the real-audio tests: no D-Bus, no system instance, one
# socket in a folder of its own, two null sinks.
#   speaker  44100 Hz stereo, the default sink: what the program plays arrives on
#            speaker.monitor.
#   micfeed  11025 Hz mono; its monitor is the default source, so whatever is played into
#            micfeed is what the program "hears".
#
# Usage:
#   private-pulse.sh start DIR [OWNER_PID]   start the server in DIR (an empty folder);
#                                            prints PULSE_SERVER=unix:DIR/native. When
#                                            OWNER_PID is given, a watcher stops the server
#                                            and its helpers once that process is gone.
#   private-pulse.sh play DIR FILE           paplay FILE into micfeed; returns when done
#   private-pulse.sh record-start DIR FILE   parec speaker.monitor (11025 Hz mono s16le raw)
#                                            into FILE in the background
#   private-pulse.sh record-stop DIR         stops that parec
#   private-pulse.sh stop DIR                stops the server, the watcher and any helper
# Every background process is stopped by the process id kept in DIR/*.pid.
set -u

command_name=${1:-}
dir=${2:-}
if [ -z "$command_name" ] || [ -z "$dir" ]; then
    echo "usage: $0 start|play|record-start|record-stop|stop DIR [...]" >&2
    exit 2
fi

export HOME="$dir/home"
export XDG_RUNTIME_DIR="$dir/run"
export XDG_CONFIG_HOME="$dir/home/.config"
export PULSE_SERVER="unix:$dir/native"
unset DBUS_SESSION_BUS_ADDRESS

# Stops the process whose id is in FILE (TERM, then KILL after a second) and removes FILE.
stop_pid_file() {
    local file=$1 pid
    [ -f "$file" ] || return 0
    pid=$(cat "$file")
    rm -f "$file"
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 1 20); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null || true
}

stop_all() {
    stop_pid_file "$dir/parec.pid"
    stop_pid_file "$dir/keeper-speaker.pid"
    stop_pid_file "$dir/keeper-micfeed.pid"
    stop_pid_file "$dir/pulse.pid"
    stop_pid_file "$dir/watcher.pid"
}

case "$command_name" in
start)
    owner=${3:-}
    for tool in pulseaudio pactl pacat; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "no $tool on this machine" >&2
            exit 1
        fi
    done
    mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"
    chmod 700 "$XDG_RUNTIME_DIR"
    cat >"$dir/server.pa" <<EOF
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-sink sink_name=speaker rate=44100 channels=2
load-module module-null-sink sink_name=micfeed rate=11025 channels=1
set-default-sink speaker
set-default-source micfeed.monitor
EOF
    # -n: no default configuration script; --system=false works for root as well.
    pulseaudio --daemonize=no -n -F "$dir/server.pa" --exit-idle-time=-1 --system=false \
        --disallow-exit --disallow-module-loading=false --use-pid-file=no \
        --log-target=file:"$dir/pulse.log" --log-level=notice \
        </dev/null >/dev/null 2>"$dir/pulse.err" &
    echo $! >"$dir/pulse.pid"
    if [ -n "$owner" ]; then
        # Stops the server if the test process ends without stopping it (a crash).
        (
            while kill -0 "$owner" 2>/dev/null && [ -f "$dir/pulse.pid" ]; do sleep 0.5; done
            stop_pid_file "$dir/parec.pid"
            stop_pid_file "$dir/keeper-speaker.pid"
            stop_pid_file "$dir/keeper-micfeed.pid"
            stop_pid_file "$dir/pulse.pid"
            # The owner died without cleaning up: its folder is left to us.
            if ! kill -0 "$owner" 2>/dev/null; then
                rm -rf -- "$dir"
            fi
        ) </dev/null >/dev/null 2>&1 &
        echo $! >"$dir/watcher.pid"
    fi
    ready=no
    for _ in $(seq 1 100); do
        if pactl info >/dev/null 2>&1; then
            ready=yes
            break
        fi
        kill -0 "$(cat "$dir/pulse.pid")" 2>/dev/null || break
        sleep 0.05
    done
    if [ "$ready" != yes ]; then
        echo "PulseAudio did not start; its log:" >&2
        cat "$dir/pulse.err" "$dir/pulse.log" >&2 2>/dev/null
        stop_all
        exit 1
    fi
    # An idle null sink renders in 2-second blocks, so a capture would wait up to 2 s for
    # its first sample and then get it in lumps. One low-latency recording on each monitor,
    # kept running for the server's life, and one suspend/resume of each sink while it runs
    # bring the sink to 10 ms blocks (first sample after ~10-25 ms). A short recording
    # alone is not enough: once it ends the sink falls back to 2-second blocks.
    for sink in speaker micfeed; do
        pacat --record --latency-msec=10 -d "$sink.monitor" --raw \
            </dev/null >/dev/null 2>&1 &
        echo $! >"$dir/keeper-$sink.pid"
    done
    sleep 0.1
    for sink in speaker micfeed; do
        pactl suspend-sink "$sink" 1 && pactl suspend-sink "$sink" 0
    done
    sleep 0.1
    echo "PULSE_SERVER=unix:$dir/native"
    ;;
play)
    file=${3:?file to play}
    paplay -d micfeed "$file"
    ;;
record-start)
    file=${3:?file to record into}
    parec -d speaker.monitor --rate=11025 --channels=1 --format=s16le --raw \
        --latency-msec=10 "$file" </dev/null >/dev/null 2>"$dir/parec.log" &
    echo $! >"$dir/parec.pid"
    ;;
record-stop)
    stop_pid_file "$dir/parec.pid"
    ;;
stop)
    stop_all
    ;;
*)
    echo "unknown command $command_name" >&2
    exit 2
    ;;
esac
