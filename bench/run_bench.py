#!/usr/bin/env python3
"""Runs the module's benchmarks on a Release build and writes BENCHMARKS.md.

Called by tools/run-bench.sh, which builds first. Every figure comes from this
run: instruction counts from callgrind (the machine is shared, so counts are
the figures to trust), wall-clock figures only as ratios to a baseline
measured in the same run and the same process.

  run_bench.py --build DIR --source DIR [--smoke] [--out FILE]

--smoke runs every stage with tiny counts and checks that each produces sane,
non-empty output; it writes no BENCHMARKS.md (unless --out is given) and
exits non-zero when a stage fails.
"""

import argparse
import datetime
import glob
import json
import os
import re
import select
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

# ---------------------------------------------------------------------------
# helpers

import callgrind  # noqa: E402  (beside this file)
from callgrind import StageError, run, quiet_env, hot_spots  # noqa: E402,F401


class StageSkipped(Exception):
    """The stage cannot run in this build (said in the report)."""


def fmt_int(x):
    if x is None:
        return "below the clock's resolution"
    return "{:,}".format(int(round(x)))


def ratio(a, b):
    return a / b if a is not None and b else None


def fmt_ratio(x):
    if x is None:
        return "—"
    if x < 0.01:
        return "%.2g×" % x
    return ("%.1f×" % x) if x >= 10 else ("%.2f×" % x)


def per_iteration(regions, prefix, n):
    a = regions[prefix + ":" + str(n)][0]
    b = regions[prefix + ":" + str(2 * n)][0]
    return (b - a) / n


def split_per_iteration(dump_n, dump_2n, n, host_binary):
    """Module, stand-in and host instructions per iteration, from the dumps of
    the N and 2N loops (so what a loop costs once cancels)."""
    parts = callgrind.module_parts(host_binary)
    a = callgrind.split(dump_n, parts)
    b = callgrind.split(dump_2n, parts)
    out = {k: (b[k] - a[k]) / n for k in ("module", "standin", "total")}
    out["host"] = out["total"] - out["module"] - out["standin"]
    return out


# ---------------------------------------------------------------------------
# stages


def stage_calls(bindir, work, n, report):
    drv = os.path.join(bindir, "nptv-bench-driver")
    regions = callgrind.regions([drv, "calls", str(n)], os.path.join(work, "calls"))
    keys = ["default", "GetCountry", "SetTimeZone", "GetProgram_Title", "ConvertEpochToLocalTime",
            "IsValidPassword", "GetPluginInfo"]

    def parts(prefix):
        return split_per_iteration(regions["%s:%d" % (prefix, n)][1],
                                   regions["%s:%d" % (prefix, 2 * n)][1], n, drv)

    q = parts("call:quv-execute")
    # The stand-in's own Execute, entered from the loop; the loop's building
    # of the argument texts is the host's.
    calls = {"quv-execute": q["standin"], "quv-execute-loop": q["total"]}
    for k in keys:
        v = parts("call:" + k)
        v["plugin"] = v["total"] - v["standin"]
        v["hot"] = hot_spots(regions["call:%s:%d" % (k, 2 * n)][1], 2 * n)
        if v["total"] <= 0 or v["module"] <= 0 or \
                (k not in ("default", "GetPluginInfo")) != (v["standin"] > 0):
            raise StageError("calls: implausible split for %s: %s" % (k, v))
        calls[k] = v
    if calls["quv-execute"] <= 0:
        raise StageError("calls: no stand-in count")
    report["calls"] = calls
    report["calls_n"] = n


def stage_instance(bindir, work, n, report):
    drv = os.path.join(bindir, "nptv-bench-driver")
    regions = callgrind.regions([drv, "instance", str(n)], os.path.join(work, "instance"))
    out = {"n": n}
    for what in ("new", "destroy"):
        out[what] = split_per_iteration(regions["%s:%d" % (what, n)][1],
                                        regions["%s:%d" % (what, 2 * n)][1], n, drv)
        if out[what]["total"] <= 0 or out[what]["module"] <= 0:
            raise StageError("instance: implausible split for %s: %s" % (what, out[what]))
    report["instance"] = out


def stage_heap(bindir, k, report):
    env = quiet_env()
    # Freed chunks kept in glibc's per-thread cache count as in use for
    # mallinfo2; without the cache the figure is exact.
    env["GLIBC_TUNABLES"] = "glibc.malloc.tcache_count=0"
    p = run([os.path.join(bindir, "nptv-bench-driver"), "heap", str(k)], env=env)
    vals = dict(re.findall(r"^heap (\S+) (\S+)$", p.stdout, re.M))
    report["heap"] = {key: float(v) for key, v in vals.items()}
    if report["heap"].get("bytes_per_instance", 0) <= 0:
        raise StageError("heap: no bytes per instance\n" + p.stdout)


