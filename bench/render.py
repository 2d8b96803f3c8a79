#!/usr/bin/env python3
"""Writes BENCHMARKS.md again from the report.json of an earlier run, e.g.
after a change of wording: the figures, the commit and the time are the
run's own.

  render.py REPORT_JSON [OUT]     default OUT: the repository's BENCHMARKS.md
"""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report  # noqa: E402

source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
with open(sys.argv[1]) as fh:
    data = json.load(fh)
if "_run" not in data:
    sys.exit("render: %s comes from a run that kept no facts of its own" % sys.argv[1])
report.write_report(data, source, sys.argv[2] if len(sys.argv) > 2 else
                    os.path.join(source, "BENCHMARKS.md"))
