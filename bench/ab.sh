#!/usr/bin/env bash
# Side-by-side speed comparison of the working tree against another git revision on this machine.
# Both codec benchmarks and both prmcodec tools are built in a temporary folder, then run in
# alternation for several rounds, so that the load of a shared machine falls on both alike. Prints
# the median CPU time per benchmark with the ratio old / new, the enhanced decoder's speed against
# the plain one, and the whole-process speed of `prmcodec encode --raw` and `prmcodec decode` on a
# two-minute speech file beside the kernel figures (also net of a bare process start); for that
# comparison the kernels are also timed in slices about as long as one run of the tool, and the two
# are set side by side at their medians and at their fastest runs.
#
# Usage: bench/ab.sh [REVISION] [ROUNDS]    (defaults: HEAD and 5)
# Environment: AB_KEEP=1 keeps the temporary folder; AB_FILTER restricts the benchmarks (regex);
# AB_RUNS is how often each process is run per round (default 3): a shared machine's cores slow
# down by a fifth for seconds at a time, and one run of a 20 ms process falls wholly in or out of
# such a spell where a benchmark averages over it.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
rev=${1:-HEAD}
rounds=${2:-5}
runs=${AB_RUNS:-3}
filter=${AB_FILTER:-.}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/velmar-ab.XXXXXX")
cleanup() {
    if [[ -z "${AB_KEEP:-}" ]]; then rm -rf "$tmp"; else echo "kept $tmp"; fi
}
trap cleanup EXIT

build() { # SOURCE BUILD
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMAR_BUILD_TESTS=OFF >"$2.log" 2>&1
    nice -n 5 cmake --build "$2" --target codec_bench prmcodec -j2 >>"$2.log" 2>&1 ||
        { echo "build of $1 failed, see $2.log" >&2; AB_KEEP=1; exit 1; }
}

echo "building $rev and the working tree in $tmp ..."
mkdir -p "$tmp/old"
git -C "$root" archive "$rev" | tar -x -C "$tmp/old"
build "$tmp/old" "$tmp/old-build"
build "$root" "$tmp/new-build"

# About two minutes of speech: the speech vectors repeated.
speech="$tmp/speech.pcm"
: >"$speech"
while [[ $(stat -c %s "$speech") -lt $((120 * 16000)) ]]; do
    cat "$root"/tests/data/vectors/encoder/s0*.pcm >>"$speech"
done
seconds=$(python3 -c "print($(stat -c %s "$speech") / 16000)")

tool() { echo "$tmp/$1-build/tools/prmcodec/prmcodec"; }
cpu() { # COMMAND...: prints the CPU seconds of the process
    if command -v perf >/dev/null && perf stat -x, -e task-clock -o "$tmp/stat" true 2>/dev/null; then
        # The scheduler's exact accounting; rusage is sampled at the timer tick.
        perf stat -x, -e task-clock -o "$tmp/stat" "$@" >/dev/null 2>&1
        awk -F, '/task-clock/ {print $1 / 1000}' "$tmp/stat"
    else
        python3 -c '
import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
u = resource.getrusage(resource.RUSAGE_CHILDREN)
print(u.ru_utime + u.ru_stime)' "$@"
    fi
}

for ((round = 1; round <= rounds; ++round)); do
    for side in old new; do
        "$tmp/$side-build/bench/codec_bench" --benchmark_filter="$filter" --benchmark_format=json \
            --benchmark_min_time=0.5 >"$tmp/$side-$round.json" 2>/dev/null
        # Each output is removed beforehand: freeing the previous round's file is no part of a
        # conversion, and replacing a 2 MB file costs the decoder's process about 3% of its time.
        for ((run = 1; run <= runs; ++run)); do
            rm -f "$tmp/$side.prm" "$tmp/$side.wav"
            echo "$(cpu "$(tool "$side")" encode --raw "$speech" "$tmp/$side.prm")" >>"$tmp/$side-encode"
            echo "$(cpu "$(tool "$side")" decode "$tmp/$side.prm" "$tmp/$side.wav")" >>"$tmp/$side-decode"
            echo "$(cpu "$(tool "$side")" --help)" >>"$tmp/$side-start"
        done
        # The two kernels again in slices about as long as one run of the tool each, for the
        # process/kernel figures: a run of 20 ms falls wholly in or out of a slow spell, where half
        # a second of benchmark averages over it.
        for slice in Encode:0.15 Decode:0.02; do
            "$tmp/$side-build/bench/codec_bench" --benchmark_filter="^BM_${slice%:*}Frame\$" \
                --benchmark_min_time="${slice#*:}" --benchmark_repetitions="$runs" --benchmark_format=json \
                >"$tmp/$side-slices-${slice%:*}-$round.json" 2>/dev/null
        done
    done
    echo "round $round of $rounds done"
