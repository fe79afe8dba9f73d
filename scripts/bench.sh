#!/usr/bin/env bash
# Builds everything and runs brisko's pacing benchmark against the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh cmake make g++ libgtest-dev util-linux
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target brisko_bench
# In a session of its own, as brisko runs under devsim: with the kernel's
# automatic task groups, a CPU hog started from this shell would otherwise
# share the references' group and hold them back, but not brisko.
setsid -w build/bench/brisko_bench "$@"
