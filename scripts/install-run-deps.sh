#!/usr/bin/env bash
# Installs only what building and running Trimora needs on Debian 12: the
# compiler, Qt and libjpeg, the header-only CLI11 and nlohmann-json that
# trimora-cli and order files are built with, and what the sample storage
# card is made from.
# The test command installs the rest (scripts/install-deps.sh).
set -euo pipefail
bash "$(cd "$(dirname "$0")" && pwd)/apt-install.sh" \
  build-essential cmake ninja-build pkg-config \
  qt6-base-dev qt6-base-dev-tools libgl-dev libjpeg62-turbo-dev libturbojpeg0-dev \
  liblcms2-dev libexiv2-dev libheif-dev libde265-dev libcli11-dev nlohmann-json3-dev \
  fonts-dejavu-core imagemagick lomiri-wallpapers-20.04 \
  file
