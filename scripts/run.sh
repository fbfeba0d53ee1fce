#!/usr/bin/env bash
# Installs what is missing for running, builds the two programs (the window
# and trimora-cli) and the sample card, nothing else, and starts Trimora.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-run-deps.sh
bash scripts/build.sh trimora trimora-cli sample_card
args=("$@")
# Without --root the program would show the whole host as its storage; a
# newcomer gets the bundled sample card instead. A photograph given to open
# brings its own storage.
own_storage=no
for a in "$@"; do
  case "${a,,}" in --root | --root=* | *.jpg | *.jpeg | *.heic | *.heif | *.hif | *.avif) own_storage=yes ;; esac
done
if [ $own_storage = no ] && [ -d build/sample-card ]; then
  args=(--root "$PWD/build/sample-card" "${args[@]}")
fi
exec ./build/app/trimora "${args[@]}"
