#!/usr/bin/env bash
# Builds Dialscope with its tests and runs every test.
#   scripts/test.sh                 normal build in build/
#   scripts/test.sh --sanitize      AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/install-deps.sh"

build=build
cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  cmake_args=(-DCMAKE_BUILD_TYPE=Debug "-DDIALSCOPE_SANITIZE=address;undefined" -DDIALSCOPE_BUILD_BENCH=OFF
              -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DDIALSCOPE_FUZZ=ON)
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp}
fi

cmake -S . -B "$build" -G Ninja "${cmake_args[@]}"
cmake --build "$build" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
# The fuzzers keep every core busy for their whole time budget; they run on
# their own so that the timing of the other tests is not starved.
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" -LE fuzz
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" -L fuzz
