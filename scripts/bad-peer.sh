#!/usr/bin/env bash
# The bad-peer run: Dialscope on a private X server in a call with the
# simulated site turned hostile (garbage, damaged, oversized and truncated
# packets, lying lengths) for several minutes, in the normal build and then
# in the AddressSanitizer + UndefinedBehaviorSanitizer build. The program must
# stay responsive and keep its windows, its recording and its store intact.
#
#   scripts/bad-peer.sh [SECONDS]      default 300 per build
#
# DIALSCOPE_CHAOS_SEED and DIALSCOPE_CHAOS_RATE (0 to 1) choose the damage;
# DIALSCOPE_FLOOD_SECONDS (default 60 here) is how long each well-formed flood runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export DIALSCOPE_BAD_PEER_SECONDS=${1:-300}
export DIALSCOPE_FLOOD_SECONDS=${DIALSCOPE_FLOOD_SECONDS:-60}

"$root/scripts/install-deps.sh"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug "-DDIALSCOPE_SANITIZE=address;undefined" \
  -DDIALSCOPE_BUILD_BENCH=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp}
for build in build build-asan; do
  cmake --build "$build" -j "$(nproc)" --target acceptance_bad_peer_tests
  echo "== $build: ${DIALSCOPE_BAD_PEER_SECONDS} s against a hostile site"
  "$build/tests/acceptance/acceptance_bad_peer_tests"
done