def stage_decode(bindir, work, n, report):
    found = callgrind.regions([os.path.join(bindir, "nptv-bench-decode"), "run", str(n)],
                              os.path.join(work, "decode"))
    out = {}
    for key in ("unicode16", "unicode1000", "ascii16", "ascii1000"):
        per_call = per_iteration(found, "decode:" + key, n)
        size = int(re.sub(r"\D", "", key))
        out[key] = {"per_call": per_call, "per_byte": per_call / size, "bytes": size}
        if per_call <= 0:
            raise StageError("decode: non-positive count for " + key)
    report["decode"] = out


def stage_events_inprocess(bindir, work, n, report):
    """Whole processes of N and 2N events (the framework thread included);
    the difference per event, split between module, stand-in and host."""
    drv = os.path.join(bindir, "nptv-bench-driver")
    out = {}
    for how in ("fn", "name"):
        wd = os.path.join(work, "events")
        _, a = callgrind.whole([drv, "events", str(n), how], wd, how + "1")
        _, b = callgrind.whole([drv, "events", str(2 * n), how], wd, how + "2")
        out[how] = split_per_iteration(a, b, n, drv)
        if out[how]["total"] <= 0 or out[how]["module"] <= 0:
            raise StageError("events in process: implausible split %s" % out[how])
    report["events_inprocess"] = out
    report["events_inprocess_n"] = n


def stage_gbench(bindir, work, smoke, report):
    out = os.path.join(work, "gbench.json")
    args = [os.path.join(bindir, "nptv-bench-gbench"), "--benchmark_out=" + out,
            "--benchmark_out_format=json"]
    if smoke:
        args += ["--benchmark_min_time=0.01"]
    else:
        args += ["--benchmark_repetitions=7", "--benchmark_min_time=0.2",
                 "--benchmark_report_aggregates_only=true"]
    run(args, env=quiet_env(), timeout=1800)
    with open(out) as fh:
        data = json.load(fh)
    med = {}
    for b in data["benchmarks"]:
        if b.get("error_occurred"):
            raise StageError("gbench: %s: %s" % (b["name"], b.get("error_message")))
        name = b.get("run_name", b["name"])
        if smoke or b.get("aggregate_name") == "median":
            med[name.split("/", 1)[1]] = b["cpu_time"] if b["time_unit"] == "ns" else None
        if not smoke and b.get("aggregate_name") == "cv":
            med.setdefault("_cv", {})[name.split("/", 1)[1]] = b["cpu_time"]
    if "default" not in med or any(v is not None and not isinstance(v, dict) and v <= 0
                                   for v in med.values()):
        raise StageError("gbench: no sane result")
    report["gbench"] = med
    report["gbench_context"] = data.get("context", {})


def stripped_size(path, strip_tool, work):
    tmp = os.path.join(work, "stripped-" + os.path.basename(os.path.dirname(path)) + ".so")
    shutil.copy(path, tmp)
    run([strip_tool, "--strip-all", "-o", tmp + ".s", tmp])
    size = os.path.getsize(tmp + ".s")
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.*?)\]",
                        run(["readelf", "-d", tmp + ".s"]).stdout)
    # text + data + bss: finer than the file, whose segments are page-aligned.
    size_tool = strip_tool.replace("strip", "size")
    berkeley = run([size_tool, tmp + ".s"]).stdout.splitlines()[1].split()
    return size, needed, int(berkeley[0]), int(berkeley[1]), int(berkeley[2])


def stage_size(source, build, work, smoke, report):
    """libnptv.so stripped, x86-64 and armhf, -O2 and -Os. Each extra build
    lives under this build dir and builds only the module."""
    out = {}
    # x86-64 -O2: the benchmark build itself.
    lib = os.path.join(build, "module", "libnptv.so")
    out["x86-64 -O2"] = stripped_size(lib, "strip", work)
    if smoke:
        report["size"] = out
        return
    sysroot = os.path.join(source, "build", "armhf-sysroot")
    toolchain = os.path.join(source, "cmake", "armhf.cmake")
    variants = [("x86-64 -Os", "_size-x86-os", None, "MinSizeRel", "strip")]
    have_arm = (os.path.exists(toolchain) and shutil.which("arm-linux-gnueabihf-g++")
                and os.path.exists(os.path.join(sysroot, ".nptv-sysroot")))
    if have_arm:
        variants += [("armhf -O2", "_size-armhf-o2", toolchain, "Release",
                      "arm-linux-gnueabihf-strip"),
                     ("armhf -Os", "_size-armhf-os", toolchain, "MinSizeRel",
                      "arm-linux-gnueabihf-strip")]
    else:
        why = []
        if not os.path.exists(toolchain):
            why.append("no cmake/armhf.cmake")
        if not shutil.which("arm-linux-gnueabihf-g++"):
            why.append("no arm-linux-gnueabihf-g++")
        if not os.path.exists(os.path.join(sysroot, ".nptv-sysroot")):
            why.append("no armhf sysroot (tools/armhf-sysroot.sh not run)")
        out["armhf"] = "not available: " + ", ".join(why)
    for label, sub, tc, btype, strip in variants:
        bdir = os.path.join(build, sub)
        cfg = ["cmake", "-S", source, "-B", bdir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=" + btype,
               "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG", "-DNPTV_TESTS=OFF", "-DNPTV_BROWSER=OFF",
               "-DNPTV_BENCH=OFF"]
        if tc:
            cfg += ["-DCMAKE_TOOLCHAIN_FILE=" + tc, "-DNPTV_ARMHF_SYSROOT=" + sysroot]
        try:
            run(cfg, timeout=600)
            run(["ninja", "-C", bdir, "-j2", "nptv"], timeout=1800)
            out[label] = stripped_size(os.path.join(bdir, "module", "libnptv.so"), strip, work)
        except StageError as e:
            out[label] = "not available: build failed (%s)" % str(e).splitlines()[0][:160]
    report["size"] = out


