#!/usr/bin/env bash
# Installs what is missing, builds and starts Trimora.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
args=("$@")
# Without --root the program would show the whole host as its storage; a
# newcomer gets the bundled sample card instead.
if [[ " ${args[*]-} " != *" --root "* ]] && [ -d build/sample-card ]; then
  args=(--root "$PWD/build/sample-card" "${args[@]}")
fi
exec ./build/app/trimora "${args[@]}"
