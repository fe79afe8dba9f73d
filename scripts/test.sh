#!/usr/bin/env bash
# Builds everything and runs the whole test suite; ends by listing every
# skipped test with its reason (with CI=true, a skipped test fails the run).
#   scripts/test.sh                       plain build in build/
#   scripts/test.sh --sanitize            AddressSanitizer + UndefinedBehaviorSanitizer
#                                         in build-asan/
#   scripts/test.sh [--sanitize] -R E2e   further arguments go to ctest
# Warnings are errors in both.
set -euo pipefail
cd "$(dirname "$0")/.."
# libsystemd-dev: the logind inhibitor's sd-bus; dbus and python3-dbusmock:
# the fake logind its test runs against.
scripts/ensure-packages.sh cmake make g++ libgtest-dev util-linux libsystemd-dev dbus \
  python3-dbusmock

build="build"
flags=(-DPAGER_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build="build-asan"
  flags+=(-DPAGER_SANITIZE=ON)
  shift
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
exec scripts/run-ctest.sh "$build" --timeout 300 "$@"
