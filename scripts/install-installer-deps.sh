#!/usr/bin/env bash
# Installs what the Windows installer needs to be cross-built and tested:
# the mingw-w64 cross toolchain (compiler and windres), Wine to run the result,
# and a virtual X server for Wine's windows.
set -euo pipefail
bash "$(cd "$(dirname "$0")" && pwd)/apt-install.sh" \
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 xvfb xauth
