#!/usr/bin/env bash
# Builds and runs every test: the C++ suite and the browser suite in the plain build,
# the C++ suite again under AddressSanitizer + UndefinedBehaviorSanitizer, and the tests
# that start threads under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs="${VORYX_JOBS:-$(nproc)}"
status=0

cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs" || status=1

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure --no-tests=error -j "$jobs" || status=1

cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --test-dir build-tsan --output-on-failure --no-tests=error -L jobs -j "$jobs" || status=1

exit $status
