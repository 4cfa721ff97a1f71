#!/usr/bin/env bash
# Installs what is needed, builds and runs the whole test suite.
# Usage: scripts/test.sh [--release | --sanitize address|thread]
#   (nothing)            the default build (RelWithDebInfo) in build/, every test
#   --release            the Release build (-O3) in build-release/, as distributions build it, every test
#   --sanitize address   AddressSanitizer + UndefinedBehaviorSanitizer build, every test
#   --sanitize thread    ThreadSanitizer build, the tests labelled "threaded"
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitize=""
if [ "${1:-}" = "--sanitize" ]; then
    sanitize=${2:?"--sanitize needs address or thread"}
elif [ "${1:-}" = "--release" ]; then
    sanitize=release
elif [ -n "${1:-}" ]; then
    echo "usage: scripts/test.sh [--release | --sanitize address|thread]" >&2
    exit 2
fi

"$root/scripts/setup.sh"
jobs=$(nproc)
case "$sanitize" in
    "")
        "$root/scripts/build.sh" "$root/build"
        ctest --test-dir "$root/build" --output-on-failure -j "$jobs"
        ;;
    release)
        "$root/scripts/build.sh" "$root/build-release" -DCMAKE_BUILD_TYPE=Release
        ctest --test-dir "$root/build-release" --output-on-failure -j "$jobs"
        ;;
    address)
        "$root/scripts/build.sh" "$root/build-asan" -DVELMAR_SANITIZE=address -DVELMAR_BUILD_BENCH=OFF
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"
        ;;
    thread)
        "$root/scripts/build.sh" "$root/build-tsan" -DVELMAR_SANITIZE=thread -DVELMAR_BUILD_BENCH=OFF
        TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
            ctest --test-dir "$root/build-tsan" --output-on-failure -j "$jobs" -L threaded
        ;;
    *)
        echo "unknown sanitizer '$sanitize' (address or thread)" >&2
        exit 2
        ;;
esac
