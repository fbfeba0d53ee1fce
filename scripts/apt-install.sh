#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are not there
# yet; with sudo when not run as root. Every install script goes through it.
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "Missing packages, and neither root nor sudo to install them: as root, run" \
         "'apt-get install --no-install-recommends ${missing[*]}', then this script again." >&2
    exit 1
  fi
  SUDO=(sudo)
fi
# sudo drops the environment, so the non-interactive front end is passed on
# the command line.
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
