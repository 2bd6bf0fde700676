#!/usr/bin/env bash
# Builds Dialscope and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/install-deps.sh"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"

if [ -x build/app/dialscope ]; then
  exec build/app/dialscope "$@"
fi
# Until the main window exists, show the settings store.
exec build/platform/registry/dsreg export 'HKCU\software\Kestrel-Lookout'
