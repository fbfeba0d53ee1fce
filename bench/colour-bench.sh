#!/usr/bin/env bash
# A 24 MP photograph with an Adobe RGB (and a ProPhoto) profile against the
# same photograph without one: export and preview; prints the ratios.
# Usage: bench/colour-bench.sh [BUILD_FOLDER] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
runs="${2:-7}"
bash bench/install-bench-deps.sh
[ -f "$build/build.ninja" ] || [ -f "$build/Makefile" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2 --target colour_bench
photos="$build/bench-photos"
bash bench/make-bench-photos.sh "$photos"
scratch="$(mktemp -d /dev/shm/trimora-bench-XXXXXX 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
"$build/bench/colour_bench" "$(realpath "$photos")/photo-24mp.jpg" "$scratch" "$runs"
