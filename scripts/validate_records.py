#!/usr/bin/env python3
"""Validates calibration records against schema/trimora-calibration-record.schema.json.

Usage: validate_records.py [--self-test] PATH...

Each PATH is a record (.json) or a folder whose *.json files are checked. A file that is no JSON object
of the format "trimora-calibration-record" (a damaged file left in a folder on purpose, say) is named and
passed over; every record must be valid, and at least one must be found. With --self-test, a record that
gains a member the schema does not name, or loses one it requires, must be refused as well: a field
added to the program without the schema following it fails here.
"""
import copy
import json
import pathlib
import sys

import jsonschema

SCHEMA = pathlib.Path(__file__).resolve().parent.parent / "schema" / "trimora-calibration-record.schema.json"


def record_files(paths):
    for path in map(pathlib.Path, paths):
        if path.is_dir():
            yield from sorted(p for p in path.glob("*.json") if not p.name.startswith("."))
        else:
            yield path


def altered(record):
    """Records the schema must refuse: each one change away from a valid record."""
    extra = copy.deepcopy(record)
    extra["operator"] = "someone"
    yield "an unknown member at the top", extra
    missing = copy.deepcopy(record)
    del missing["channel"]
    yield "a missing member", missing
    for step in record["steps"]:
        points = step.get("points") or [p for ph in step.get("phases", []) for p in ph["points"]]
        if points:
            inner = copy.deepcopy(record)
            target = inner["steps"][record["steps"].index(step)]
            (target.get("points") or [p for ph in target["phases"] for p in ph["points"]])[0]["note"] = "x"
            yield "an unknown member in a point", inner
            break


def main(argv):
    self_test = "--self-test" in argv
    paths = [a for a in argv if a != "--self-test"]
    schema = json.loads(SCHEMA.read_text(encoding="utf-8"))
    validator = jsonschema.Draft202012Validator(schema)
    valid = invalid = 0
    for path in record_files(paths):
        try:
            record = json.loads(path.read_text(encoding="utf-8"))
        except (ValueError, OSError) as error:
            print(f"passed over, no readable JSON: {path} ({error.__class__.__name__})")
            continue
        if not isinstance(record, dict) or record.get("format") != "trimora-calibration-record":
            print(f"passed over, not a calibration record: {path}")
            continue
        errors = sorted(validator.iter_errors(record), key=lambda e: list(e.absolute_path))
        for error in errors[:5]:
            where = "/".join(str(p) for p in error.absolute_path) or "(top)"
            print(f"INVALID {path}: at {where}: {error.message}")
        if errors:
            invalid += 1
            continue
        valid += 1
        if self_test:
            for what, bad in altered(record):
                if validator.is_valid(bad):
                    print(f"INVALID schema: a record with {what} is accepted ({path})")
                    invalid += 1
    print(f"validate_records: {valid} passed, {invalid} failed")
    if valid == 0:
        print("validate_records: no record found in " + " ".join(paths))
        return 1
    return 1 if invalid else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
