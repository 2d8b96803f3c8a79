#!/usr/bin/env python3
"""Makes bench/before.json, the "before" column of BENCHMARKS.md.

  before.py --commit C --report REPORT_JSON --old-table OLD_BENCHMARKS_MD > bench/before.json

REPORT_JSON is the report.json of a run of today's benchmarks (run_bench.py)
on a build of commit C; OLD_BENCHMARKS_MD is the BENCHMARKS.md of commit C.
Each figure's before value is the one the run measured, written by the same
report code (so the rows' names match), or, for figures that run did not
measure (the time-based ones), the value in the old table under the same
name.
"""

import argparse
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report  # noqa: E402

# Rows whose before value comes from the old table even when the run has one:
# its own figures were measured at full size (100,000 events, 7 repetitions).
FROM_OLD_TABLE = ("1. ns per", "3. events", "3. latency", "3. round trip", "3. browser peak",
                  "5. ")


def table(text, value_column, ratio_column):
    """{figure: value}, with the row's ratio to its baseline in brackets."""
    rows = {}
    for line in text.splitlines():
        if not line.startswith("| ") or line.startswith("| figure") or line.startswith("|---"):
            continue
        cells = [c.strip() for c in line.strip().strip("|").split(" | ")]
        if len(cells) > ratio_column:
            value, r = cells[value_column], cells[ratio_column]
            rows[cells[0]] = value + (" (%s)" % r if r != "—" else "")
    return rows


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--commit", required=True)
    ap.add_argument("--report", required=True)
    ap.add_argument("--old-table", required=True)
    args = ap.parse_args()
    with open(args.report) as fh:
        measured = json.load(fh)
    report.BEFORE = {}
    ours = table(report.write_report(measured, os.path.dirname(os.path.dirname(
        os.path.abspath(__file__))), None), 2, 5)
    with open(args.old_table) as fh:
        old = table(fh.read(), 1, 3)
    before = {"_commit": args.commit,
              "_how": "instruction counts and the browser's call rates measured on a build of "
                      "that commit with today's benchmarks; the other time-based figures are "
                      "those of that commit's BENCHMARKS.md"}
    for name in set(ours) | set(old):
        value = old.get(name) if name.startswith(FROM_OLD_TABLE) else ours.get(name)
        if value is None or value == "—" or value.startswith("not measured"):
            value = old.get(name, ours.get(name))
        if value is not None:
            before[name] = value
    json.dump(before, sys.stdout, indent=1, sort_keys=True, ensure_ascii=False)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
