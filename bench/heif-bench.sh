#!/usr/bin/env bash
# Times 13 MP HEIF photographs made from the benchmark wallpaper: a plain
# HEIC, one with an Adobe RGB profile (converted to sRGB) and a 10-bit one.
# For each: the program's decode to upright sRGB rows (bench/heif_bench.cpp,
# on one thread and on every core), then the whole `trimora-cli export` of
# the photograph (its centred 10x15 frame at quality 95) against libheif's
# own `heif-convert -q 95 in.heic out.jpg` and libvips' `vips crop` of the
# same frame at Q=95: the fastest of RUNS rounds (each round runs the three
# once, so a burst of load hits all alike) in wall and in CPU time (user +
# system, all threads), and the peak memory (/usr/bin/time).
# Targets: the export's wall time no more than heif-convert's and less than
# vips crop's; its peak memory at most 150 MiB for the 8-bit photographs
# (a 10-bit one's is reported: libheif's own buffer of the whole picture at
# 16 bits a sample is most of it).
# Usage: bench/heif-bench.sh [BUILD_FOLDER] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
runs="${2:-5}"
for tool in heif-enc heif-convert convert vips; do
  command -v $tool >/dev/null || { echo "heif-bench: $tool missing; run bench/install-bench-deps.sh" >&2; exit 1; }
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

once() {  # once COMMAND...: "wall_ms cpu_ms peak_MiB" of one run; fails with it
  local t0 t1
  t0=$(date +%s%N)
  /usr/bin/time -f "%U %S %M" -o "$scratch/time" "$@" >/dev/null 2>&1 || return 1
  t1=$(date +%s%N)
  awk -v wall=$(( (t1 - t0) / 1000000 )) 'END {printf "%d %.0f %.0f\n", wall, ($1 + $2) * 1000, $3 / 1024}' "$scratch/time"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

pass=1
for f in photo-13mp.heic photo-13mp-adobergb.heic photo-13mp-10bit.heic; do
  in="$photos/$f"
  echo "== $f ($(( $(stat -c %s "$in") / 1024 )) KiB)"
  "$build/bench/heif_bench" "$in" "$runs" 1 | sed 's/^best/one thread: best/' | tail -2
  "$build/bench/heif_bench" "$in" "$runs" | sed 's/^best/every core: best/' | tail -2
  # The frame the export writes, centred as trimora-cli centres it.
  json=$("$build/cli/trimora-cli" export "$in" --to "$scratch" --json)
  w=$(grep -o '"width_px":[0-9]*' <<<"$json" | cut -d: -f2)
  h=$(grep -o '"height_px":[0-9]*' <<<"$json" | cut -d: -f2)
  left=$(( ($(vipsheader -f width "$in") - w) / 2 )) top=$(( ($(vipsheader -f height "$in") - h) / 2 ))
  names=(trimora-cli heif-convert vips)
  commands=("$build/cli/trimora-cli export $in --to $scratch"
            "heif-convert -q 95 $in $scratch/out.jpg"
            "vips crop $in $scratch/crop.jpg[Q=95] $left $top $w $h")
  wall=(999999 999999 999999) cpu=(999999 999999 999999) peak=(0 0 0)
  for round in $(seq 0 "$runs"); do
    for i in 0 1 2; do
      # shellcheck disable=SC2086  # the commands are words without spaces
      read -r t c m < <(once ${commands[$i]}) || { echo "heif-bench: ${names[$i]} failed on $f" >&2; exit 1; }
      [ "$round" -eq 0 ] && continue  # the warm-up round
      [ "$t" -lt "${wall[$i]}" ] && wall[$i]=$t
      [ "$c" -lt "${cpu[$i]}" ] && cpu[$i]=$c
      [ "$m" -gt "${peak[$i]}" ] && peak[$i]=$m
    done
  done
  echo "frame ${w}x${h} at ($left, $top), best of $runs rounds:"
  for i in 0 1 2; do
    printf '  %-13s wall %5d ms  CPU %5d ms  peak %4d MiB\n' "${names[$i]}" "${wall[$i]}" "${cpu[$i]}" "${peak[$i]}"
  done
  echo "  ours/heif-convert: wall $(ratio "${wall[0]}" "${wall[1]}"), CPU $(ratio "${cpu[0]}" "${cpu[1]}")"
  echo "  ours/vips crop:    wall $(ratio "${wall[0]}" "${wall[2]}"), CPU $(ratio "${cpu[0]}" "${cpu[2]}")"
  verdict=""
  [ "${wall[0]}" -le "${wall[1]}" ] || verdict+=" slower than heif-convert;"
  [ "${wall[0]}" -lt "${wall[2]}" ] || verdict+=" not faster than vips crop;"
  if [ "$f" = photo-13mp-10bit.heic ]; then
    echo "  peak memory ${peak[0]} MiB (10 bits: for information, no target)"
  else
    [ "${peak[0]}" -le 150 ] || verdict+=" peak memory above 150 MiB;"
  fi
  if [ -n "$verdict" ]; then pass=0; echo "  MISSED:$verdict"; else echo "  targets met"; fi
done
if [ $pass -eq 1 ]; then echo; echo "all targets met"; else echo; echo "SOME TARGETS MISSED"; exit 1; fi
