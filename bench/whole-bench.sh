#!/usr/bin/env bash
# Times the whole photograph on a white print against a plain full-frame
# export of the same photograph (bench/whole_bench.cpp), on the 12 and 24 MP
# benchmark photographs.
# Usage: bench/whole-bench.sh [BUILD_FOLDER] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
runs="${2:-7}"
cmake --build "$build" -j2 --target whole_bench export_rss
photos="$build/bench-photos"
bash bench/make-bench-photos.sh "$photos"
scratch="$(mktemp -d /dev/shm/trimora-bench-XXXXXX 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
"$build/bench/whole_bench" "$(realpath "$photos")" "$scratch" "$runs" "$(realpath "$build/bench/export_rss")"
