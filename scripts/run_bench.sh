#!/bin/sh
# Runs the pacing benchmark of build folder $1 (further arguments go to trimora-bench), inside a network
# namespace that has only loopback when the system allows it. The benchmark writes a loopback settings
# file into every working folder before it starts trimora, so it reaches no real instrument either way.
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
bench="$build/trimora-bench"
if [ ! -x "$bench" ]; then
  echo "run_bench: $bench is missing; run make bench" >&2
  exit 2
fi
if unshare -rn sh -c 'ip link set lo up' >/dev/null 2>&1; then
  echo "Running the benchmark in a loopback-only network namespace." >&2
  exec unshare -rn sh -c 'ip link set lo up && exec "$0" "$@"' "$bench" "$@"
fi
echo "No network namespace available here; running the benchmark on the loopback settings alone." >&2
exec "$bench" "$@"
