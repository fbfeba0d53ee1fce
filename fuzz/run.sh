#!/usr/bin/env bash
# A longer fuzzing run of decoding and export (not part of the tests):
#   bash fuzz/run.sh [SECONDS] [more libFuzzer options]
# FUZZ=order or FUZZ=dpof fuzzes the order file or print marks parser instead
# (their seeds: fuzz/seeds/order, fuzz/seeds/dpof).
# SECONDS 0 only builds the target and runs each seed through it once.
# Builds the libFuzzer target with clang in build-fuzz/ (AddressSanitizer and
# UBSan included), starts from the seed corpus and keeps what it finds in
# build-fuzz/fuzz/found/. A failing input is written as build-fuzz/crash-*;
# once mended, copy it into fuzz/regressions/ so the tests replay it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-300}"
shift || true

if ! command -v clang++ >/dev/null; then
  echo "fuzz/run.sh: clang++ is needed (apt-get install clang)" >&2
  exit 1
fi
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTRIMORA_BUILD_GUI=OFF -DTRIMORA_BUILD_TESTS=OFF -DTRIMORA_FUZZER=ON \
  "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" >/dev/null
parser="${FUZZ:-}"
if [ -n "$parser" ]; then
  cmake --build build-fuzz --target "trimora_fuzz_$parser"
else
  cmake --build build-fuzz --target trimora_fuzz fuzz_corpus
fi

mkdir -p build-fuzz/fuzz/found
export ASAN_OPTIONS="detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
cd build-fuzz
if [ -n "$parser" ]; then
  mkdir -p "fuzz/found-$parser"
  if [ "$seconds" = 0 ]; then
    exec "./fuzz/trimora_fuzz_$parser" -runs=0 "$@" "../fuzz/seeds/$parser"
  fi
  exec "./fuzz/trimora_fuzz_$parser" -max_total_time="$seconds" -timeout=10 -max_len=65536 \
    -print_final_stats=1 "$@" "fuzz/found-$parser" "../fuzz/seeds/$parser"
fi
if [ "$seconds" = 0 ]; then
  exec ./fuzz/trimora_fuzz -runs=0 "$@" fuzz/corpus ../fuzz/heif-seeds
fi
exec ./fuzz/trimora_fuzz -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 \
  -max_len=262144 -print_final_stats=1 -dict=../fuzz/jpeg.dict "$@" fuzz/found fuzz/corpus ../fuzz/heif-seeds
