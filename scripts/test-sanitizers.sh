#!/usr/bin/env bash
# Builds everything again in build-asan/ with AddressSanitizer (leaks included)
# and UndefinedBehaviorSanitizer, and runs the tests there. Any sanitizer report
# fails the test that caused it. The Wine tests of the installer stay out: the
# installer is cross-built without sanitizers anyway.
# Expects what scripts/install-deps.sh installs; extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" \
  "-DCMAKE_EXE_LINKER_FLAGS=$flags" "-DCMAKE_SHARED_LINKER_FLAGS=$flags" >/dev/null
cmake --build build-asan --parallel "$(nproc)"

# The libFuzzer build of the same target, where clang is there: it must keep
# building, and the seeds must pass through it.
if command -v clang++ >/dev/null; then
  bash fuzz/run.sh 0
fi

# The tests last, so that their summary closes the output.
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
(cd build-asan && ctest --output-on-failure --timeout 1200 -j "$(nproc)" -LE wine -E '[Ww]ine' "$@")
