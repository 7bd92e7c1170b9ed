#!/usr/bin/python3
"""Validates quillfort-cli --json outputs against the committed schema.

usage: validate_json.py [--expect-invalid] SCHEMA FILE...

Each FILE must be strict UTF-8, hold exactly one JSON object with no duplicate
keys, end with a newline, and validate against SCHEMA (JSON Schema 2020-12).
With --expect-invalid every FILE must instead be rejected (a check that the
checks bite). Exit 0: as expected; 1: a file was not; 2: bad usage or schema;
3: the jsonschema module is missing (Debian: python3-jsonschema).
"""
import json
import sys

try:
    import jsonschema
except ImportError:
    print("validate_json: the jsonschema module is missing (apt-get install python3-jsonschema)", file=sys.stderr)
    sys.exit(3)


def no_duplicates(pairs):
    keys = [k for k, _ in pairs]
    duplicates = sorted({k for k in keys if keys.count(k) > 1})
    if duplicates:
        raise ValueError("duplicate keys: " + ", ".join(duplicates))
    return dict(pairs)


def first_problem(validator, document):
    error = jsonschema.exceptions.best_match(validator.iter_errors(document))
    if error is None:
        return None
    message = error.message if len(error.message) <= 200 else error.message[:200] + "..."
    return f"{'/'.join(map(str, error.absolute_path)) or '(top)'}: {message}"


def problems_of(path, validator, branches):
    with open(path, "rb") as f:
        data = f.read()
    try:
        text = data.decode("utf-8", errors="strict")
    except UnicodeDecodeError as e:
        return [f"not valid UTF-8: {e}"]
    if not text.endswith("\n"):
        return ["does not end with a newline"]
    try:
        document = json.loads(text, object_pairs_hook=no_duplicates)
    except ValueError as e:
        return [f"not one JSON document: {e}"]
    if not isinstance(document, dict):
        return ["not a JSON object"]
    # oneOf says only that no branch fitted: the command's own branch first
    # names the field at fault, then the whole schema decides.
    command = document.get("command")
    branch = branches.get("whatIf" if command == "harden" and "whatIf" in document else command)
    problem = (branch and first_problem(branch, document)) or first_problem(validator, document)
    return [problem] if problem else []


def main(argv):
    expect_invalid = False
    if argv and argv[0] == "--expect-invalid":
        expect_invalid = True
        argv = argv[1:]
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    schema_path, files = argv[0], argv[1:]
    try:
        with open(schema_path, encoding="utf-8") as f:
            schema = json.load(f)
        jsonschema.Draft202012Validator.check_schema(schema)
    except (OSError, ValueError, jsonschema.SchemaError) as e:
        print(f"validate_json: {schema_path}: {e}", file=sys.stderr)
        return 2
    validator = jsonschema.Draft202012Validator(schema)
    branches = {}
    for command in ("status", "harden", "restore"):
        if f"{command}Output" in schema.get("$defs", {}):
            branch = {k: v for k, v in schema.items() if k != "oneOf"}
            branch["$ref"] = f"#/$defs/{command}Output"
            branches[command] = jsonschema.Draft202012Validator(branch)
    if "whatIfOutput" in schema.get("$defs", {}):
        branch = {k: v for k, v in schema.items() if k != "oneOf"}
        branch["$ref"] = "#/$defs/whatIfOutput"
        branches["whatIf"] = jsonschema.Draft202012Validator(branch)
    failures = 0
    for path in files:
        try:
            problems = problems_of(path, validator, branches)
        except OSError as e:
            problems = [str(e)]
            if expect_invalid:
                failures += 1  # a missing file proves nothing
                print(f"{path}: cannot be read: {e}")
                continue
        if expect_invalid:
            if problems:
                print(f"{path}: rejected as expected: {problems[0]}")
            else:
                failures += 1
                print(f"{path}: ACCEPTED, but it should have been rejected")
        elif problems:
            failures += 1
            for problem in problems:
                print(f"{path}: {problem}")
        else:
            print(f"{path}: valid")
    print(f"validate_json: {len(files) - failures} of {len(files)} files as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
