"""Callgrind helpers of the benchmarks: running a driver under callgrind,
reading its dumps, and splitting a dump's instructions between the module,
the host that loads it and the framework stand-in.

The split follows the calls between the three parts. Each part's share is
the inclusive cost of the calls that enter it from elsewhere, minus the
inclusive cost of the calls it makes into the other two parts. A library
function (libc, libstdc++, ICU) belongs to whichever part called it, so the
module's own string copies and `malloc`s count as the module's.
"""

import glob
import os
import re
import subprocess


class StageError(Exception):
    pass


class StageSkipped(Exception):
    """The stage cannot run in this build (said in the report)."""


def run(cmd, env=None, timeout=600, cwd=None):
    p = subprocess.run(cmd, env=env, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       text=True, timeout=timeout)
    if p.returncode != 0:
        raise StageError("%s exited %d\n%s%s" % (" ".join(cmd), p.returncode, p.stdout[-2000:],
                                                 p.stderr[-2000:]))
    return p


def quiet_env(journal=False):
    env = dict(os.environ)
    env.pop("QUV_LOG", None)          # the stand-in's log goes nowhere
    env.pop("QUV_SIM_SOCKET", None)   # no control socket in the drivers
    if not journal:
        env["QUV_JOURNAL"] = "0"      # the stand-in keeps no journal of commands
    else:
        env.pop("QUV_JOURNAL", None)
    return env


def regions(cmd, workdir, journal=False):
    """Runs cmd under callgrind with collection off except in the driver's
    regions; returns {label: (Ir, dumpfile)}."""
    os.makedirs(workdir, exist_ok=True)
    for f in glob.glob(os.path.join(workdir, "cg.*")):
        os.remove(f)
    full = ["valgrind", "--tool=callgrind", "--collect-atstart=no",
            "--callgrind-out-file=" + os.path.join(workdir, "cg.%p")] + cmd
    p = run(full, env=quiet_env(journal), timeout=1800)
    found = {}
    for f in glob.glob(os.path.join(workdir, "cg.*")):
        label, total = None, None
        with open(f, errors="replace") as fh:
            for line in fh:
                if line.startswith("desc: Trigger: Client Request: "):
                    label = line.split("Client Request: ", 1)[1].strip()
                elif line.startswith("totals:") or line.startswith("summary:"):
                    total = int(line.split()[1])
        if label is not None and total is not None:
            found[label] = (total, f)
    announced = re.findall(r"^region (\S+)$", p.stdout, re.M)
    missing = [a for a in announced if a not in found]
    if not announced or missing:
        raise StageError("callgrind regions missing: %s (announced %d)" % (missing, len(announced)))
    return found


def whole(cmd, workdir, tag):
    """Runs cmd under callgrind, all threads; returns (Ir, dumpfile)."""
    os.makedirs(workdir, exist_ok=True)
    out = os.path.join(workdir, "whole.%s" % tag)
    run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out] + cmd, env=quiet_env(),
        timeout=1800)
    with open(out, errors="replace") as fh:
        for line in fh:
            if line.startswith("totals:") or line.startswith("summary:"):
                return int(line.split()[1]), out
    raise StageError("no totals in " + out)


_NAMED = re.compile(r"^\((\d+)\)(?: (.*))?$")


def _name(table, value):
    """Resolves callgrind's name compression: "(id) name" defines, "(id)"
    refers back."""
    m = _NAMED.match(value)
    if not m:
        return value
    if m.group(2) is not None:
        table[m.group(1)] = m.group(2)
    return table.get(m.group(1), "?")


