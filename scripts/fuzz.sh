#!/bin/sh
# Builds the libFuzzer targets with clang in their own build folder and runs each for a fixed time.
#   sh scripts/fuzz.sh [SECONDS] [BUILD] [TARGET...]
# SECONDS per target (default 20), BUILD folder (default build-fuzz), targets (default all five).
# Each run starts from the seed corpus in fuzz/corpus/<target>/ (never written to) and keeps what it
# finds in BUILD/corpus/<target>/; a crash leaves its input as BUILD/artifacts/<target>-crash-* and
# makes the script fail.
set -eu
seconds=${1:-20}
build=${2:-build-fuzz}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
targets=${*:-"fuzz_field_parser fuzz_settings_load fuzz_dmm_reading fuzz_edit_line fuzz_record_reader"}

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DTRIMORA_FUZZ=ON -DTRIMORA_BUILD_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "${JOBS:-2}" --target fuzz_targets

# Absolute paths: a target may change its working folder (the settings target works in its own).
build=$(cd "$build" && pwd)
seeds=$(pwd)/fuzz/corpus
mkdir -p "$build/artifacts"
status=0
for t in $targets; do
  mkdir -p "$build/corpus/$t"
  echo "== Fuzzing $t for ${seconds}s"
  if ! "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$t-" "$build/corpus/$t" "$seeds/$t" \
      >"$build/$t.log" 2>&1; then
    echo "FAILED: $t (see $build/$t.log and $build/artifacts/)"
    tail -40 "$build/$t.log"
    status=1
  else
    grep -E "^stat::number_of_executed_units|^#[0-9]+.*DONE" "$build/$t.log" | tail -2
  fi
done
exit $status
