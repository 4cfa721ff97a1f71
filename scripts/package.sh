#!/usr/bin/env bash
# Installs what is needed, builds the Release type into build-release/ and makes the Debian package
# there: build-release/velmar_VERSION_ARCH.deb. Install it with
#   sudo apt-get install ./build-release/velmar_*.deb
# Usage: scripts/package.sh [CMAKE ARGS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build-release" -DCMAKE_BUILD_TYPE=Release "$@"
rm -f "$root"/build-release/velmar_*.deb
(cd "$root/build-release" && cpack -G DEB)
ls "$root"/build-release/velmar_*.deb
