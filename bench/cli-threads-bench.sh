#!/usr/bin/env bash
# trimora-cli on one 24 MP photograph (two threads, one thread, lossless)
# against plain libjpeg, and on a batch of 40 x 12 MP; prints the ratios.
# Usage: bench/cli-threads-bench.sh [BUILD_FOLDER] [RUNS] [BASELINE_CLI]
#   BASELINE_CLI: an earlier trimora-cli (say, a build of main) to hold the
#   batch time against.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
runs="${2:-7}"
baseline="${3:-}"
bash bench/install-bench-deps.sh
[ -f "$build/build.ninja" ] || [ -f "$build/Makefile" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2 --target cli_threads_bench trimora-cli
photos="$build/bench-photos"
bash bench/make-bench-photos.sh "$photos"
scratch="$(mktemp -d /dev/shm/trimora-bench-XXXXXX 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
"$build/bench/cli_threads_bench" "$(realpath "$photos")" "$scratch" "$(realpath "$build/cli/trimora-cli")" "$runs" \
  ${baseline:+"$(realpath "$baseline")"}
