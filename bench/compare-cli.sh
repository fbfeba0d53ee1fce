#!/bin/bash
# Runs two trimora-cli binaries on the same photographs and option sets and
# compares everything they produce: the files written (byte for byte), the
# standard output and error (with each run's output folder written as OUT),
# and the exit codes. Prints one line per difference and a summary; exits 1
# when anything differs.
#   bench/compare-cli.sh OLD/trimora-cli NEW/trimora-cli [work folder]
set -u
if [ $# -lt 2 ]; then echo "usage: $0 OLD-CLI NEW-CLI [WORK]" >&2; exit 2; fi
OLD=$(readlink -f "$1"); NEW=$(readlink -f "$2")
WORK=${3:-$(mktemp -d)}
mkdir -p "$WORK/photos"
P=$WORK/photos
for tool in convert exiftool; do
    command -v $tool >/dev/null || { echo "$0: needs $tool" >&2; exit 2; }
done

# ----- the photographs
make_photos() {
    local base="-size 1600x1200 plasma:red-blue -seed 7"
    convert $base -quality 90 "$P/plain.jpg"
    for n in 1 2 3 4 5 6 7 8; do
        cp "$P/plain.jpg" "$P/turned$n.jpg"
        exiftool -q -overwrite_original "-Orientation#=$n" "$P/turned$n.jpg"
    done
    convert -size 1000x800 gradient:yellow-navy -quality 92 "$P/adobe.jpg"
    local icc=/usr/share/color/icc/colord/AdobeRGB1998.icc
    [ -f "$icc" ] && exiftool -q -overwrite_original "-icc_profile<=$icc" "$P/adobe.jpg"
    cp "$P/adobe.jpg" "$P/adobe6.jpg"
    exiftool -q -overwrite_original "-Orientation#=6" "$P/adobe6.jpg"
    convert -size 1200x900 plasma: -colorspace Gray -quality 90 "$P/grey.jpg"
    convert -size 1000x750 plasma: -colorspace CMYK -quality 90 "$P/cmyk.jpg"
    convert -size 1280x960 plasma: -sampling-factor 2x1 -quality 90 "$P/s422.jpg"
    convert -size 1024x768 plasma: -interlace JPEG -quality 85 "$P/progressive.jpg"
    local size; size=$(stat -c %s "$P/plain.jpg")
    head -c $((size * 2 / 3)) "$P/plain.jpg" > "$P/truncated.jpg"
    cp "$P/plain.jpg" "$P/damaged.jpg"
    printf '\x00\x00\x00\x00\x00\x00\x00\x00' | dd of="$P/damaged.jpg" bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
    convert -size 640x480 plasma: "$P/small.jpg"
    convert -size 480x640 plasma: "$P/small6.jpg"
    exiftool -q -overwrite_original "-Orientation#=6" "$P/small6.jpg"
    echo "no photograph" > "$P/notjpeg.jpg"
    : > "$P/empty.jpg"
    cp "$P/plain.jpg" "$P/meta.jpg"
    exiftool -q -overwrite_original -Artist=Someone -XMP:Title=Test "-Orientation#=8" "$P/meta.jpg"
}
make_photos

ALL=("$P"/*.jpg)
# One option set a line; PHOTOS stands for every photograph.
OPTION_SETS=(
    "export PHOTOS"
    "export PHOTOS --format 2 --preset 6 --jobs 1"
    "export PHOTOS --format A4 --portrait --frame fit --jobs 2"
    "export PHOTOS --frame 100,50,1100,850 --no-lab-correction"
    "export PHOTOS --lossless --record-dpi --jobs 1"
    "export PHOTOS --keep-metadata --record-dpi --json"
    "export PHOTOS --keep-profile --json --jobs 3"
    "export PHOTOS --strict --json --keep-metadata"
    "export PHOTOS --lossless --keep-metadata --strict --frame center"
    "export PHOTOS --quality 70 --min-dpi 400 --preset Bright"
    "export $P --format 9x13 --json"
)
for photo in "${ALL[@]}"; do
    OPTION_SETS+=("preview $photo --box 236x230 --out OUT/p.ppm" "preview $photo --box 800x600 --strict --out OUT/p.bmp")
done
OPTION_SETS+=("formats" "curve --preset 3" "export" "export nothing.jpg --to" "preview $P/plain.jpg --box 900x10 --out OUT/p.ppm")

differences=0
runs=0
differ() { echo "DIFFERENT: $1"; differences=$((differences + 1)); }

run_one() {  # BINARY OUTDIR ARGS...
    local bin=$1 out=$2; shift 2
    local args=() a
    for a in "$@"; do args+=("${a//OUT/$out}"); done
    (cd "$WORK" && "$bin" "${args[@]}" >"$out.stdout" 2>"$out.stderr"; echo $? >"$out.code")
    sed -i "s|$out|OUT|g" "$out.stdout" "$out.stderr"
}

for set in "${OPTION_SETS[@]}"; do
    runs=$((runs + 1))
    read -r -a words <<<"$set"
    args=()
    for w in "${words[@]}"; do
        if [ "$w" = PHOTOS ]; then args+=("${ALL[@]}"); else args+=("$w"); fi
    done
    if [ "${words[0]}" = export ] && [ ${#words[@]} -gt 1 ] && [ "${words[1]}" != nothing.jpg ]; then
        args+=(--to OUT)
    fi
    rm -rf "$WORK/old" "$WORK/new"; mkdir -p "$WORK/old" "$WORK/new"
    run_one "$OLD" "$WORK/old" "${args[@]}"
    run_one "$NEW" "$WORK/new" "${args[@]}"
    # Workers running side by side say things in the order they get there:
    # their error streams are compared line for line, in any order.
    if [ "${words[0]}" = export ] && [[ "$set" != *"--jobs 1"* ]]; then
        sort -o "$WORK/old.stderr" "$WORK/old.stderr"
        sort -o "$WORK/new.stderr" "$WORK/new.stderr"
    fi
    for part in stdout stderr code; do
        if ! cmp -s "$WORK/old.$part" "$WORK/new.$part"; then
            differ "$set: $part"
            diff "$WORK/old.$part" "$WORK/new.$part" | head -6
        fi
    done
    old_files=$(cd "$WORK/old" && find . -type f | sort)
    new_files=$(cd "$WORK/new" && find . -type f | sort)
    [ "$old_files" = "$new_files" ] || differ "$set: the files written ($(echo $old_files) / $(echo $new_files))"
    for f in $old_files; do
        [ -f "$WORK/new/$f" ] && ! cmp -s "$WORK/old/$f" "$WORK/new/$f" && differ "$set: $f"
    done
done

echo "compare-cli: $runs runs on ${#ALL[@]} photographs, $differences differences (work folder $WORK)"
[ $differences -eq 0 ]
