#!/usr/bin/python3
"""Checks a horodex command's --json output on standard input: every line one JSON object, valid
against the named kind of docs/json/horodex.schema.json. Prints what is wrong and exits 1.

    json_check.py SCHEMA KIND < output
"""
import json
import sys

import jsonschema

schema_path, kind = sys.argv[1], sys.argv[2]
with open(schema_path, encoding="utf-8") as f:
    schema = json.load(f)
validator = jsonschema.Draft202012Validator(
    {"$ref": "#/$defs/" + kind, "$defs": schema["$defs"]},
    format_checker=jsonschema.FormatChecker())
lines = [line for line in sys.stdin.read().split("\n") if line]
if not lines:
    sys.exit(kind + ": no output")
failed = False
for number, line in enumerate(lines, 1):
    try:
        value = json.loads(line)
    except json.JSONDecodeError as e:
        print(f"{kind}: line {number} is not one JSON object: {e}: {line}")
        failed = True
        continue
    for error in validator.iter_errors(value):
        print(f"{kind}: line {number}: {error.json_path}: {error.message}")
        failed = True
sys.exit(1 if failed else 0)
