#!/usr/bin/env bash
# Installs what bench/cli_folder_bench.sh needs besides the build: the two
# peers it is measured against (libvips' command-line tools and ImageMagick),
# real camera photographs to make its folder from, GNU time for peak memory
# and bc for the ratios.
set -euo pipefail
bash "$(cd "$(dirname "$0")/.." && pwd)/scripts/apt-install.sh" libvips-tools imagemagick lomiri-wallpapers-20.04 time bc
