#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the main job: the Velmar Voice Recorder/Player
# window, recording from and playing to the machine's default sound devices (through PortAudio).
# The recorder keeps its unsaved recording in prm.tmp in the folder it starts in: build/ here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "run.sh: no display to show the recorder window on (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
    echo "Start it from a desktop session: $root/build/app/velmar-recorder" >&2
    exit 1
fi
cd "$root/build"
exec "$root/build/app/velmar-recorder"
