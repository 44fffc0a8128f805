#!/bin/sh
# The DCCs against the published schema set, offline: sh scripts/validate_dcc.sh BUILD
# Those of a real run (the in-process demo run with a lab file and the session details against the
# simulated bench) and of the sample pages, each checked with xmllint --nonet. The schema set is the folder
# TRIMORA_DCC_SCHEMA names, else shared/dcc-schema beside the source tree. The files stay in BUILD/dcc-check.
set -eu
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
schema=${TRIMORA_DCC_SCHEMA:-$root/../shared/dcc-schema}
if [ ! -f "$schema/dcc.xsd" ]; then
  echo "validate_dcc: no DCC schema set at $schema (dcc.xsd missing): set TRIMORA_DCC_SCHEMA to its folder" >&2
  exit 1
fi
if ! command -v xmllint >/dev/null 2>&1; then
  echo "validate_dcc: xmllint is missing (Debian package libxml2-utils)" >&2
  exit 1
fi
export TRIMORA_DCC_SCHEMA="$(cd "$schema" && pwd)"
out="$(cd "$build" && pwd)/dcc-check"
rm -rf "$out"
mkdir -p "$out"
"$build/trimora-sample-pages" "$out/sample" >/dev/null
export TRIMORA_DCC_OUT="$out/run"
test="'$build/trimora_tests' --gtest_filter=ProcedureRecordsTest.LabFileAndSessionGiveACertificateToSignWithItsDcc"
if unshare -rn sh -c 'ip link set lo up' >/dev/null 2>&1; then
  unshare -rn sh -c "ip link set lo up && $test" >"$out/test.txt"
else
  sh -c "$test" >"$out/test.txt"
fi
checked=0
for xml in "$out"/sample/certificate_*.xml "$out"/run/certificate_*.xml; do
  [ -f "$xml" ] || continue
  xmllint --nonet --noout --schema "$TRIMORA_DCC_SCHEMA/dcc.xsd" "$xml"
  checked=$((checked + 1))
done
if [ "$checked" -ne 2 ]; then
  echo "validate_dcc: expected the DCC of the sample run and of the real run, found $checked" >&2
  exit 1
fi
echo "validate_dcc: $checked DCCs validate against $TRIMORA_DCC_SCHEMA/dcc.xsd"
