"""BENCHMARKS.md from the report of one run (run_bench.py)."""

import datetime
import json
import os
import subprocess

ARMHF_NOTE = ("no armhf instruction count is given: Debian's qemu-user 7.2 on this machine "
              "accepts TCG plug-ins (`-plugin`) but ships none (`dpkg -L qemu-user` lists no "
              "plug-in, no `libinsn.so`), and none of Debian's qemu packages offered here is a "
              "development package with the plug-in API header (`qemu-plugin.h`) to build one "
              "against; so the armhf build is sized (section 5) but its instructions are not "
              "counted.")

BEFORE_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "before.json")
try:
    with open(BEFORE_FILE) as _fh:
        BEFORE = json.load(_fh)
except (OSError, ValueError):
    BEFORE = {}


OWN_SECTIONS = ("Where the instructions of one call go", "Not measured in this run", "How to run")


def other_sections(path):
    """The "## " sections of an existing report that this writer does not
    make (another benchmark's section), as lines, kept as they are."""
    try:
        with open(path) as fh:
            lines = fh.read().splitlines()
    except (OSError, TypeError):
        return []
    out, keep = [], False
    for line in lines:
        if line.startswith("## "):
            keep = line[3:].strip() not in OWN_SECTIONS
        elif line.startswith("# "):
            keep = False
        if keep:
            out.append(line)
    if out and out[-1] != "":
        out.append("")
    return out


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


