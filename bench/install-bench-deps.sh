#!/usr/bin/env bash
# Installs what the benchmarks need beyond the build: real camera photographs
# to derive the test pictures from, and the peers they are compared with
# (libvips' command-line tool, ImageMagick, libjpeg-turbo's djpeg/cjpeg).
# Not part of the test path: tests make their own pictures.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
PACKAGES=(lomiri-wallpapers-20.04 libvips-tools imagemagick libjpeg-turbo-progs)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
