#!/usr/bin/env bash
# Configures and builds into DIR (default build/) with any extra CMake arguments. Warnings are errors
# here, as in CI: a developer sees them before anyone else does.
# Usage: scripts/build.sh [DIR] [CMAKE ARGS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-"$root/build"}
shift || true
cmake -S "$root" -B "$dir" -G Ninja -DVELMAR_WERROR=ON "$@" >/dev/null
cmake --build "$dir"
