#!/usr/bin/env bash
# The soak run: Dialscope on a private X server, connected to the simulated
# site for an hour (four channels streaming, two recording, the site hanging
# up every ten minutes and the call dialled again), sampling the program's
# memory, descriptors, threads and CPU use. Fails when any of them keeps
# growing after the warm-up. Not part of CI.
#
#   scripts/soak.sh [MINUTES]              normal build in build/
#   scripts/soak.sh --sanitize [MINUTES]   the AddressSanitizer build in build-asan/
#
# DIALSCOPE_SOAK_HANGUP_MINUTES changes the call length; every sample is
# written to build*/soak-samples.csv.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=build
cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  shift
  build=build-asan
  cmake_args=(-DCMAKE_BUILD_TYPE=Debug "-DDIALSCOPE_SANITIZE=address;undefined" -DDIALSCOPE_BUILD_BENCH=OFF
              -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp}
fi
minutes=${1:-60}

"$root/scripts/install-deps.sh"
cmake -S . -B "$build" -G Ninja "${cmake_args[@]}"
cmake --build "$build" -j "$(nproc)" --target dialscope_soak

export DIALSCOPE_SOAK_MINUTES=$minutes
export DIALSCOPE_SOAK_CSV=${DIALSCOPE_SOAK_CSV:-$root/$build/soak-samples.csv}
exec "$build/tests/soak/dialscope_soak"
