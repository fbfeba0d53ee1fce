#!/usr/bin/env bash
# Makes the sample storage card that the run command opens Trimora on: a few
# photographs in \DCIM\ of different sizes and orientations, so that a
# newcomer can open, frame, adjust and export at once.
# Usage: make-sample-card.sh OUTPUT_FOLDER
set -euo pipefail
out="${1:?usage: make-sample-card.sh OUTPUT_FOLDER}"
command -v convert >/dev/null || { echo "make-sample-card: ImageMagick's convert is needed" >&2; exit 1; }
mkdir -p "$out/DCIM/100TRIMO" "$out/Storage Card"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# Real photographs from Debian's lomiri-wallpapers-20.04 when it is there
# (credited in the card's CREDITS.txt); drawn scenes otherwise.
walls=/usr/share/backgrounds
photo() {  # photo SOURCE W H OUTPUT: scaled to cover W x H, centre cropped
  convert "$walls/$1" -resize "${2}x${3}^" -gravity center -extent "${2}x${3}" \
    -strip -sampling-factor 2x2 -quality 90 "$4"
}

# scene W H SEED SKY_TOP SKY_BOTTOM GROUND_DARK GROUND_LIGHT OUTPUT
scene() {
  local w=$1 h=$2 seed=$3 top=$4 bottom=$5 dark=$6 light=$7 dst=$8
  local horizon=$((h * 3 / 5)) sun=$((w / 12))
  convert -size "${w}x${horizon}" "gradient:${top}-${bottom}" "$tmp/sky.png"
  convert -size "${w}x$((h - horizon))" -seed "$seed" plasma:fractal -blur 0x2 -colorspace gray \
    +level-colors "$dark,$light" "$tmp/ground.png"
  convert "$tmp/sky.png" "$tmp/ground.png" -append \
    -fill '#fff3c4' -draw "circle $((w * 7 / 10)),$((h / 5)) $((w * 7 / 10 + sun)),$((h / 5))" \
    -fill '#2f5d34' -draw "polygon 0,$horizon $((w / 4)),$((horizon - h / 8)) $((w / 2)),$horizon" \
    -fill '#3f6f3a' -draw "polygon $((w / 3)),$horizon $((w * 2 / 3)),$((horizon - h / 6)) $w,$horizon" \
    -seed "$seed" -attenuate 0.4 +noise Gaussian \
    -sampling-factor 2x2 -quality 90 "$dst"
}

d="$out/DCIM/100TRIMO"
if [ -f "$walls/Kleiber_by_Lukas_Baubkus.jpg" ] && [ -f "$walls/Infinite-Sea_by_Aury88.jpg" ]; then
  photo Kleiber_by_Lukas_Baubkus.jpg 2400 1600 "$d/IMG_0001.JPG"
  photo Infinite-Sea_by_Aury88.jpg 1200 1600 "$d/IMG_0002.JPG"
  photo Painting-Colors_by__herobrine7gamer.jpg 3000 2000 "$d/img_0003.jpg"
  photo Fossa_by_Jasper_Roks.jpg 2048 1536 "$d/img_0004.jpg"
  photo Kleiber_by_Lukas_Baubkus.jpg 800 600 "$out/DCIM/img_0005.jpg"
  # Too small for a print: the program refuses it with a message.
  photo Infinite-Sea_by_Aury88.jpg 640 480 "$out/DCIM/small_0006.jpg"
  cat > "$out/DCIM/CREDITS.txt" <<'TXT'
Scaled and cropped from Debian's lomiri-wallpapers-20.04:
IMG_0001.JPG, img_0005.jpg: "Kleiber" by Lukas Baubkus
IMG_0002.JPG, small_0006.jpg: "Infinite Sea" by Aury88
img_0003.jpg: "Painting Colors" by herobrine7gamer
img_0004.jpg: "Fossa" by Jasper Roks
Licences (CC-BY-SA / CC-BY) as in /usr/share/doc/lomiri-wallpapers-20.04/copyright;
these derived pictures are shared under the same terms.
TXT
else
  scene 1600 1200 11 '#4a7fc1' '#cfe3f5' '#3b5323' '#c3b091' "$d/IMG_0001.JPG"
  scene 1200 1600 12 '#2d5f9e' '#f2d7b6' '#254d1f' '#d2b48c' "$d/IMG_0002.JPG"
  scene 3000 2000 13 '#1e3f73' '#f7b267' '#6b3a1e' '#f5deb3' "$d/img_0003.jpg"
  scene 2048 1536 14 '#6b8fb3' '#dfe9f1' '#2e5e4e' '#f0f0c8' "$d/img_0004.jpg"
  scene 800 600 15 '#5b86b8' '#e8eef4' '#556b2f' '#e8dcc0' "$out/DCIM/img_0005.jpg"
  # Too small for a print: the program refuses it with a message.
  scene 640 480 16 '#5b86b8' '#e8eef4' '#556b2f' '#e8dcc0' "$out/DCIM/small_0006.jpg"
fi
cat > "$out/DCIM/README.txt" <<'TXT'
Sample photographs for trying Trimora (made by samples/make-sample-card.sh).
small_0006.jpg is smaller than 800 x 600 on purpose: Trimora refuses it.
Exports can go into "\Storage Card\" or beside the photographs.
TXT