# ---------------------------------------------------------------------------
# the real browser


def vm_hwm(pid):
    with open("/proc/%d/status" % pid) as fh:
        for line in fh:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])  # kB
    return None


class Sim:
    """A client of the simulated TV's control socket (JSON lines, one reply
    line per request). Requests are pipelined in chunks."""

    def __init__(self, path):
        self.path = path
        self.sock = None
        self.buf = b""

    def connect(self, deadline):
        while True:
            try:
                s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                s.connect(self.path)
                self.sock = s
                return
            except OSError:
                s.close()
                if time.monotonic() > deadline:
                    raise StageError("cannot connect to the simulated TV at " + self.path)
                time.sleep(0.05)

    def requests(self, lines):
        self.sock.sendall(("\n".join(lines) + "\n").encode())
        replies = []
        while len(replies) < len(lines):
            while b"\n" not in self.buf:
                chunk = self.sock.recv(65536)
                if not chunk:
                    raise StageError("the simulated TV closed the control connection")
                self.buf += chunk
            line, self.buf = self.buf.split(b"\n", 1)
            replies.append(line.decode(errors="replace"))
        return replies


def raise_event_line(param1, param2):
    # Both parameters are digits (or a plain word): no JSON escaping needed.
    return '{"cmd":"event","type":0,"param1":"%s","param2":"%s"}' % (param1, param2)


def send_events(sim, n, chunk=500):
    """Raises n events (param1 = sequence number, param2 = CLOCK_REALTIME in ms
    with microseconds at the moment of sending), then the end marker. Returns
    the sending time in seconds."""
    t0 = time.monotonic()
    i = 0
    while i < n:
        lines = []
        for j in range(i, min(n, i + chunk)):
            lines.append(raise_event_line(str(j), "%.3f" % (time.time() * 1000.0)))
        for r in sim.requests(lines):
            if '"ok":true' not in r.replace(" ", ""):
                raise StageError("the simulated TV refused an event: " + r)
        i += len(lines)
    elapsed = time.monotonic() - t0
    sim.requests([raise_event_line("end", "0")])
    return elapsed


