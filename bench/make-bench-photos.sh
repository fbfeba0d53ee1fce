#!/usr/bin/env bash
# Makes the benchmark photographs: 2, 12 and 24 megapixels, 4:3, 4:2:0,
# quality 90, baseline, plus a progressive copy of the 24 MP one. Derived from
# "Kleiber" by Lukas Baubkus in Debian's lomiri-wallpapers-20.04 (CC-BY-SA,
# see /usr/share/doc/lomiri-wallpapers-20.04/copyright); a little noise is
# added back after scaling so the pictures keep a camera's fine grain.
# Usage: make-bench-photos.sh OUTPUT_FOLDER
set -euo pipefail
out="${1:?usage: make-bench-photos.sh OUTPUT_FOLDER}"
src=/usr/share/backgrounds/Kleiber_by_Lukas_Baubkus.jpg
[ -f "$src" ] || { echo "make-bench-photos: $src missing; run bench/install-bench-deps.sh" >&2; exit 1; }
mkdir -p "$out"
make() {  # make W H NAME
  [ -f "$out/$3" ] && return 0
  convert "$src" -resize "${1}x${2}^" -gravity center -extent "${1}x${2}" \
    -seed 7 -attenuate 0.25 +noise Gaussian \
    -strip -sampling-factor 2x2 -quality 90 "$out/$3"
}
make 1632 1224 photo-2mp.jpg
make 4000 3000 photo-12mp.jpg
make 5664 4248 photo-24mp.jpg
[ -f "$out/photo-24mp-progressive.jpg" ] ||
  jpegtran -progressive -outfile "$out/photo-24mp-progressive.jpg" "$out/photo-24mp.jpg"
cat > "$out/CREDITS.txt" <<'TXT'
Scaled, cropped and grained from "Kleiber" by Lukas Baubkus, Debian's
lomiri-wallpapers-20.04; shared under the same licence (CC-BY-SA).
TXT
