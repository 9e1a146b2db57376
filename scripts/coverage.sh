#!/usr/bin/env bash
# Line coverage of src/ by the whole suite: builds build-cov (gcov), runs every test there
# and prints lcov's summary; the report stays in build-cov/coverage.info. Needs lcov.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${VORYX_JOBS:-$(nproc)}"
cmake --preset coverage >/dev/null
cmake --build --preset coverage -j "$jobs"
find build-cov -name '*.gcda' -delete
ctest --test-dir build-cov --no-tests=error -j "$jobs" "$@" || echo "coverage: some tests failed" >&2
lcov --quiet --capture --directory build-cov --output-file build-cov/all.info
lcov --quiet --extract build-cov/all.info "$PWD/src/*" --output-file build-cov/coverage.info
lcov --summary build-cov/coverage.info
