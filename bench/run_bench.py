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
import json
import os
import re
import shutil
import subprocess
import sys
import time

# ---------------------------------------------------------------------------
# helpers

import budgets  # noqa: E402  (the modules beside this file)
import callgrind  # noqa: E402
from callgrind import StageError, StageSkipped, run, quiet_env, hot_spots  # noqa: E402
from inbrowser import stage_browser  # noqa: E402
from report import machine, run_facts as report_facts, write_report  # noqa: E402


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


def stage_calls(bindir, work, n, report, journal=False):
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
    if journal:
        # The stand-in with its journal on, as tests and tvsim use it.
        j = callgrind.regions([drv, "calls", str(n), "default"], os.path.join(work, "calls-journal"),
                              journal=True)
        calls["quv-execute-journal"] = split_per_iteration(
            j["call:quv-execute:%d" % n][1], j["call:quv-execute:%d" % (2 * n)][1], n,
            drv)["standin"]
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


def stage_budget(report, skipped):
    """Every budgeted instruction count against its budget (bench/budgets.py);
    a figure whose stage failed counts as over budget."""
    left_out = [s for s in ("calls", "instance", "events") if s in skipped]
    if left_out:
        raise StageSkipped("left out: " + ", ".join(left_out))
    rows = budgets.check(report)
    report["budget"] = rows
    over = []
    for key, what, value, limit, within in rows:
        print("budget %-30s %10s of %8s %s" % (
            key, "-" if value is None else "%.0f" % value, "%.0f" % limit,
            "ok" if within else "OVER"), flush=True)
        if not within:
            over.append("%s: %s instructions, budget %.0f (%s)" % (
                key, "not measured" if value is None else "%.0f" % value, limit, what))
    if over:
        raise StageError("over budget: " + "; ".join(over))


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
        ("calls", lambda r: stage_calls(bindir, work, 20 if sm else 2000, r, journal=not sm)),
        ("instance", lambda r: stage_instance(bindir, work, 3 if sm else 200, r)),
        ("heap", lambda r: stage_heap(bindir, 10 if sm else 100, r)),
        ("decode", lambda r: stage_decode(bindir, work, 20 if sm else 2000, r)),
        ("events", lambda r: stage_events_inprocess(bindir, work, 50 if sm else 20000, r)),
        ("budget", lambda r: stage_budget(r, args.skip)),
        ("gbench", lambda r: stage_gbench(bindir, work, sm, r)),
        ("size", lambda r: stage_size(source, build, work, sm, r)),
        ("browser", lambda r: stage_browser(source, build, work, 200 if sm else 20000,
                                            200 if sm else 100000, sm, 1 if sm else 3, r)),
    ]
    report, passed, failed, skipped = {"_run": report_facts(source)}, 0, 0, 0
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
    report["_run"]["load"] = machine()[2]  # at the end of the run
    with open(os.path.join(work, "report.json"), "w") as fh:
        json.dump(report, fh, indent=1, default=str)
    text = write_report(report, source, args.out)
    if not sm:
        print(text)
    print("bench: %d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
