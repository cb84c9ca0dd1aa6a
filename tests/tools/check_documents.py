"""Validates QAV documents against docs/telemetry.schema.json with a real validator.

  check_documents.py cases SCHEMA CASES      the schema accepts exactly the cases marked valid
  check_documents.py run SCHEMA RECORD STATES every document a run recorded is valid, and the
                                             run went through STATES in order

STATES is a comma-separated list of paused/job/eventSeq states, each written as P or R
(paused or running), J or - (a job or none) and the event count: "P-0,R-0,RJ0,RJ1".
Consecutive documents in the same state count once.
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


def state(doc):
    return ("P" if doc["paused"] else "R") + ("-" if doc["job"] is None else "J") + str(doc["eventSeq"])


def check_run(v, record_path, expected):
    with open(record_path, "rb") as f:
        raw = f.read()
    problems = []
    if not raw.endswith(b"\n"):
        problems.append("the record does not end with a line feed")
    docs = []
    for n, line in enumerate(raw.split(b"\n")[:-1], 1):
        try:
            doc = json.loads(line.decode("utf-8"))
        except ValueError as e:
            problems.append(f"document {n} is not JSON: {e}")
            continue
        for error in v.iter_errors(doc):
            problems.append(f"document {n}: {error.message}")
        docs.append(doc)

    states = []
    for doc in docs:
        if not states or states[-1] != state(doc):
            states.append(state(doc))
    if states != expected:
        problems.append(f"states {','.join(states)}, expected {','.join(expected)}")
    if docs:
        if docs[0]["lastEvent"] != "" or docs[0]["gameTime"] != 0:
            problems.append("the first document is not the one written at load")
        if docs[-1]["lastEvent"] != "game.closed":
            problems.append("the last document is not the closing one")
        if len({d["pid"] for d in docs}) != 1:
            problems.append("the documents come from more than one process")
        # The pacing holds by construction, whatever the machine's load: between two
        # frame-end writes at least 250 ms pass; only the load, pause, start and closing
        # writes come sooner.
        for a, b in zip(docs, docs[1:]):
            if b["written"] < a["written"]:
                problems.append("'written' went back")
            immediate = a["paused"] != b["paused"] or b["lastEvent"] == "game.closed" or a is docs[0]
            if not immediate and b["written"] - a["written"] < 240:
                problems.append(f"two frame-end writes {b['written'] - a['written']} ms apart")
    for p in problems:
        print("FAIL", p)
    print(f"{len(docs)} documents, {len(problems)} problems")
    return not problems and bool(docs)


def main(argv):
    if len(argv) == 4 and argv[1] == "cases":
        return 0 if check_cases(validator(argv[2]), argv[3]) else 1
    if len(argv) == 5 and argv[1] == "run":
        return 0 if check_run(validator(argv[2]), argv[3], argv[4].split(",")) else 1
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
