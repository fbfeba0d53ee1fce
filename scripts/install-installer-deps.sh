#!/usr/bin/env bash
# Installs what the Windows installer needs to be cross-built and tested:
# the mingw-w64 cross toolchain (compiler and windres), Wine to run the result,
# and a virtual X server for Wine's windows. Safe to run again: packages that are
# already present are left alone.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64
  binutils-mingw-w64-x86-64
  wine
  wine64
  xvfb
  xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "installer dependencies already installed"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
