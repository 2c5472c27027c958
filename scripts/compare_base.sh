#!/usr/bin/env bash
# Index and station speed of this checkout beside a base commit, measured in one sitting.
#
# Builds the base (11c51bc unless given) in a worktree of its own under $OUT, and this
# checkout, both as the default preset builds them (RelWithDebInfo), then runs ndx_bench
# (exclusive and shared seeks, appends, the build, counted walks) and station_bench (two
# writers beside eight counting walkers) for base and head in turn, round after round,
# so that a machine's drift reaches both alike. Prints each case's median for base and
# head and their ratio (head / base: above 1 is slower for times, faster for rates).
#
# Run it on a quiet machine: every other load shows in the figures.
#
#   scripts/compare_base.sh [base-commit]
#   ROUNDS=5            rounds of ndx_bench (each builds and walks a 1,000,000-row table)
#   STATION_ROUNDS=17   rounds of the writers-beside-walkers case
#   OUT=build-compare   where the base worktree, both builds and the raw JSON go
#   JOBS=4              build jobs
#
# The base is built with this checkout's bench/ sources when they build there (so that
# cases added since, such as the exclusive seek, are measured for both), else with its own.
set -euo pipefail

root=$(git rev-parse --show-toplevel)
base=${1:-11c51bc}
rounds=${ROUNDS:-5}
stationRounds=${STATION_ROUNDS:-17}
out=$(realpath -m "${OUT:-$root/build-compare}")
jobs=${JOBS:-4}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

mkdir -p "$out/json"
src="$out/base-src"
if [ ! -d "$src" ]; then
    git -C "$root" worktree add --detach "$src" "$base"
else
    git -C "$src" checkout --quiet --detach "$base"
fi

build() {  # build <source> <build dir>
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
    ninja -C "$2" -j "$jobs" ndx_bench station_bench
}

# The base with this checkout's benchmarks where they build there; else with this checkout's
# ndx_bench alone (its cases need nothing newer); else with its own.
overlay() {  # overlay <files...>
    git -C "$src" checkout --quiet -- bench
    for f in "$@"; do cp "$root/bench/$f" "$src/bench/"; done
    build "$src" "$out/base" >"$out/base-overlay.log" 2>&1
}
if ! overlay $(cd "$root/bench" && ls *.cpp *.h); then
    if overlay ndx_bench.cpp; then
        echo "head's bench/ does not build on $base: only its ndx_bench.cpp is used"
    else
        echo "head's bench/ does not build on $base (see $out/base-overlay.log): its own is used"
        overlay
    fi
fi
build "$root" "$out/head" >/dev/null

ndxFilter='BM_FindRandomKeyExclusive|BM_FindRandomKey$|BM_AppendFiveTags|BM_BuildFiveTags|BM_OrderedScan|BM_NaturalScan'
stationFilter='BM_EightCountingWalkersTwoWriters|BM_ReaderSeeks|BM_ReaderSteps'

run() {  # run <side> <program> <filter> <round>
    local side=$1 prog=$2 filter=$3 round=$4
    (cd "$out" && "$out/$side/bench/$prog" --benchmark_filter="$filter" \
        --benchmark_format=json >"$out/json/$prog-$side-$round.json" 2>/dev/null) ||
        echo "$side $prog round $round failed" >&2
}

for ((r = 1; r <= rounds; ++r)); do
    echo "ndx_bench round $r of $rounds"
    if ((r % 2)); then order=(base head); else order=(head base); fi
    for side in "${order[@]}"; do run "$side" ndx_bench "$ndxFilter" "$r"; done
done
for ((r = 1; r <= stationRounds; ++r)); do
    echo "station_bench round $r of $stationRounds"
    if ((r % 2)); then order=(base head); else order=(head base); fi
    for side in "${order[@]}"; do run "$side" station_bench "$stationFilter" "$r"; done
done

python3 - "$out/json" <<'EOF'
import glob, json, os, statistics, sys
folder = sys.argv[1]
# name -> side -> figure -> [values]
figures = {}
for path in sorted(glob.glob(os.path.join(folder, "*.json"))):
    side = "base" if "-base-" in os.path.basename(path) else "head"
    try:
        doc = json.load(open(path))
    except (OSError, ValueError):
        continue
    for b in doc.get("benchmarks", []):
        if b.get("run_type") == "aggregate":
            continue
        keep = {"real_time": b.get("real_time"), "cpu_time": b.get("cpu_time")}
        for k, v in b.items():
            if k.endswith(("_per_s", "_ms", "_per_find", "_1202")) or k == "items_per_second":
                keep[k] = v
        for k, v in keep.items():
            if isinstance(v, (int, float)):
                figures.setdefault(b["name"], {}).setdefault(side, {}).setdefault(k, []).append(v)
print(f"{'case':58} {'figure':24} {'base':>12} {'head':>12} {'head/base':>9} {'rounds':>6}")
for name in sorted(figures):
    sides = figures[name]
    for k in sorted(set(sides.get("base", {})) | set(sides.get("head", {}))):
        b = sides.get("base", {}).get(k, [])
        h = sides.get("head", {}).get(k, [])
        mb = statistics.median(b) if b else float("nan")
        mh = statistics.median(h) if h else float("nan")
        ratio = mh / mb if b and h and mb else float("nan")
        print(f"{name[:58]:58} {k[:24]:24} {mb:12.4g} {mh:12.4g} {ratio:9.3f} {min(len(b), len(h)):6}")
EOF
