#!/usr/bin/env bash
# Builds the programs and runs each against the simulated device: pager-ports
# shows the ports and the one the programs would use, then vantel
# stores "10 2 3" from a config.txt, then brisko erases a device of 2 tables
# of 3 entries. No hardware is needed. Each run ends with its key prompt:
# press a key to go on.
# Exit status: 0 when both runs completed; 1 when either failed, with the
# reason.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/ensure-packages.sh cmake make g++ libgtest-dev util-linux
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target vantel brisko pager-ports devsim

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '10 2 3\n' >"$work/config.txt"
devsim=$root/build/simulator/devsim

failed=0
# Runs program $1 under devsim with the device options $2...; says why when
# the run did not complete.
demo_run() {
  local program=$1 status=0
  shift
  (cd "$work" && "$devsim" "$@" -- "$root/build/$program/$program") || status=$?
  echo
  case $status in
    0) ;;
    77)
      echo "demo: $program did not run: devsim could not give it a private /dev with the" \
        "simulated device (see its message above). Run scripts/demo.sh as root, or allow" \
        "user namespaces (as root: sysctl kernel.unprivileged_userns_clone=1)." >&2
      failed=1
      ;;
    *)
      echo "demo: $program ended with exit status $status: the run did not complete." >&2
      failed=1
      ;;
  esac
}

echo "== pager-ports --probe: the ports the programs try, and the one they would use"
(cd "$work" && "$devsim" --silent-ports 1 -- "$OLDPWD/build/pager_ports/pager-ports" --probe) || echo " [exit status $?]"
echo
echo "== vantel, with config.txt holding: $(cat "$work/config.txt")"
demo_run vantel
echo
echo "== brisko, on a device of 2 tables of 3 entries"
demo_run brisko --tables 2 --entries 3

if [ "$failed" -ne 0 ]; then
  echo "demo: FAILED (see above)" >&2
  exit 1
fi
echo
echo "demo: both runs completed"
