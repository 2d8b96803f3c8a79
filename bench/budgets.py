"""The module's instruction budgets: what one call, one event and one
`NPP_New` may cost on the module's side, sized for a 1 GHz ARM core.

Instruction counts are deterministic, so the check is exact: run_bench.py
measures each figure with callgrind (the smoke run too, which is part of the
test command) and fails when one exceeds its budget. NPTV_BUDGET_SCALE (a
factor, default 1) scales every budget, to show that the check bites.
"""

import os

# (key, what is counted, budget in instructions, where the figure is in the report)
BUDGETS = [
    ("call:GetCountry", "plug-in side of `tv.GetCountry()` (module and host, stand-in excluded)",
     1000, ("calls", "GetCountry", "plugin")),
    ("call:SetTimeZone", "plug-in side of `tv.SetTimeZone(5, 60)`",
     1100, ("calls", "SetTimeZone", "plugin")),
    ("call:GetProgram_Title", "plug-in side of `tv.GetProgram_Title(2)` (100-character title)",
     3000, ("calls", "GetProgram_Title", "plugin")),
    ("call:ConvertEpochToLocalTime", "plug-in side of `tv.ConvertEpochToLocalTime(\"1700000000\")`",
     1500, ("calls", "ConvertEpochToLocalTime", "plugin")),
    ("call:IsValidPassword", "plug-in side of `tv.IsValidPassword(\"0000\")`",
     1000, ("calls", "IsValidPassword", "plugin")),
    ("event:fn", "module side of one event to a function handler (the framework's log call and "
     "the host's work excluded)", 2000, ("events_inprocess", "fn", "module")),
    ("new", "module side of `NPP_New` through the scriptable object (host and framework "
     "excluded)", 10000, ("instance", "new", "module")),
    ("standin", "framework stand-in, one command answered from a prepared reply",
     600, ("calls", "quv-execute")),
]


def scale():
    text = os.environ.get("NPTV_BUDGET_SCALE", "").strip()
    if not text:
        return 1.0
    value = float(text)  # a bad value fails loudly
    if value <= 0:
        raise ValueError("NPTV_BUDGET_SCALE must be a positive factor, not %r" % text)
    return value


def figure(report, path):
    v = report
    for key in path:
        if not isinstance(v, dict) or key not in v:
            return None
        v = v[key]
    return v


def check(report):
    """[(key, what, measured or None, budget, within)], one per budget. A
    figure that was not measured counts as over budget."""
    factor = scale()
    rows = []
    for key, what, budget, path in BUDGETS:
        limit = budget * factor
        value = figure(report, path)
        rows.append((key, what, value, limit, value is not None and value <= limit))
    return rows
