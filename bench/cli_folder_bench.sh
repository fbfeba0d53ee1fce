#!/usr/bin/env bash
# trimora-cli against its peers on a folder of 40 photographs of 12 MP
# (4000 x 3000): every photograph framed in "10x15 cm" (lab correction on,
# landscape, frame as fitted) and its framed part written as a JPEG at
# quality 95, two at a time. The peers do the same work: `vips crop` and
# ImageMagick's `convert -crop`, each process held to one thread and run two
# at a time, writing the same 4000 x 2684 rectangle baseline at quality 95
# with 4:2:0 chroma and no metadata, as trimora-cli writes it.
#
# Prints wall time (median of the runs) and peak resident memory per tool,
# and the ratios. Peak memory is the process's own for trimora-cli (one
# process, two workers); for a peer it is the largest single process, which
# two at a time roughly doubles.
#
# Usage: bench/cli_folder_bench.sh [runs]     (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}

bash bench/install-cli-bench-deps.sh
build=build-bench-cli
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRIMORA_BUILD_GUI=OFF \
  -DTRIMORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target trimora-cli >/dev/null
cli="$PWD/$build/cli/trimora-cli"

# ImageMagick 6's own binary, whatever a `convert` earlier on PATH may be.
magick=$(command -v convert-im6.q16 || command -v convert)
timer=/usr/bin/time

# The photographs: 4000 x 3000 cuts of the real camera pictures that Debian's
# lomiri-wallpapers-20.04 ships (CC-BY-SA; see its copyright file), each at
# another offset, some mirrored, with a camera's fine grain added back after
# scaling, saved as a camera would (quality 92, 4:2:0).
photos="$PWD/$build/photos"
mkdir -p "$photos"
if [ "$(ls "$photos" | wc -l)" -ne 40 ] || [ ! -f "$photos/.grain" ]; then
  rm -f "$photos"/*
  sources=(/usr/share/backgrounds/*.jpg)
  for i in $(seq 0 39); do
    src=${sources[$((i % ${#sources[@]}))]}
    gravity=(NorthWest North NorthEast West Center East SouthWest South SouthEast Center)
    flop=""; [ $((i % 3)) -eq 1 ] && flop="-flop"
    MAGICK_THREAD_LIMIT=2 "$magick" "$src" -resize '4400x3300^' -gravity "${gravity[$((i / 4))]}" \
      -crop 4000x3000+0+0 +repage $flop \
      -seed "$i" -attenuate 0.25 +noise Gaussian -strip -sampling-factor 2x2,1x1,1x1 -quality 92 \
      "$photos/img_$(printf %04d $((i + 1))).jpg"
  done
  touch "$photos/.grain"
fi
cat "$photos"/*.jpg >/dev/null  # the same warm page cache for every tool

work=$(mktemp -d /tmp/trimora-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export VIPS_CONCURRENCY=1 MAGICK_THREAD_LIMIT=1

run_trimora() {
  "$timer" -f %M -o "$work/mem" "$cli" export "$photos"/*.jpg --to "$1" --jobs 2 >/dev/null
}
run_vips() {
  ls "$photos"/*.jpg | xargs -P 2 -I{} sh -c \
    'n=$(basename "$1" .jpg); exec "$0" -f %M -a -o "$2/mem" vips crop "$1" "$3/${n}_10x15.jpg[Q=95,strip,subsample-mode=on]" 0 0 4000 2684' \
    "$timer" {} "$work" "$1"
}
run_magick() {
  ls "$photos"/*.jpg | xargs -P 2 -I{} sh -c \
    'n=$(basename "$1" .jpg); exec "$0" -f %M -a -o "$2/mem" "$4" "$1" -crop 4000x2684+0+0 +repage -strip -sampling-factor 2x2,1x1,1x1 -quality 95 "$3/${n}_10x15.jpg"' \
    "$timer" {} "$work" "$1" "$magick"
}

declare -A seconds memory
for tool in trimora vips magick; do
  times=()
  peak=0
  for r in $(seq 1 "$runs"); do
    out="$work/out-$tool"
    rm -rf "$out"; mkdir -p "$out"; : >"$work/mem"
    start=$(date +%s.%N)
    "run_$tool" "$out"
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc -l)")
    m=$(sort -n "$work/mem" | tail -1)
    [ "$m" -gt "$peak" ] && peak=$m
    # Same work: 40 files of 4000 x 2684.
    count=$(ls "$out" | wc -l)
    size=$(vipsheader -f width "$out/img_0001_10x15.jpg")x$(vipsheader -f height "$out/img_0001_10x15.jpg")
    if [ "$count" -ne 40 ] || [ "$size" != 4000x2684 ]; then
      echo "$tool wrote $count files of $size; expected 40 of 4000x2684" >&2
      exit 1
    fi
  done
  seconds[$tool]=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  memory[$tool]=$peak
  printf '%-8s %7.2f s (median of %d)   peak %7d KiB   runs: %s\n' "$tool" "${seconds[$tool]}" "$runs" \
    "$peak" "${times[*]}"
done

for peer in vips magick; do
  printf 'trimora-cli vs %-6s: %.2fx faster, peak memory %.3f of theirs (%.3f of two at a time)\n' "$peer" \
    "$(echo "${seconds[$peer]} / ${seconds[trimora]}" | bc -l)" \
    "$(echo "${memory[trimora]} / ${memory[$peer]}" | bc -l)" \
    "$(echo "${memory[trimora]} / (2 * ${memory[$peer]})" | bc -l)"
done
