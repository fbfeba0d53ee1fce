#!/usr/bin/env bash
# Times photographs stored on their side: makes the 24 MP benchmark
# photograph, copies of it tagged with EXIF Orientation 3, 6 and 8
# (exiftool), and runs bench/orient_bench.cpp on them.
# Usage: bench/orient-bench.sh [BUILD_FOLDER] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
runs="${2:-7}"
command -v exiftool >/dev/null || { echo "orient-bench: exiftool missing (libimage-exiftool-perl)" >&2; exit 1; }
cmake --build "$build" -j2 --target orient_bench export_rss
photos="$build/bench-photos"
bash bench/make-bench-photos.sh "$photos"
turned="$build/bench-photos/turned"
mkdir -p "$turned"
for tag in 3 6 8; do
  f="$turned/turned-$tag.jpg"
  if [ ! -f "$f" ]; then
    cp "$photos/photo-24mp.jpg" "$f.part"
    exiftool -q -Orientation#=$tag -overwrite_original "$f.part"
    mv "$f.part" "$f"
  fi
done
scratch="$(mktemp -d /dev/shm/trimora-bench-XXXXXX 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
"$build/bench/orient_bench" "$(realpath "$photos/photo-24mp.jpg")" "$(realpath "$turned")" "$scratch" "$runs" \
  "$(realpath "$build/bench/export_rss")"
