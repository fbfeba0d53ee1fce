#!/usr/bin/env bash
# Installs what building, running and testing Trimora needs on Debian 12
# (the run command needs less: scripts/install-run-deps.sh).
# Safe to run again: packages already there are left alone.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

bash "$here/apt-install.sh" \
  build-essential cmake ninja-build pkg-config \
  qt6-base-dev qt6-base-dev-tools libgl-dev \
  libjpeg62-turbo-dev libjpeg-turbo-progs libturbojpeg0-dev \
  liblcms2-dev libexiv2-dev libimage-exiftool-perl exiv2 icc-profiles-free colord-data \
  libheif-dev libde265-dev libheif-examples \
  libgtest-dev libgmock-dev googletest libbenchmark-dev \
  xvfb xauth imagemagick fonts-dejavu-core lomiri-wallpapers-20.04 \
  xdotool desktop-file-utils appstream bash-completion man-db dpkg-dev file \
  clang libclang-rt-14-dev

for extra in "$here"/install-*-deps.sh; do
  [ -e "$extra" ] && bash "$extra"
done
exit 0
