#!/bin/sh
# Browser check of the calibration pages: sh scripts/browser_check.sh BUILD [PAGE.html...]
# Without pages it writes a demo-style sample run with BUILD/trimora-sample-pages and checks the pages of
# that run (A on CH3, V on CH3, A on CH3, F on CH1), its certificate and the index.
# Chromium runs in a network namespace that has only loopback when the system allows it.
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
out="$build/browser-check"
if [ $# -eq 0 ]; then
  rm -rf "$out/sample"
  set --
  for json in $("$build/trimora-sample-pages" "$out/sample"); do set -- "$@" "${json%.json}.html"; done
  set -- "$@" "$out"/sample/certificate_*.html "$out/sample/index.html"
fi
if unshare -rn sh -c 'ip link set lo up' >/dev/null 2>&1; then
  exec unshare -rn sh -c 'ip link set lo up && exec python3 "$0" "$@"' "$(dirname "$0")/browser_check.py" "$out" "$@"
fi
echo "No network namespace available here; chromium runs with its background traffic switched off only."
exec python3 "$(dirname "$0")/browser_check.py" "$out" "$@"