def parse(dumpfile):
    """Returns (self costs {(object, function): Ir}, calls [(caller object,
    caller function, callee object, callee function, inclusive Ir)])."""
    obs, fns = {}, {}
    own, arcs = {}, []
    ob = fn = None
    cob = cfn = None
    in_call = False
    with open(dumpfile, errors="replace") as fh:
        for line in fh:
            c = line[:1]
            if c.isdigit() or c in "+-*":
                parts = line.split()
                ir = int(parts[1]) if len(parts) > 1 else 0
                if in_call:
                    arcs.append((ob, fn, cob, cfn, ir))
                    in_call = False
                    cob = None
                else:
                    own[(ob, fn)] = own.get((ob, fn), 0) + ir
                continue
            key, _, value = line.rstrip("\n").partition("=")
            if key == "ob":
                ob = _name(obs, value)
            elif key == "fn":
                fn = _name(fns, value)
            elif key == "cob":
                cob = _name(obs, value)
            elif key == "cfn":
                cfn = _name(fns, value)
                if cob is None:   # not given: the caller's own object
                    cob = ob
            elif key == "calls":
                in_call = True
    return own, arcs


def split(dumpfile, parts):
    """Instructions of each part. `parts` maps a part's name to a test on an
    object's path; objects that no test claims (the C and C++ libraries)
    belong to their caller. Returns {part: Ir, "total": Ir}."""
    own, arcs = parse(dumpfile)

    def part_of(obj):
        for name, test in parts.items():
            if obj and test(obj):
                return name
        return None

    out = {name: 0 for name in parts}
    for caller_ob, _, callee_ob, _, ir in arcs:
        a, b = part_of(caller_ob), part_of(callee_ob)
        if b is not None and a != b:
            out[b] += ir          # enters part b
            if a is not None:
                out[a] -= ir      # part a hands that work to b
    out["total"] = sum(own.values())
    return out


def module_parts(host_binary):
    """The three parts of a benchmark process."""
    host = os.path.basename(host_binary)
    return {"module": lambda o: os.path.basename(o) == "libnptv.so",
            "standin": lambda o: os.path.basename(o).startswith("libQuv.so"),
            "host": lambda o: os.path.basename(o) == host}


def annotate_costs(dumpfile, inclusive):
    """[(Ir, function, object)] from callgrind_annotate."""
    p = run(["callgrind_annotate", "--inclusive=" + ("yes" if inclusive else "no"),
             "--threshold=100", dumpfile])
    rows = []
    for line in p.stdout.splitlines():
        m = ANNOTATE_LINE.match(line)
        if m:
            rows.append((int(m.group(1).replace(",", "")), m.group(3), m.group(4)))
    return rows


ANNOTATE_LINE = re.compile(r"^\s*([\d,]+)\s+\(\s*[\d.]+%\)\s+(.*?):(.*) \[(.*)\]\s*$")


def short_name(fn):
    fn = fn.replace("(anonymous namespace)::", "")
    fn = fn.replace("std::__cxx11::basic_string<char, std::char_traits<char>, "
                    "std::allocator<char> >", "std::string")
    if fn.endswith(")"):  # drop the parameter list
        depth = 0
        for i in range(len(fn) - 1, -1, -1):
            if fn[i] == ")":
                depth += 1
            elif fn[i] == "(":
                depth -= 1
                if depth == 0:
                    fn = fn[:i]
                    break
    fn = re.sub(r"^[\w:]+\s+(?=[\w:]+<)", "", fn)  # a template's return type
    return fn if len(fn) <= 70 else fn[:67] + "..."


def hot_spots(dumpfile, calls, limit=8):
    """The functions with the most instructions of their own (self cost)."""
    costs = annotate_costs(dumpfile, False)
    total = sum(ir for ir, fn, obj in costs if ir)
    merged = {}
    for ir, fn, obj in costs:
        # Frames entered before collection was switched on (main and below)
        # are shown by callgrind_annotate with the whole region as their cost.
        if ir >= 0.5 * total or fn.startswith("0x") or "below main" in fn or \
                fn.startswith("__libc_start_main") or fn == "main":
            continue
        key = (short_name(fn), os.path.basename(obj))
        merged[key] = merged.get(key, 0) + ir
    rows = sorted(((ir / calls, k[0], k[1]) for k, ir in merged.items()), key=lambda r: -r[0])
    return rows[:limit]