done
cmp -s "$tmp/old.prm" "$tmp/new.prm" && echo "coded files: identical" || echo "coded files: DIFFER"

python3 - "$tmp" "$rounds" "$seconds" <<'EOF'
import json, statistics, sys
tmp, rounds, seconds = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
def times(side):
    out = {}
    for r in range(1, rounds + 1):
        with open(f"{tmp}/{side}-{r}.json") as f:
            for b in json.load(f)["benchmarks"]:
                out.setdefault(b["name"], []).append(b["cpu_time"])
    return out
old_all, new_all = times("old"), times("new")
old = {k: statistics.median(v) for k, v in old_all.items()}
new = {k: statistics.median(v) for k, v in new_all.items()}
print("\nmedians of the rounds, and old/new also at the fastest round of each (interference only slows)")
print(f"{'benchmark':<28}{'old ns':>12}{'new ns':>12}{'old/new':>10}{'fastest':>10}")
for name in new:
    if name in old:
        print(f"{name:<28}{old[name]:>12.0f}{new[name]:>12.0f}{old[name] / new[name]:>10.2f}"
              f"{min(old_all[name]) / min(new_all[name]):>10.2f}")
    else:
        print(f"{name:<28}{'-':>12}{new[name]:>12.0f}{'-':>10}{'-':>10}")
frame_seconds = 240 / 8000
if "BM_DecodeFrame" in new and "BM_DecodeEnhancedFrame" in new:
    print(f"\nenhanced decoding at {new['BM_DecodeFrame'] / new['BM_DecodeEnhancedFrame']:.2f} of the plain decoder's speed")
def values_of(path):
    with open(path) as f:
        return [float(line) for line in f if line.strip()]
def sliced(side, name):
    times = []
    for r in range(1, rounds + 1):
        with open(f"{tmp}/{side}-slices-{name}-{r}.json") as f:
            times += [b["cpu_time"] * 1e-9 for b in json.load(f)["benchmarks"] if b.get("run_type") == "iteration"]
    return times
print(f"\nwhole process on {seconds:.1f} s of speech, CPU seconds and x real time, beside the kernel's x real time")
print("the kernel is timed here in slices about as long as one run of the tool; process/kernel is given")
print("at the medians and at the fastest runs of each: a shared machine switches between two speeds for")
print("seconds at a time, so medians may mix the two, while the fastest runs of both are at the same")
print("speed; 'net' takes off the start of a process that only prints its help")
for step, name in (("encode", "Encode"), ("decode", "Decode")):
    for side in ("old", "new"):
        proc, start = values_of(f"{tmp}/{side}-{step}"), values_of(f"{tmp}/{side}-start")
        kernel = [t / frame_seconds * seconds for t in sliced(side, name)]  # seconds for the whole file
        cpu, k = statistics.median(proc), statistics.median(kernel)
        bare = min(proc) - min(start)
        net = f"{min(kernel) / bare:.2f}" if bare > 0 else "-"
        print(f"  {step} {side}: {cpu:7.3f} s  {seconds / cpu:6.0f}x  (kernel {seconds / k:.0f}x)  process/kernel:"
              f" medians {k / cpu:.2f}, fastest {min(kernel) / min(proc):.2f},"
              f" net of {min(start) * 1000:.1f} ms start {net}")
EOF
