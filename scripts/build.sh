#!/usr/bin/env bash
# Configures and builds into build/ (Ninja, RelWithDebInfo).
#   build.sh            everything, tests included
#   build.sh TARGET...  only these targets, without the tests' configuration
#                       (GoogleTest need not be installed)
set -euo pipefail
cd "$(dirname "$0")/.."
tests=ON
[ $# -gt 0 ] && tests=OFF
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRIMORA_BUILD_TESTS=$tests >/dev/null
if [ $# -gt 0 ]; then
  cmake --build build --parallel "$(nproc)" --target "$@"
else
  cmake --build build --parallel "$(nproc)"
fi
