"""Proves that docs/telemetry.schema.json agrees with the document check, using a real
JSON Schema validator on the shared case table that the document check's tests also run.

  check_documents.py cases SCHEMA CASES      the schema accepts exactly the cases marked valid
"""
import json
import sys

import jsonschema


def validator(schema_path):
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft7Validator.check_schema(schema)
    return jsonschema.Draft7Validator(schema)


def mutate(base, case):
    doc = json.loads(json.dumps(base))
    doc.update(case.get("set", {}))
    for key in case.get("remove", []):
        del doc[key]
    if isinstance(doc.get("job"), dict):
        doc["job"].update(case.get("setJob", {}))
        for key in case.get("removeJob", []):
            del doc["job"][key]
    return doc


def check_cases(v, cases_path):
    with open(cases_path, encoding="utf-8") as f:
        table = json.load(f)
    failures = 0
    for case in table["cases"]:
        errors = list(v.iter_errors(mutate(table["base"], case)))
        if (not errors) != case["valid"]:
            failures += 1
            why = errors[0].message if errors else "accepted"
            print(f"FAIL {case['name']}: expected {'valid' if case['valid'] else 'invalid'}: {why}")
    print(f"{len(table['cases']) - failures} passed, {failures} failed")
    return failures == 0


def main(argv):
    if len(argv) == 4 and argv[1] == "cases":
        return 0 if check_cases(validator(argv[2]), argv[3]) else 1
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
