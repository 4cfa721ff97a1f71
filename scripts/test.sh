#!/usr/bin/env bash
# Installs what is needed, builds and runs the whole test suite.
# Usage: scripts/test.sh [--release | --memcheck | --sanitize address|thread]
#   (nothing)            the default build (RelWithDebInfo) in build/, every test
#   --release            the Release build (-O3) in build-release/, as distributions build it, every test
#   --memcheck           the Release build's main codec tests under Valgrind's Memcheck
#   --sanitize address   AddressSanitizer + UndefinedBehaviorSanitizer build, every test
#   --sanitize thread    ThreadSanitizer build, the tests labelled "threaded"
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitize=""
if [ "${1:-}" = "--sanitize" ]; then
    sanitize=${2:?"--sanitize needs address or thread"}
elif [ "${1:-}" = "--release" ]; then
    sanitize=release
elif [ "${1:-}" = "--memcheck" ]; then
    sanitize=memcheck
elif [ -n "${1:-}" ]; then
    echo "usage: scripts/test.sh [--release | --memcheck | --sanitize address|thread]" >&2
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
    memcheck)
        # The codec leaves uncleared what it writes before reading; a read of a value never written
        # (once a post-filter look-ahead) shows only here, not under the sanitizers. Memcheck is
        # some fifty times slower, so it runs the tests that take speech, random and edge input
        # through the decoder, the post-filter, the encoder and every kernel path it can run.
        "$root/scripts/build.sh" "$root/build-release" -DCMAKE_BUILD_TYPE=Release
        valgrind --quiet --error-exitcode=1 --track-origins=yes "$root/build-release/tests/codec_tests" \
            --gtest_filter='PostFilter.*:DecodeSynthesis.*:Decoder.*:Files/*:Encoder.*:Kernels.*:Signals/*:Speech/*'
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