def run_facts(source):
    """Where and when a run happens; kept in its report.json, so that the file
    can be written again from it (render.py) with these facts unchanged."""
    cpu, ncpu, load = machine()
    commit = subprocess.run(["git", "-C", source, "rev-parse", "--short", "HEAD"],
                            stdout=subprocess.PIPE, text=True).stdout.strip()
    dirty = [l[3:] for l in subprocess.run(
        ["git", "-C", source, "status", "--porcelain", "--untracked-files=no"],
        stdout=subprocess.PIPE, text=True).stdout.splitlines()
        if l[3:] != "BENCHMARKS.md" and not l[3:].startswith("bench/")]
    return {"cpu": cpu, "ncpu": ncpu, "load": load, "commit": commit, "dirty": dirty,
            "time": datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M")}


def write_report(report, source, out_path):
    facts = report.get("_run") or run_facts(source)
    cpu, ncpu, commit, dirty, load = (facts[k] for k in ("cpu", "ncpu", "commit", "dirty", "load"))
    L = []
    L.append("# Benchmarks")
    L.append("")
    L.append("Written by `tools/run-bench.sh` from one run; nothing in this file is typed by hand. "
             "Run %s UTC on commit %s%s, %s (%s cores, load average %s at the end of the run), "
             "Release build at `-O2` unless a row says otherwise." % (
                 facts["time"], commit,
                 " (with uncommitted changes of %s)" % ", ".join(dirty) if dirty else "", cpu,
                 ncpu, load))
    L.append("")
    L.append("The machine is shared and noisy, so instruction counts (callgrind) are the figures to "
             "trust: they do not depend on the load. Time-based figures are noisy on this machine "
             "(several engineers build on its two cores at once); each is a ratio to a baseline "
             "measured in the same run and the same process. The browser figures are the median "
             "of several runs of the page, each in a new tvbrowser, with the spread over the runs "
             "in brackets. Instruction counts are x86-64 instructions of this build; %s" %
             ARMHF_NOTE)
    L.append("")
    L.append("Each instruction count is split between the three parts of the process by the calls "
             "between them (bench/callgrind.py): **module** (libnptv.so and the C and C++ library "
             "work it asks for), **host** (the thin browser of the drivers) and **stand-in** (our "
             "libQuv.so). *Plug-in side* is module and host together: everything but the "
             "stand-in. The drivers run with the stand-in's journal of commands off "
             "(`QUV_JOURNAL=0`) and no log file, as a browser would.")
    L.append("")
    L.append("*Before* is the same figure measured on commit %s, before the module and the "
             "stand-in were made cheaper (%s); *budget* is the limit that the test command "
             "enforces (bench/budgets.py)." % (BEFORE.get("_commit", "?"),
                                               BEFORE.get("_how", "no before figures")))
    L.append("")
    L.append("| figure | before | after | budget | baseline | ratio | how measured |")
    L.append("|---|---|---|---|---|---|---|")

    budget_rows = {b[0]: b for b in report.get("budget", [])}

    def row(fig, val, base, ratio, how, budget_key=None):
        b = budget_rows.get(budget_key)
        budget = "—"
        if b:
            budget = "≤ %s (%s)" % (fmt_int(b[3]), "within" if b[4] else "**EXCEEDED**")
        L.append("| %s | %s | %s | %s | %s | %s | %s |" % (
            fig, BEFORE.get(fig, "—"), val, budget, base,
            fmt_ratio(ratio) if ratio is not None else "—", how))

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
            "(Ir(2N) − Ir(N)) / N; module %s, host %s" % (
                n, 2 * n, fmt_int(c["default"]["module"]), fmt_int(c["default"]["host"])))
        pi = c.get("GetPluginInfo")
        if pi:
            row("1. instructions per call, `tv.GetPluginInfo(0)` (answered by the module, no TV)",
                fmt_int(pi["total"]), "%s (`tv()`)" % fmt_int(floor), pi["total"] / floor,
                "same loops through the NPClass `invoke` entry; module %s, host %s (the result "
                "text's `NPN_MemAlloc` and its release)" % (fmt_int(pi["module"]),
                                                             fmt_int(pi["host"])))
        for key, label in case_calls:
            v = c[key]
            row("1. instructions per call, plug-in side: " + label, fmt_int(v["plugin"]),
                "%s (`tv()`)" % fmt_int(floor), v["plugin"] / floor,
                "same loops through the NPClass `invoke` entry, the stand-in answering from a "
                "prepared reply; module %s + host %s (the loop, the result's release); the "
                "stand-in's %s are not counted; total %s" % (
                    fmt_int(v["module"]), fmt_int(v["host"]), fmt_int(v["standin"]),
                    fmt_int(v["total"])), "call:" + key)
            row("1. instructions per call, module side: " + label, fmt_int(v["module"]),
                "%s (`tv()`)" % fmt_int(floor), v["module"] / floor,
                "the row above without the host's share")
        row("1. instructions per command inside the framework stand-in (prepared reply)",
            fmt_int(c["quv-execute"]), "%s (`tv.GetCountry()` plug-in side)" %
            fmt_int(c["GetCountry"]["plugin"]), c["quv-execute"] / c["GetCountry"]["plugin"],
            "the stand-in's five-text `Execute` called directly in a loop, its own share only "
            "(the loop's building of the argument texts is the host's); journal off", "standin")
        if "quv-execute-journal" in c:
            row("1. instructions per command inside the framework stand-in, journal on",
                fmt_int(c["quv-execute-journal"]), "%s (journal off)" % fmt_int(c["quv-execute"]),
                c["quv-execute-journal"] / c["quv-execute"],
                "as above with the journal of commands on (the default outside the benchmarks): "
                "a ring of the last 4,096 commands whose slots keep their storage")
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
        if cr.get("plugininfo_per_s"):
            row("2. calls per second from page script, `tv.GetPluginInfo(0)` (answered by the "
                "module, no TV)", fmt_int(cr["plugininfo_per_s"]) +
                spread("calls/plugininfo_per_s"),
                "%s (`tv()`)" % fmt_int(cr["default_per_s"]), ratio(cr["plugininfo_per_s"],
                                                                    cr["default_per_s"]),
                "same page, same rounds; a text result (the browser copies it into a script "
                "string)")
            row("2. `tv.GetCountry()` against the floor `tv.GetPluginInfo(0)`",
                fmt_int(cr["getcountry_per_s"]), "%s (`tv.GetPluginInfo(0)`)" %
                fmt_int(cr["plugininfo_per_s"]),
                ratio(cr["getcountry_per_s"], cr["plugininfo_per_s"]),
                "same page, same rounds: what reaching the TV (the simulated one) adds to a call "
                "the module answers itself")
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
            e = ev[how]
            row("3. instructions per event, in process, %s: module side" % label,
                fmt_int(e["module"]), "%s (`tv.GetCountry()` module side)" %
                fmt_int(c["GetCountry"]["module"]), e["module"] / c["GetCountry"]["module"],
                "thin host, whole process under callgrind (framework thread included) for %d and "
                "%d events, difference / N: the module's `OnEvent` on the framework thread, the "
                "hop, the delivery on the main thread; the framework's log call `PrintLog` and "
                "the host's work are not counted" % (
                    report["events_inprocess_n"], 2 * report["events_inprocess_n"]),
                "event:" + how)
            row("3. instructions per event, in process, %s: all parts" % label,
                fmt_int(e["total"]), "%s (module side)" % fmt_int(e["module"]),
                e["total"] / e["module"],
                "as above; stand-in %s (raise, queue, framework thread, log call), host %s "
                "(its async queue, `NPN_InvokeDefault` or `NPN_Evaluate`, which only record)" % (
                    fmt_int(e["standin"]), fmt_int(e["host"])))

    inst = report.get("instance")
    if inst and c:
        gc = c["GetCountry"]["total"]
        new, des = inst["new"], inst["destroy"]
        row("4. instructions for `NPP_New` through `GetScriptableObject`: module side",
            fmt_int(new["module"]), "%s (one `tv.GetCountry()`, all parts)" % fmt_int(gc),
            new["module"] / gc,
            "callgrind, %d and %d instances made one after another, only creation collected; "
            "the module's own work: reading the four application texts, the TV object, the "
            "\"SetAppInfo\" command's texts, the identifiers' interning loop, the script "
            "object" % (inst["n"], 2 * inst["n"]), "new")
        row("4. instructions for `NPP_New` through `GetScriptableObject`: all parts",
            fmt_int(new["total"]), "%s (module side)" % fmt_int(new["module"]),
            new["total"] / new["module"],
            "as above; stand-in %s (the connection, its Open, the command, the log calls), host "
            "%s (50 identifier look-ups in a hash map, four variable texts, object creation)" % (
                fmt_int(new["standin"]), fmt_int(new["host"])))
        row("4. instructions for `NPP_Destroy`", fmt_int(des["total"]),
            "%s (one `tv.GetCountry()`)" % fmt_int(gc), des["total"] / gc,
            "as above, only destruction collected (the host then drops its script object "
            "reference, included); module %s, stand-in %s, host %s" % (
                fmt_int(des["module"]), fmt_int(des["standin"]), fmt_int(des["host"])))
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
             "`tools/run-bench.sh --smoke` (every stage with tiny counts, checks the output and "
             "every budget, writes nothing; also the CTest test `bench-smoke` of the native "
             "stage). `NPTV_BUDGET_SCALE=0.5 tools/run-bench.sh --smoke` halves every budget "
             "and so shows the check failing. Sections of this file with other headings than "
             "the ones above (another benchmark's own section) are kept as they are when the "
             "file is rewritten.")
    L.append("")
    L.extend(other_sections(out_path))
    text = "\n".join(L)
    if out_path:
        with open(out_path, "w") as fh:
            fh.write(text)
    return text


