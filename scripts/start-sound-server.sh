#!/usr/bin/env bash
# Starts a PulseAudio server with a null sink "velmar_null" for the tests that play and record through
# a real sound server, and makes the sink and its monitor the default output and input, so that what
# PortAudio plays can be recorded back. Needs no sound card; works as root and as a user. Leaves a
# server that already answers alone, apart from the sink and the defaults.
# Usage: XDG_RUNTIME_DIR=DIR scripts/start-sound-server.sh   (the tests need the same XDG_RUNTIME_DIR)
set -euo pipefail
: "${XDG_RUNTIME_DIR:=/tmp/velmar-runtime-$(id -u)}"
export XDG_RUNTIME_DIR
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
sink=velmar_null

if ! pactl info >/dev/null 2>&1; then
    log="$XDG_RUNTIME_DIR/pulseaudio.log"
    # -n: none of the default modules, which look for hardware; the two loaded are all the tests need.
    # As root the server warns that it is meant for users, and runs all the same.
    pulseaudio --daemonize=yes --system=false --exit-idle-time=-1 --disallow-exit -n \
        --load="module-native-protocol-unix" \
        --load="module-null-sink sink_name=$sink" \
        --log-target=file:"$log" || true
    for _ in $(seq 1 50); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.2
    done
    if ! pactl info >/dev/null 2>&1; then
        echo "start-sound-server: PulseAudio did not start; its log:" >&2
        cat "$log" >&2 || true
        exit 1
    fi
fi
if ! pactl list short sinks | cut -f2 | grep -qx "$sink"; then
    pactl load-module module-null-sink sink_name="$sink" >/dev/null
fi
pactl set-default-sink "$sink"
pactl set-default-source "$sink.monitor"
echo "start-sound-server: PulseAudio answers at $XDG_RUNTIME_DIR; default sink $sink, source $sink.monitor"
