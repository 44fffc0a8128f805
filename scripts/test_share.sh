#!/bin/sh
# Lines of C++ (.cc and .h, every line counted) per folder, and the tests' share of all of them.
#   sh scripts/test_share.sh
set -eu
cd "$(dirname "$0")/.."
total=0
tests=0
printf '%-12s %7s\n' folder lines
for folder in platform console settings link calibration records app sim bench tools tests fuzz; do
  lines=0
  if [ -d "$folder" ]; then
    lines=$(find "$folder" -type f \( -name '*.cc' -o -name '*.h' \) -exec cat {} + | wc -l)
  fi
  lines=$((lines + 0))
  printf '%-12s %7d\n' "$folder" "$lines"
  total=$((total + lines))
  if [ "$folder" = tests ]; then tests=$lines; fi
done
printf '%-12s %7d\n' all "$total"
if [ "$total" -gt 0 ]; then
  # One decimal, in integer arithmetic.
  tenths=$(( (tests * 1000 + total / 2) / total ))
  printf 'tests: %d.%d %% of all C++ lines\n' $((tenths / 10)) $((tenths % 10))
fi
