#!/bin/sh
# Validates records against the published JSON Schema (scripts/validate_records.py) with the first
# python3 that has the jsonschema module (Debian package python3-jsonschema). Exit 77 when there is none.
# Usage: sh scripts/validate_records.sh [--self-test] RECORD.json|FOLDER...
here=$(dirname "$0")
for python in /usr/bin/python3 python3; do
  if "$python" -c 'import jsonschema' >/dev/null 2>&1; then
    exec "$python" "$here/validate_records.py" "$@"
  fi
done
echo "validate_records: no python3 with jsonschema (Debian package python3-jsonschema)" >&2
exit 77
