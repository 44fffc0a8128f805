#!/bin/sh
# Static analysis of the program's code, the simulated bench and the benchmark: clang-tidy with the
# checks in .clang-tidy, then cppcheck.
# Both must be clean (any finding fails the script).   sh scripts/static_checks.sh [BUILD]
# BUILD (default build-static) only receives CMake's compile_commands.json; nothing is compiled.
set -eu
build=${1:-build-static}
sources="app/*.cc link/*.cc settings/*.cc console/*.cc calibration/*.cc records/*.cc platform/*_posix.cc platform/terminal_keys.cc platform/net_common.cc
  platform/time_scale.cc platform/stop_request.cc sim/*.cc bench/*.cc tools/*.cc"

cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DTRIMORA_BUILD_TESTS=OFF >/dev/null

echo "== clang-tidy"
# shellcheck disable=SC2086
if ! ls $sources | xargs -P "${JOBS:-2}" -n 4 clang-tidy -p "$build" --quiet >"$build/clang-tidy.log" 2>&1; then
  grep -v "warnings generated" "$build/clang-tidy.log"
  echo "clang-tidy: findings above"
  exit 1
fi
echo "clang-tidy: clean"

echo "== cppcheck"
# Every platform's files: cppcheck needs no system headers to look at them.
cppcheck --enable=warning,style,performance,portability --std=c++20 --language=c++ --inline-suppr \
  --error-exitcode=1 --quiet --suppress=missingIncludeSystem -I . \
  app link settings console calibration records platform sim bench tools
echo "cppcheck: clean"
