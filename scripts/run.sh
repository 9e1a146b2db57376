#!/usr/bin/env bash
# Builds Voryx and starts it on the virtual modem. Extra arguments go to `voryx serve`.
set -euo pipefail
cd "$(dirname "$0")/.."
VORYX_SKIP_NPM=1 scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target voryx
exec build/voryx serve --simulate "$@"
