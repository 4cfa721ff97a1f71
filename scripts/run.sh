#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the main job: for now, decoding the shipped
# sample recording into a WAV file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"
"$root/build/tools/prmcodec/prmcodec" decode "$root/samples/speech.prm" "$root/build/speech.wav"
echo "Listen to it with: aplay $root/build/speech.wav"
