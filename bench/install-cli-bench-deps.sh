#!/usr/bin/env bash
# Installs what bench/cli_folder_bench.sh needs besides the build: the two
# peers it is measured against (libvips' command-line tools and ImageMagick),
# real camera photographs to make its folder from, GNU time for peak memory
# and bc for the ratios. Safe to run again: packages already present are left
# alone.
set -euo pipefail

packages=(libvips-tools imagemagick lomiri-wallpapers-20.04 time bc)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
