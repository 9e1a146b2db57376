#!/usr/bin/env bash
# Builds and runs every test: the C++ suite and the browser suite in the plain build,
# the C++ suite again under AddressSanitizer + UndefinedBehaviorSanitizer, the tests
# that start threads under ThreadSanitizer, and last the C++ suite on Debian 13 in a root
# of its own, with a build without evolution-data-server after it (scripts/debian13.sh;
# VORYX_DEBIAN13=0 skips it). Each stage's time is printed
# as it ends, and all of them at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${VORYX_JOBS:-$(nproc)}"
status=0
times=()
t=$SECONDS
timed() {  # timed STAGE: the time since the last stage ended
  times+=("$1: $((SECONDS - t)) s")
  echo "time: ${times[-1]}"
  t=$SECONDS
}

scripts/install-deps.sh
timed "packages"

# The Debian 13 root, its packages and its build start now, in the background at the
# lowest priority: the host's suites spend most of their time waiting on virtual modems,
# and the processors they leave idle make the Debian 13 build. Only its tests wait for the
# host's stages. Its own session, so that an early exit here can stop all of it.
d13=""
d13_log=build-debian13.log
if [ "${VORYX_DEBIAN13:-1}" != "0" ]; then
  export VORYX_DEBIAN13_RUN="$$.$(date +%s%N)"
  VORYX_JOBS=$jobs setsid -w nice -n 19 scripts/debian13.sh build >"$d13_log" 2>&1 </dev/null &
  d13=$!
  stop_d13() {
    if kill -0 "$d13" 2>/dev/null; then
      kill -TERM -- "-$d13" 2>/dev/null || true
      wait "$d13" 2>/dev/null || true
    fi
  }
  trap stop_d13 EXIT
fi

cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs" || status=1
timed "host plain"

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure --no-tests=error -j "$jobs" || status=1
timed "host asan"

# Only the binaries of the label it runs (the folders of VORYX_JOB_TEST_FOLDERS in
# cmake/VoryxTests.cmake); the others report as not built, without the label.
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target voryx_job_tests
ctest --test-dir build-tsan --output-on-failure --no-tests=error -L jobs -j "$jobs" || status=1
timed "host tsan"

if [ -n "$d13" ]; then
  # The early build's times (its whole output is in build-debian13.log); when it failed,
  # the tests stage below builds again and shows why.
  wait "$d13" || echo "debian13: the early build failed (log: $d13_log)"
  grep '^debian13:' "$d13_log" || true
  timed "debian13 waiting for the early build"
  VORYX_JOBS=$jobs scripts/debian13.sh tests || status=1
  timed "debian13"
fi

printf 'time: %s\n' "${times[@]}" "all: $SECONDS s"
exit $status
