#!/usr/bin/env bash
# Installs what the benchmarks need beyond the build: real camera photographs
# to derive the test pictures from, and the peers they are compared with
# (libvips' command-line tool, ImageMagick, libjpeg-turbo's djpeg/cjpeg,
# libheif's heif-enc and heif-convert), and exiftool, which tags photographs
# as stored on their side.
# Not part of the test path: tests make their own pictures.
set -euo pipefail
bash "$(cd "$(dirname "$0")/.." && pwd)/scripts/apt-install.sh" lomiri-wallpapers-20.04 libvips-tools imagemagick libjpeg-turbo-progs libimage-exiftool-perl \
  libheif-examples
