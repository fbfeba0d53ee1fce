#!/usr/bin/env bash
# Times 13 MP HEIF photographs made from the benchmark wallpaper: a plain
# HEIC, one with an Adobe RGB profile (converted to sRGB) and a 10-bit one.
# For each: the program's decode to upright sRGB rows (bench/heif_bench.cpp)
# against libheif's own `heif-convert -q 95 in.heic out.jpg`, the fastest of
# RUNS in wall and in CPU time, and the peak memory of both (/usr/bin/time -v);
# then the whole `trimora-cli export` of the photograph (its 10x15 frame at
# quality 95) against the same heif-convert, and its peak memory (the target
# for a 13 MP photograph: at most 150 MiB, and no slower than heif-convert).
# Usage: bench/heif-bench.sh [BUILD_FOLDER] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
runs="${2:-5}"
for tool in heif-enc heif-convert convert; do
  command -v $tool >/dev/null || { echo "heif-bench: $tool missing (libheif-examples, imagemagick)" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "heif-bench: /usr/bin/time missing (time)" >&2; exit 1; }
cmake --build "$build" -j2 --target heif_bench trimora-cli
src=/usr/share/backgrounds/Kleiber_by_Lukas_Baubkus.jpg
[ -f "$src" ] || { echo "heif-bench: $src missing; run bench/install-bench-deps.sh" >&2; exit 1; }
photos="$build/bench-photos/heif"
mkdir -p "$photos"
# 4160 x 3120: a phone's 13 MP, with the same grain as the JPEG benchmarks.
make() {  # make NAME CONVERT_OPTIONS... -- HEIF_ENC_OPTIONS...
  local name=$1; shift
  [ -f "$photos/$name" ] && return 0
  local im=() enc=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do im+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  enc=("$@")
  local tmp="$photos/${name%.*}-source.${im[0]}"
  convert "$src" -resize "4160x3120^" -gravity center -extent 4160x3120 \
    -seed 7 -attenuate 0.25 +noise Gaussian "${im[@]:1}" "$tmp"
  heif-enc -q 90 "${enc[@]}" "$tmp" -o "$photos/$name" >/dev/null
  rm -f "$tmp"
}
make photo-13mp.heic jpg -quality 95 --
make photo-13mp-adobergb.heic jpg -profile /usr/share/color/icc/colord/AdobeRGB1998.icc -quality 95 --
make photo-13mp-10bit.heic png -depth 16 -- -b 10
scratch="$(mktemp -d /dev/shm/trimora-bench-XXXXXX 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

fastest() {  # fastest RUNS COMMAND...: the best wall time in ms
  local n=$1; shift
  local best=""
  for _ in $(seq "$n"); do
    local t0 t1
    t0=$(date +%s%N); "$@" >/dev/null 2>&1; t1=$(date +%s%N)
    local ms=$(( (t1 - t0) / 1000000 ))
    [ -z "$best" ] || [ "$ms" -lt "$best" ] && best=$ms
  done
  echo "$best"
}
cpu() {  # cpu RUNS COMMAND...: the least CPU time (user + system, all threads) in ms
  local n=$1; shift
  for _ in $(seq "$n"); do
    /usr/bin/time -f "%U %S" "$@" 2>&1 >/dev/null | tail -1
  done | awk '{ms = ($1 + $2) * 1000; if (NR == 1 || ms < best) best = ms} END {printf "%.0f", best}'
}
peak() {  # peak COMMAND...: the peak resident memory in MiB
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk '/Maximum resident/ {printf "%.0f", $6 / 1024}'
}

for f in photo-13mp.heic photo-13mp-adobergb.heic photo-13mp-10bit.heic; do
  in="$photos/$f"
  echo "== $f ($(( $(stat -c %s "$in") / 1024 )) KiB)"
  "$build/bench/heif_bench" "$in" "$runs"
  ours=$(fastest "$runs" "$build/bench/heif_bench" "$in" 1)
  theirs=$(fastest "$runs" heif-convert -q 95 "$in" "$scratch/out.jpg")
  theirs_wall=$theirs
  echo "whole process, wall: decode to rows $ours ms; heif-convert -q 95 $theirs ms; ratio $(awk -v a="$ours" -v b="$theirs" 'BEGIN {printf "%.2f", a / b}')"
  ours=$(cpu "$runs" "$build/bench/heif_bench" "$in" 1)
  theirs=$(cpu "$runs" heif-convert -q 95 "$in" "$scratch/out.jpg")
  echo "whole process, CPU: decode to rows $ours ms; heif-convert -q 95 $theirs ms; ratio $(awk -v a="$ours" -v b="$theirs" 'BEGIN {printf "%.2f", a / b}')"
  echo "peak memory: decode to rows $(peak "$build/bench/heif_bench" "$in" 1) MiB; heif-convert $(peak heif-convert -q 95 "$in" "$scratch/out.jpg") MiB"
  cli=("$build/cli/trimora-cli" export "$in" --to "$scratch")
  ours=$(fastest "$runs" "${cli[@]}")
  echo "trimora-cli export, wall: $ours ms; heif-convert -q 95 $theirs_wall ms; ratio $(awk -v a="$ours" -v b="$theirs_wall" 'BEGIN {printf "%.2f", a / b}')"
  ours=$(cpu "$runs" "${cli[@]}")
  echo "trimora-cli export, CPU: $ours ms; heif-convert -q 95 $theirs ms; ratio $(awk -v a="$ours" -v b="$theirs" 'BEGIN {printf "%.2f", a / b}')"
  echo "trimora-cli export, peak memory: $(peak "${cli[@]}") MiB (target: at most 150)"
done
