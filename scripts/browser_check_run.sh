#!/bin/sh
# The pages of a real run in headless Chromium: sh scripts/browser_check_run.sh BUILD
# The in-process test runs the whole program against the simulated bench at the tests' time scale (A on CH3,
# V on CH3, C on CH3, F on CH1, A on CH3, then X) and keeps the records folder it left in
# BUILD/browser-check/run; browser_check.sh then opens every page of it, the certificate and the index.
# The test runs in a network namespace that has only loopback when the system allows it.
set -eu
build=${1:-build}
pages="$(cd "$build" && pwd)/browser-check/run"
rm -rf "$pages"
test="'$build/trimora_tests' --gtest_filter=ProcedureRecordsTest.EveryProcedureLeavesARecordThatMatchesTheConsole"
export TRIMORA_PAGES_OUT="$pages"
if unshare -rn sh -c 'ip link set lo up' >/dev/null 2>&1; then
  unshare -rn sh -c "ip link set lo up && $test"
else
  sh -c "$test"
fi
exec sh "$(dirname "$0")/browser_check.sh" "$build" "$pages"/*.html
