#!/usr/bin/env bash
# Runs the tests of build folder $1 with ctest (further arguments go to ctest),
# then lists every test that was skipped, with the reason the test gave.
#   scripts/run-ctest.sh BUILD [ctest options...]
# Exit status: ctest's; and 1 when CI=true and a test was skipped, since a
# CI machine must be able to run every test.
set -euo pipefail
build=$(cd "$1" && pwd)
shift
junit=$build/Testing/run-ctest.xml
mkdir -p "$build/Testing"
rm -f "$junit"

status=0
ctest --test-dir "$build" --output-on-failure -j 2 --no-tests=error --output-junit "$junit" "$@" ||
  status=$?
[ -f "$junit" ] || exit "$status"

# One line per test that did not run: its name, a tab, and the reason from its
# output (the line after GoogleTest's "Skipped"), else ctest's own.
skipped=$(awk '
  function unescape(s) {
    gsub(/&lt;/, "<", s); gsub(/&gt;/, ">", s); gsub(/&quot;/, "\"", s)
    gsub(/&apos;/, "\047", s); gsub(/&amp;/, "\\&", s); return s
  }
  function flush() {
    if (name != "") print name "\t" (reason != "" ? reason : fallback)
    name = ""
  }
  /<testcase / {
    flush()
    if ($0 ~ /status="notrun"/) {
      name = $0; sub(/.*<testcase name="/, "", name); sub(/".*/, "", name)
      name = unescape(name); reason = ""; fallback = "not run"; take = 0
    }
    next
  }
  name == "" { next }
  /<skipped message="/ {
    fallback = $0; sub(/.*<skipped message="/, "", fallback); sub(/".*/, "", fallback)
    fallback = unescape(fallback)
  }
  take { if (reason == "") reason = unescape($0); take = 0; next }
  /: Skipped$/ { take = 1 }
  END { flush() }
' "$junit")

if [ -n "$skipped" ]; then
  count=$(printf '%s\n' "$skipped" | wc -l)
  echo
  echo "Skipped: $count test(s), each with its reason:"
  printf '%s\n' "$skipped" | awk -F '\t' '{ printf "  %s\n      %s\n", $1, $2 }'
  if [ "$(id -u)" -ne 0 ]; then
    echo "(Running as $(id -un), not root: tests that need root rights are skipped here.)"
  fi
  if [ "${CI:-}" = true ]; then
    echo "FAIL: CI=true, and every test must run in CI" >&2
    exit 1
  fi
fi
exit "$status"
