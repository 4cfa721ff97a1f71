#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (only what is missing).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    dpkg-dev file
    libgtest-dev libgmock-dev libbenchmark-dev
    libsndfile1-dev libsamplerate0-dev portaudio19-dev
    qt6-base-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core
    pulseaudio pulseaudio-utils libasound2-plugins
    valgrind
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi
