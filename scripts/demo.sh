#!/usr/bin/env bash
# Builds the programs and runs each against the simulated device: pager-ports
# shows the ports and the one the programs would use, then vantel
# stores "10 2 3" from a config.txt, then brisko erases a device of 2 tables
# of 3 entries. No hardware is needed. Each run ends with its key prompt:
# press a key to go on.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh cmake make g++ libgtest-dev util-linux
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target vantel brisko pager-ports devsim

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '10 2 3\n' >"$work/config.txt"
devsim=$PWD/build/simulator/devsim

echo "== pager-ports --probe: the ports the programs try, and the one they would use"
(cd "$work" && "$devsim" --silent-ports 1 -- "$OLDPWD/build/pager_ports/pager-ports" --probe) || echo " [exit status $?]"
echo
echo "== vantel, with config.txt holding: $(cat "$work/config.txt")"
(cd "$work" && "$devsim" -- "$OLDPWD/build/vantel/vantel") || echo " [exit status $?]"
echo
echo "== brisko, on a device of 2 tables of 3 entries"
(cd "$work" && "$devsim" --tables 2 --entries 3 -- "$OLDPWD/build/brisko/brisko") || echo " [exit status $?]"
echo