def browser_once(source, build, work, calls_iters, events_n, strict):
    tvbrowser = os.path.join(build, "tools", "tvbrowser", "tvbrowser")
    if not os.path.exists(tvbrowser):
        raise StageSkipped("tvbrowser is not built in %s (needs NPTV_BROWSER and Qt 5 WebKit)"
                           % build)
    page = os.path.join(source, "bench", "browser", "bench.html")
    sock_path = os.path.join(tempfile.mkdtemp(prefix="nptv-bench-"), "sim.sock")
    env = quiet_env()
    env["QUV_SIM_SOCKET"] = sock_path
    url = "file://%s?calls=%d&events=%d&minms=%d" % (page, calls_iters, events_n,
                                                     20 if events_n < 1000 else 200)
    cmd = [tvbrowser, "--headless", "--timeout", "1200",
           "--plugin-dir", os.path.join(build, "module"), url]
    errlog = open(os.path.join(work, "tvbrowser.err"), "w")
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.PIPE, stderr=errlog)
    lines, result = [], {}
    sim = Sim(sock_path)
    pending = [b""]
    try:
        deadline = time.monotonic() + 1300

        def next_line():
            # Raw reads from the pipe: a buffered reader would hide lines
            # from select().
            while True:
                if b"\n" in pending[0]:
                    raw, pending[0] = pending[0].split(b"\n", 1)
                    line = raw.decode(errors="replace")
                    lines.append(line + "\n")
                    return line
                if time.monotonic() > deadline:
                    raise StageError("tvbrowser: no output in time")
                r, _, _ = select.select([proc.stdout], [], [], 1.0)
                if r:
                    chunk = os.read(proc.stdout.fileno(), 65536)
                    if not chunk:
                        errlog.flush()
                        raise StageError("tvbrowser ended early (exit %s):\n%s%s" % (
                            proc.wait(), "".join(lines[-20:]),
                            open(errlog.name).read()[-2000:]))
                    pending[0] += chunk

        while True:
            line = next_line()
            if line.startswith("BENCH {"):
                rec = json.loads(line[6:])
                result[rec["figure"]] = rec
            elif line.startswith("BENCH-FAIL"):
                raise StageError("the bench page failed: " + line)
            elif line.startswith("BENCH-READY "):
                phase = line.split()[1]
                if sim.sock is None:
                    sim.connect(time.monotonic() + 10)
                hwm = vm_hwm(proc.pid)
                result.setdefault("hwm", {})["before-" + phase] = hwm
                if phase == "quit":
                    result["hwm"]["after-events"] = hwm
                    result["plugin-in-process"] = any(
                        "libnptv.so" in l for l in open("/proc/%d/maps" % proc.pid))
                    sim.requests([raise_event_line("quit", "0")])
                elif phase == "paced":
                    # One event at a time: the next is raised when the page
                    # has said that it handled the last one.
                    rtts = []
                    for i in range(min(1000, events_n)):
                        t_send = time.monotonic()
                        r = sim.requests([raise_event_line(str(i), "%.3f" % (time.time() * 1000.0))])
                        if '"ok":true' not in r[0].replace(" ", ""):
                            raise StageError("the simulated TV refused an event: " + r[0])
                        while True:
                            l2 = next_line()
                            if l2 == "BENCH-ACK %d" % i:
                                rtts.append((time.monotonic() - t_send) * 1000.0)
                                break
                            if l2.startswith("BENCH-FAIL"):
                                raise StageError("the bench page failed: " + l2)
                            if l2.startswith("BENCH {"):
                                rec = json.loads(l2[6:])
                                result[rec["figure"]] = rec
                    rtts.sort()
                    result["paced_rtt"] = {"n": len(rtts), "median_ms": rtts[(len(rtts) - 1) // 2],
                                           "p99_ms": rtts[min(len(rtts) - 1,
                                                              int(0.99 * len(rtts) + 0.999) - 1)]}
                else:
                    result.setdefault("send_seconds", {})[phase] = send_events(sim, events_n)
            elif line.startswith("BENCH-DONE"):
                break
        rc = proc.wait(timeout=60)
        if rc != 0:
            raise StageError("tvbrowser exited %d" % rc)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        errlog.close()
        with open(os.path.join(work, "tvbrowser.out"), "w") as fh:
            fh.write("".join(lines))
    for need in ("calls", "events-name", "events-fn", "events-name-prequeued",
                 "events-fn-prequeued", "postmessage"):
        if need not in result:
            raise StageError("the bench page gave no '%s' figure" % need)
    # Sanity, strict in the smoke run (in a full run a lost or reordered
    # event is a finding and goes into the table as measured).
    problems = []
    for key in ("events-name", "events-fn", "events-name-prequeued", "events-fn-prequeued",
                "events-paced"):
        e = result.get(key, {})
        if e.get("delivered") != e.get("sent") or not e.get("in_order"):
            problems.append("%s: %s of %s delivered, in order: %s" % (
                key, e.get("delivered"), e.get("sent"), e.get("in_order")))
    calls = result["calls"]
    if not calls.get("getcountry_per_s") or not calls.get("default_per_s"):
        problems.append("no call rate")
    if problems and strict:
        raise StageError("the page's figures are not sane: " + "; ".join(problems))
    return result


def stage_browser(source, build, work, calls_iters, events_n, strict, runs, report):
    """Runs the page `runs` times (each in a new tvbrowser); every number is
    the median over the runs, and the spread of each is kept for the report."""
    results = [browser_once(source, build, work, calls_iters, events_n, strict)
               for _ in range(runs)]

    def merge(values):
        if all(isinstance(v, dict) for v in values):
            return {k: merge([v.get(k) for v in values]) for k in values[0]}
        nums = [v for v in values if isinstance(v, (int, float)) and not isinstance(v, bool)]
        if nums and len(nums) == len(values):
            return statistics.median(nums)
        return values[0]

    def spread(values, out, path=()):
        if all(isinstance(v, dict) for v in values):
            for k in values[0]:
                spread([v.get(k) for v in values], out, path + (k,))
            return
        nums = [v for v in values if isinstance(v, (int, float)) and not isinstance(v, bool)]
        if nums and len(nums) == len(values):
            out["/".join(path)] = (min(nums), max(nums))

    merged = merge(results)
    ranges = {}
    spread(results, ranges)
    merged["runs"] = runs
    merged["ranges"] = ranges
    # Counts must hold in every run, not just in the median one.
    for key in ("events-name", "events-fn", "events-name-prequeued", "events-fn-prequeued",
                "events-paced"):
        merged[key]["delivered_all"] = [r[key]["delivered"] for r in results]
        merged[key]["in_order"] = all(r[key]["in_order"] for r in results)
    report["browser"] = merged


# ---------------------------------------------------------------------------
# report


def machine():
    cpu = "?"
    try:
        with open("/proc/cpuinfo") as fh:
            for line in fh:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    load = open("/proc/loadavg").read().split()[:3]
    return cpu, os.cpu_count(), " ".join(load)


def write_report(report, source, out_path):
    cpu, ncpu, load = machine()
    commit = subprocess.run(["git", "-C", source, "rev-parse", "--short", "HEAD"],
                            stdout=subprocess.PIPE, text=True).stdout.strip()
    dirty = [l[3:] for l in subprocess.run(
        ["git", "-C", source, "status", "--porcelain", "--untracked-files=no"],
        stdout=subprocess.PIPE, text=True).stdout.splitlines()
        if l[3:] != "BENCHMARKS.md" and not l[3:].startswith("bench/")]
    L = []
    L.append("# Benchmarks")
    L.append("")
    L.append("Written by `tools/run-bench.sh` from one run; nothing in this file is typed by hand. "
             "Run %s UTC on commit %s%s, %s (%s cores, load average %s at the end of the run), "
             "Release build at `-O2` unless a row says otherwise." % (
                 datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M"), commit,
                 " (with uncommitted changes of %s)" % ", ".join(dirty) if dirty else "", cpu,
                 ncpu, load))
    L.append("")
    L.append("The machine is shared and noisy, so instruction counts (callgrind) are the figures to "
             "trust; every time-based figure is a ratio to a baseline measured in the same run and "
             "the same process. The browser figures are the median of several runs of the page, each in a "
             "new tvbrowser, with the spread over the runs in brackets. Instruction counts are "
             "x86-64 instructions of this build; the "
             "armhf build was sized but not run, so no ARM instruction count or time is given.")
    L.append("")
    L.append("| figure | value | baseline | ratio | how measured |")
    L.append("|---|---|---|---|---|")

    def row(fig, val, base, ratio, how):
        L.append("| %s | %s | %s | %s | %s |" % (fig, val, base, fmt_ratio(ratio) if ratio is
                                                   not None else "—", how))

    c = report.get("calls")
    case_calls = [("GetCountry", "`tv.GetCountry()` (integer getter)"),
                  ("SetTimeZone", "`tv.SetTimeZone(5, 60)` (value command, two arguments)"),
                  ("GetProgram_Title", "`tv.GetProgram_Title(2)` (100-character title, non-ASCII)"),
                  ("ConvertEpochToLocalTime", "`tv.ConvertEpochToLocalTime(\"1700000000\")`"),
                  ("IsValidPassword", "`tv.IsValidPassword(\"0000\")`")]
    if c:
        n = report["calls_n"]
        floor = c["default"]["total"]
        row("1. instructions per call, default call `tv()` (floor)", fmt_int(floor), "—", None,
            "callgrind, loop of %d and of %d calls through the NPClass `invokeDefault` entry, "
            "(Ir(2N) − Ir(N)) / N" % (n, 2 * n))
        for key, label in case_calls:
            v = c[key]
            row("1. instructions per call, plug-in side: " + label, fmt_int(v["plugin"]),
                "%s (`tv()`)" % fmt_int(floor), v["plugin"] / floor,
                "same loops through the NPClass `invoke` entry; the stand-in answers from a "
                "prepared reply; total %s, of which %s inside the stand-in's `Execute` (callgrind "
                "inclusive cost) are taken off" % (fmt_int(v["total"]), fmt_int(v["standin"])))
        row("1. instructions per command inside the framework stand-in (prepared reply)",
            fmt_int(c["quv-execute"]), "%s (`tv.GetCountry()` plug-in side)" %
            fmt_int(c["GetCountry"]["plugin"]), c["quv-execute"] / c["GetCountry"]["plugin"],
            "the stand-in's five-text `Execute` called directly in a loop (argument texts "
            "built per call); its journal of commands is part of it")
    else:
        row("1. instructions per call", "not measured", "—", None, report.get("calls_error", ""))

    g = report.get("gbench")
    if g:
        base = g["default"]
        for key, label in [("default", "`tv()`")] + case_calls:
            if key == "default":
                row("1. ns per call (Google Benchmark): `tv()` (baseline)", "%.1f ns" % base, "—",
                    None, "median of 7 repetitions of ≥ 0.2 s, CPU time, same process")
            else:
                row("1. ns per call (Google Benchmark): " + label, "%.0f ns" % g[key],
                    "%.1f ns (`tv()`)" % base, g[key] / base,
                    "median of 7 repetitions, CPU time; includes the stand-in (prepared reply)")
        if "quv-execute" in g:
            row("1. ns per command, framework stand-in alone", "%.0f ns" % g["quv-execute"],
                "%.1f ns (`tv()`)" % base, g["quv-execute"] / base, "as above")
    else:
        row("1. ns per call (Google Benchmark)", "not measured", "—", None,
            report.get("gbench_error", ""))

    b = report.get("browser")
    if b:
        rg = b.get("ranges", {})

        def spread(path, unit=""):
            lo_hi = rg.get(path)
            if not lo_hi or b.get("runs", 1) < 2:
                return ""
            lo, hi = lo_hi
            if unit == "ms":
                return " (%d runs: %.2f–%.2f ms)" % (b["runs"], lo, hi)
            return " (%d runs: %s–%s)" % (b["runs"], fmt_int(lo), fmt_int(hi))

        cr = b["calls"]
        row("2. calls per second from page script, `tv.GetCountry()` against the simulated TV",
            fmt_int(cr["getcountry_per_s"]) + spread("calls/getcountry_per_s"),
            "%s (`tv()`)" % fmt_int(cr["default_per_s"]) + spread("calls/default_per_s"),
            ratio(cr["getcountry_per_s"], cr["default_per_s"]),
            "tvbrowser (Qt WebKit), loops of %d calls repeated for at least %d ms per round, "
            "%d rounds interleaved, median round; `performance.now()` step %.3f ms; "
            "`tv()` never reaches the TV" % (cr["iters"], cr["min_ms"], cr["rounds"],
                                             cr["clock_step_ms"]))
        row("2. calls per second from page script, `tv()` (floor)",
            fmt_int(cr["default_per_s"]) + spread("calls/default_per_s"),
            "%s (JavaScript function call)" % fmt_int(cr["js_per_s"]) + spread("calls/js_per_s"),
            ratio(cr["default_per_s"], cr["js_per_s"]),
            "same page, same rounds; the JavaScript function returns a global counter plus one")
        row("2. `tv.GetCountry()` against a plain JavaScript function call",
            fmt_int(cr["getcountry_per_s"]), "%s (JavaScript function call)" %
            fmt_int(cr["js_per_s"]), ratio(cr["getcountry_per_s"], cr["js_per_s"]),
            "same page, same rounds")
        pm = b["postmessage"]
        for key, label in (("events-fn", "function handler"), ("events-name", "name handler")):
            e = b[key]
            row("3. events per second to the page, %s" % label,
                fmt_int(e["per_s"]) + spread(key + "/per_s"),
                "%s (`window.postMessage` to itself)" % fmt_int(pm["per_s"]) +
                spread("postmessage/per_s"),
                ratio(e["per_s"], pm["per_s"]),
                "%s events raised in a burst by the runner through the simulated TV's control "
                "socket (sending took %.2f s, so the sender managed %s events/s: a delivery "
                "rate near that is bound by the sender); rate = delivered / (last arrival − "
                "first arrival) in the page" % (
                    fmt_int(e["sent"]), b["send_seconds"][key.split("-")[1]],
                    fmt_int(e["sent"] / b["send_seconds"][key.split("-")[1]])))
            row("3. events delivered / sent, order kept, %s" % label,
                "%s of %s in each run, order %s" % (
                    ", ".join(fmt_int(d) for d in e.get("delivered_all", [e["delivered"]])),
                    fmt_int(e["sent"]), "kept" if e["in_order"] else "NOT kept"),
                "—", None, "param1 carries the sequence number; the handler counts and compares")
            row("3. latency `OnEvent` raise → handler, %s: median / 99th percentile" % label,
                "%.2f ms / %.2f ms" % (e["lat_median_ms"], e["lat_p99_ms"]) +
                spread(key + "/lat_median_ms", "ms"),
                "%.3f ms / %.3f ms (postMessage hop)" % (pm["lat_median_ms"], pm["lat_p99_ms"]),
                e["lat_median_ms"] / pm["lat_median_ms"] if pm["lat_median_ms"] > 0 else None,
                "param2 carries CLOCK_REALTIME in ms (µs precision) taken by the runner just "
                "before the raise request; the handler compares it with `Date.now()` (whole ms, "
                "so each latency is good to ±1 ms). Includes the control "
                "socket, the stand-in's event queue and framework thread, the hop to the main "
                "thread and the queue behind earlier events of the burst")
        rt = b.get("paced_rtt")
        if rt:
            row("3. round trip raise → handler → page's line seen by the runner, one event at a "
                "time: median / 99th percentile", "%.3f ms / %.3f ms" % (rt["median_ms"], rt["p99_ms"])
                + spread("paced_rtt/median_ms", "ms"),
                "—", None,
                "%d events, the runner's monotonic clock (µs) from sending the raise request to "
                "reading the handler's `BENCH-ACK` line on tvbrowser's stdout: an upper bound of "
                "the latency, free of the page clock's 1 ms step" % rt["n"])
        for key, label in (("events-fn-prequeued", "function handler"),
                           ("events-name-prequeued", "name handler")):
            e = b[key]
            row("3. events per second to the page, %s, all queued before the page takes them"
                % label, fmt_int(e["per_s"]) + spread(key + "/per_s"),
                "%s (`window.postMessage` to itself)" % fmt_int(pm["per_s"]),
                ratio(e["per_s"], pm["per_s"]),
                "the page raises %s events itself (`tvbrowser.sim`) while holding the main "
                "thread, waits until the framework thread has handed all to `OnEvent`, then "
                "lets them in: delivered %s in each run, order %s; rate = delivered / (last − "
                "first arrival): the delivery capacity, free of any sender's speed" % (
                    fmt_int(e["sent"]),
                    ", ".join(fmt_int(d) for d in e.get("delivered_all", [e["delivered"]])),
                    "kept" if e["in_order"] else "NOT kept"))
        hwm = b.get("hwm", {})
        if hwm:
            row("3. browser peak memory (VmHWM) before / after all event phases",
                "%s kB / %s kB" % (fmt_int(hwm.get("before-name", 0)),
                                   fmt_int(hwm.get("after-events", 0))),
                "%s kB (before)" % fmt_int(hwm.get("before-name", 0)),
                hwm.get("after-events", 0) / hwm["before-name"] if hwm.get("before-name") else None,
                "/proc/PID/status of the tvbrowser process%s; VmHWM when each phase began: %s" %
                (" (the module is loaded in that process)" if b.get("plugin-in-process") else
                 " (the module was NOT seen in its maps)",
                 ", ".join("%s %s kB" % (k[len("before-"):].replace("quit", "end"), fmt_int(v))
                           for k, v in hwm.items() if k.startswith("before-"))))
    else:
        row("2./3. figures in the real browser", "not measured", "—", None,
            report.get("browser_error", ""))

    ev = report.get("events_inprocess")
    if ev and c:
        for how, label in (("fn", "function handler"), ("name", "name handler")):
            row("3. instructions per event, in process, %s" % label, fmt_int(ev[how]),
                "%s (`tv.GetCountry()` total)" % fmt_int(c["GetCountry"]["total"]),
                ev[how] / c["GetCountry"]["total"],
                "thin host, whole process under callgrind (framework thread included) for %d and "
                "%d events, difference / N; raise, stand-in queue, `OnEvent`, hop, delivery "
                "(the host's `NPN_Evaluate` only records the text); of these, %s are spent "
                "inside the framework's log call `PrintLog` (the stand-in formats every record "
                "even with no log file)" % (
                    report["events_inprocess_n"], 2 * report["events_inprocess_n"],
                    fmt_int(report["events_inprocess_log"][how])))

    inst = report.get("instance")
    if inst and c:
        gc = c["GetCountry"]["total"]
        row("4. instructions for `NPP_New` through `GetScriptableObject`", fmt_int(inst["new"]),
            "%s (one `tv.GetCountry()`)" % fmt_int(gc), inst["new"] / gc,
            "callgrind, %d and %d instances made one after another, only creation collected; "
            "includes the stand-in's connection, the \"SetAppInfo\" command, the log records, "
            "and the thin host's own answers (50 identifier look-ups in a hash map, four "
            "variable texts, object creation)" % (inst["n"], 2 * inst["n"]))
        row("4. instructions for `NPP_Destroy`", fmt_int(inst["destroy"]),
            "%s (one `tv.GetCountry()`)" % fmt_int(gc), inst["destroy"] / gc,
            "as above, only destruction collected (the host then drops its script object "
            "reference, included)")
    h = report.get("heap")
    if h:
        row("4. heap bytes held per live instance", "%s B" % fmt_int(h["bytes_per_instance"]),
            "%s B (the stand-in's connection alone)" % fmt_int(h["of_which_standin_connection"]),
            h["bytes_per_instance"] / h["of_which_standin_connection"]
            if h["of_which_standin_connection"] else None,
            "mallinfo2() in-use delta over %d live instances (after a warm-up round, glibc "
            "tcache off), host's own NPP_t taken off; includes the stand-in's connection; "
            "after destroying them %s B per instance remain" % (
                int(h["instances"]), fmt_int(h["bytes_left_after_destroy_per_instance"])))

    s = report.get("size")
    if s:
        base = s.get("x86-64 -O2")
        for label in ("x86-64 -O2", "x86-64 -Os", "armhf -O2", "armhf -Os"):
            v = s.get(label)
            if isinstance(v, tuple) or isinstance(v, list):
                row("5. stripped `libnptv.so`, %s" % label, "%s B" % fmt_int(v[0]),
                    "%s B (x86-64 -O2)" % fmt_int(base[0]) if label != "x86-64 -O2" else "—",
                    v[0] / base[0] if label != "x86-64 -O2" else None,
                    "`strip --strip-all`, file size (its segments are aligned to pages, so it "
                    "moves in 4 KiB steps); text %s B, data %s B, bss %s B; DT_NEEDED: %s" % (
                        fmt_int(v[2]), fmt_int(v[3]), fmt_int(v[4]), ", ".join(v[1])))
            elif v is not None:
                row("5. stripped `libnptv.so`, %s" % label, v, "—", None, "")
        if "armhf" in s:
            row("5. stripped `libnptv.so`, armhf", s["armhf"], "—", None, "")

    d = report.get("decode")
    if d:
        for key, label in (("unicode16", "`GetUNICODE`, 16-byte reply"),
                           ("unicode1000", "`GetUNICODE`, 1,000-byte reply"),
                           ("ascii16", "`GetASCII`, 16-byte reply"),
                           ("ascii1000", "`GetASCII`, 1,000-byte reply")):
            v = d[key]
            base_key = key.replace("unicode", "ascii") if key.startswith("unicode") else None
            if base_key:
                row("6. instructions per reply byte, " + label, "%.1f (%s per reply)" % (
                    v["per_byte"], fmt_int(v["per_call"])),
                    "%.1f (`GetASCII`, same size)" % d[base_key]["per_byte"],
                    v["per_byte"] / d[base_key]["per_byte"],
                    "callgrind regions, decoder called directly into a 1,024-byte buffer, "
                    "(Ir(2N) − Ir(N)) / N / reply bytes (marker included)")
            else:
                row("6. instructions per reply byte, " + label, "%.2f (%s per reply)" % (
                    v["per_byte"], fmt_int(v["per_call"])), "—", None, "as above")

    L.append("")
    if c:
        L.append("## Where the instructions of one call go")
        L.append("")
        L.append("Instructions per call spent in each function itself (callgrind self cost of "
                 "the 2N loop divided by 2N; the eight largest), to show what the totals above "
                 "are made of.")
        L.append("")
        for key, label in case_calls:
            L.append("- %s: %s" % (label, "; ".join("%s %s (%s)" % (fmt_int(ir), fn, obj)
                                                    for ir, fn, obj in c[key]["hot"])))
        L.append("")
    errors = {k: v for k, v in report.items() if k.endswith("_error")}
    if errors:
        L.append("## Not measured in this run")
        L.append("")
        for k, v in errors.items():
            L.append("- %s: %s" % (k[:-6], v.replace("\n", " ")[:400]))
        L.append("")
    L.append("## How to run")
    L.append("")
    L.append("`tools/run-bench.sh` (full run: a few minutes, more the first time, when it also "
             "builds the -Os and armhf variants of the module; rewrites this file) or "
             "`tools/run-bench.sh --smoke` (every stage with tiny counts, checks the output, "
             "writes nothing; also the CTest test `bench-smoke`).")
    L.append("")
    text = "\n".join(L)
    if out_path:
        with open(out_path, "w") as fh:
            fh.write(text)
    return text


# ---------------------------------------------------------------------------


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--source", required=True)
    ap.add_argument("--smoke", action="store_true")
    ap.add_argument("--out")
    ap.add_argument("--skip", action="append", default=[],
                    help="stage to leave out: calls, instance, heap, decode, events, gbench, "
                         "size, browser")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    source = os.path.abspath(args.source)
    bindir = os.path.join(build, "bench")
    work = os.path.join(build, "bench-results" + ("-smoke" if args.smoke else ""))
    os.makedirs(work, exist_ok=True)
    sm = args.smoke
    stages = [
        ("calls", lambda r: stage_calls(bindir, work, 20 if sm else 2000, r)),
        ("instance", lambda r: stage_instance(bindir, work, 3 if sm else 200, r)),
        ("heap", lambda r: stage_heap(bindir, 10 if sm else 100, r)),
        ("decode", lambda r: stage_decode(bindir, work, 20 if sm else 2000, r)),
        ("events", lambda r: stage_events_inprocess(bindir, work, 50 if sm else 20000, r)),
        ("gbench", lambda r: stage_gbench(bindir, work, sm, r)),
        ("size", lambda r: stage_size(source, build, work, sm, r)),
        ("browser", lambda r: stage_browser(source, build, work, 200 if sm else 20000,
                                            200 if sm else 100000, sm, 1 if sm else 3, r)),
    ]
    report, passed, failed, skipped = {}, 0, 0, 0
    for name, fn in stages:
        if name in args.skip:
            skipped += 1
            continue
        t0 = time.monotonic()
        try:
            fn(report)
            passed += 1
            print("stage %-9s ok (%.1f s)" % (name, time.monotonic() - t0), flush=True)
        except StageSkipped as e:
            skipped += 1
            report[name + "_error"] = "skipped: " + str(e)
            print("stage %-9s skipped: %s" % (name, e), flush=True)
        except (StageError, subprocess.TimeoutExpired, OSError, KeyError, ValueError) as e:
            failed += 1
            report[name + "_error"] = str(e).strip()
            print("stage %-9s FAILED (%.1f s): %s" % (name, time.monotonic() - t0,
                                                      str(e).strip()[:1500]), flush=True)
    with open(os.path.join(work, "report.json"), "w") as fh:
        json.dump(report, fh, indent=1, default=str)
    text = write_report(report, source, args.out)
    if not sm:
        print(text)
    print("bench: %d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
