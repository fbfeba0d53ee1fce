#!/usr/bin/env bash
# Builds the benchmarks, makes the photographs once, and prints every ratio
# the image pipeline is held to in one run.
# Usage: bench/run-benchmarks.sh [BUILD_FOLDER] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
runs="${2:-7}"
bash bench/install-bench-deps.sh
[ -f "$build/build.ninja" ] || [ -f "$build/Makefile" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2 --target pipeline_bench export_rss pump_bench
photos="$build/bench-photos"
bash bench/make-bench-photos.sh "$photos"
# tmpfs when there is one: the destination disk's speed is not the pipeline's.
scratch="$(mktemp -d /dev/shm/trimora-bench-XXXXXX 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
status=0
"$build/bench/pipeline_bench" "$(realpath "$photos")" "$scratch" "$runs" "$(realpath "$build/bench/export_rss")" || status=1
echo
QT_QPA_PLATFORM=offscreen "$build/bench/pump_bench" "$(realpath "$photos")/photo-24mp.jpg" "$runs" || status=1
echo
bash bench/cli-threads-bench.sh "$build" "$runs" || status=1
echo
bash bench/orient-bench.sh "$build" "$runs" || status=1
echo
bash bench/whole-bench.sh "$build" "$runs" || status=1
# The storage browser and the tone presets, where Google Benchmark is there.
for b in browse_bench tone_bench; do
  if cmake --build "$build" -j2 --target "$b" >/dev/null 2>&1; then
    echo
    QT_QPA_PLATFORM=offscreen "$build/bench/$b" || status=1
  fi
done
exit $status
