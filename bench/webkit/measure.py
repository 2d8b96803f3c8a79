#!/usr/bin/env python3
"""The module's speed from page script in tvwebkit (WebKitGTK, the module in
the web process through the nptv web-process extension) beside tvbrowser (Qt
WebKit, the module in the browser), in one run: bench/browser/bench.html in
each program in turn, the simulated TV's events raised through its control
socket (bench/inbrowser.py).

  bench/webkit/measure.py BUILD [--before BUILD0] [--runs N] [--events N] [--write]

BUILD holds tvbrowser, tvwebkit and the module. --before BUILD0: a build of
an earlier commit whose tvwebkit runs in the same run, taking its turn with
the others, for a column "before". --write puts the section into
BENCHMARKS.md between its markers, leaving the rest of the file as it is.
tvwebkit runs with NPTV_WEBKIT_TEST_STATS=1, which gives the page the
extension's hop figures (the time from a call's queuing to its handler).
"""
import argparse
import os
import re
import statistics
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "bench"))
from inbrowser import browser_once  # noqa: E402

FIGURES = [
    # (label, figure, key)
    ("`tv.GetCountry()` calls per second (loop in page script)", "calls", "getcountry_per_s"),
    ("`tv.GetPluginInfo(0)` calls per second (answered by the module itself)", "calls", "plugininfo_per_s"),
    ("function-handler events per second, burst as raised", "events-fn", "per_s"),
    ("function-handler events per second, pre-queued (delivery capacity)", "events-fn-prequeued", "per_s"),
    ("name-handler events per second, burst as raised", "events-name", "per_s"),
    ("name-handler events per second, pre-queued (delivery capacity)", "events-name-prequeued", "per_s"),
    ("one event's latency, paced, median ms (TV's raise → handler, whole ms)", "events-paced", "lat_median_ms"),
    ("the extension's hop, paced, median µs (queue → handler call)", "hop", "median_us"),
    ("the extension's hop, paced, 99th percentile µs", "hop", "p99_us"),
    ("the same hop, median µs, every process of the program on one CPU", "hop-one-cpu", "median_us"),
    ("the same hop, 99th percentile µs, on one CPU", "hop-one-cpu", "p99_us"),
    ("animation frames per second kept while 10,000 pre-queued events reach a function handler (1000 / longest frame interval)", "events-storm", "fps"),
    ("the same, mean over those frames", "events-storm", "fps_mean"),
    ("those 10,000 events per second", "events-storm", "per_s"),
    ("those 10,000 events' stream, first to last, ms", "events-storm", "duration_ms"),
]
EVENT_FIGURES = ["events-fn", "events-fn-prequeued", "events-name", "events-name-prequeued", "events-paced",
                 "events-storm"]


def fmt(v):
    if v is None:
        return "—"
    return "{:,.0f}".format(v) if v >= 100 else "{:.2f}".format(v)


def before_name(path):
    """The commit of an earlier build's source, as its CMake cache names it."""
    try:
        for line in open(os.path.join(path, "CMakeCache.txt"), encoding="utf-8"):
            if line.startswith("CMAKE_HOME_DIRECTORY"):
                return os.path.basename(line.split("=", 1)[1].strip())
    except OSError:
        pass
    return os.path.basename(os.path.abspath(path))


def build_type(path):
    try:
        for line in open(os.path.join(path, "CMakeCache.txt"), encoding="utf-8"):
            if line.startswith("CMAKE_BUILD_TYPE:"):
                return line.split("=", 1)[1].strip()
    except OSError:
        pass
    return "?"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("build")
    ap.add_argument("--before")
    ap.add_argument("--before-label", help="what the --before build is (default: its source folder)")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--events", type=int, default=20000)
    ap.add_argument("--calls", type=int, default=20000)
    ap.add_argument("--write", action="store_true")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    os.environ["NPTV_WEBKIT_TEST_STATS"] = "1"
    programs = {"tvbrowser": (None, build)}
    if args.before:
        before = os.path.abspath(args.before)
        programs["tvwebkit-before"] = (os.path.join(before, "tools", "tvwebkit", "tvwebkit"), before)
    programs["tvwebkit"] = (os.path.join(build, "tools", "tvwebkit", "tvwebkit"), build)
    # tvwebkit once more per run with all its processes on one CPU, for the
    # hop alone: woken on another CPU of this virtual machine, the main thread
    # takes some 300 µs to run at all, which is the machine's, not the hop's.
    pinned = "tvwebkit on one CPU"
    runs_of = dict(programs, **{pinned: programs["tvwebkit"]})
    results = {name: [] for name in runs_of}
    with tempfile.TemporaryDirectory(prefix="nptv-bench-webkit.") as work:
        for run in range(args.runs):
            for name, (program, where) in runs_of.items():  # alternating, so that load changes hit all
                cpus = os.sched_getaffinity(0)
                if name == pinned:
                    os.sched_setaffinity(0, {min(cpus)})  # the programs started inherit it
                try:
                    r = browser_once(SOURCE, where, work, args.calls, args.events, False, program=program)
                finally:
                    os.sched_setaffinity(0, cpus)
                results[name].append(r)
                print("run %d %s: GetCountry %s/s, fn events pre-queued %s/s, storm %s fps, hop %s us" % (
                    run + 1, name, fmt(r["calls"]["getcountry_per_s"]),
                    fmt(r["events-fn-prequeued"]["per_s"]), fmt(r.get("events-storm", {}).get("fps")),
                    fmt(r.get("hop", {}).get("median_us"))), flush=True)

    for r, p in zip(results["tvwebkit"], results[pinned]):
        r["hop-one-cpu"] = p.get("hop", {})

    def med(name, figure, key):
        vals = [r.get(figure, {}).get(key) for r in results[name]]
        vals = [v for v in vals if isinstance(v, (int, float))]
        return (statistics.median(vals), min(vals), max(vals)) if vals else (None, None, None)

    load = os.getloadavg()[0]
    rows = []
    for label, figure, key in FIGURES:
        cells = []
        for name in programs:
            m, lo, hi = med(name, figure, key)
            cells.append("%s (%s–%s)" % (fmt(m), fmt(lo), fmt(hi)) if m is not None else "—")
        q, w = med("tvbrowser", figure, key)[0], med("tvwebkit", figure, key)[0]
        ratios = ["%.2f×" % (w / q) if q and w else "—"]
        if args.before:
            b = med("tvwebkit-before", figure, key)[0]
            ratios.append("%.2f×" % (w / b) if b and w else "—")
        rows.append("| %s | %s | %s |" % (label, " | ".join(cells), " | ".join(ratios)))
    if args.before:
        header = ("| figure | tvbrowser | tvwebkit before (%s) | tvwebkit | tvwebkit / tvbrowser | tvwebkit / before |\n"
                  "|---|---|---|---|---|---|" % (args.before_label or before_name(args.before)))
    else:
        header = "| figure | tvbrowser | tvwebkit | tvwebkit / tvbrowser |\n|---|---|---|---|"
    before_text = (", and beside them tvwebkit of %s (same page, same runner)" % (
        args.before_label or before_name(args.before))) if args.before else ""
    lost = []
    for name in programs:
        for figure in EVENT_FIGURES:
            for r in results[name]:
                e = r.get(figure, {})
                if e.get("delivered") != e.get("sent") or not e.get("in_order"):
                    lost.append("%s %s: %s of %s delivered, in order: %s" % (
                        name, figure, e.get("delivered"), e.get("sent"), e.get("in_order")))
    section = """<!-- webkit:begin (written by bench/webkit/measure.py) -->
## The module in tvwebkit beside tvbrowser

`bench/browser/bench.html` from page script, in tvbrowser (Qt WebKit 5.212,
the module in the browser process) and in tvwebkit (WebKitGTK 2.50, the
module in the web process through the nptv web-process extension, in
WebKit's sandbox as by default){before_text}, the programs taking turns, {runs} runs each,
{events:,} events per burst; median over the runs, with the lowest and
highest in brackets. Same build type ({build_type}) for every build, same
machine (2 cores shared with other work, 1-minute load average {load:.1f} at
the end: absolute rates move with the load, the ratios of one run less).

What each figure includes:
- Call rates: loops of {calls:,} calls timed in the page, each call from page
  script through the browser's NPAPI layer (in tvwebkit: JavaScriptCore's
  GLib API, the extension and the shared NPAPI host) into the module and, for
  `GetCountry()`, to the simulated TV in the same process and back.
- Event rates: counted by the page's handler from the first to the last event
  of a burst, raised through the simulated TV's control socket by the runner
  ("as raised": bounded by the sender too), or all queued first (by one
  request to the simulated TV, so that queuing leaves the page no garbage to
  collect in the middle of the burst) and then let in ("pre-queued": the
  framework's hop, the browser's dispatch, the module's event path and the
  handler; in tvwebkit also what WebKit runs between the slices the
  extension gives it back).
- Paced latency: one event at a time, from the runner's clock when it raised
  the event to the page's `Date.now()` in the handler; whole milliseconds
  (the page's clock), so it says "under a millisecond" and no more. The page
  no longer repaints per event (it once appended each acknowledgement to a
  growing `<pre>`, whose repaint was most of the 5 ms it measured then).
- The extension's hop: from the moment a call is queued (on the framework's
  thread) to the moment the extension calls the page's handler function
  through JavaScriptCore, timed inside the extension with the monotonic
  clock (only with `NPTV_WEBKIT_TEST_STATS`, which the runner sets for
  tvwebkit), paced events on a page that does not render per event. The
  main thread sleeps between two paced events; when the framework's thread
  that wakes it runs on the other CPU of this virtual machine, the main
  thread takes some 300 µs to run at all, a cost of the machine, not of the
  hop: the two rows after the hop's are the same hop from one more tvwebkit
  run per round with every process on one CPU (`sched_setaffinity`), where
  waking is a switch on the same CPU.
- Frames per second: a `requestAnimationFrame` loop that moves a box every
  frame while 10,000 pre-queued events reach a function handler; from the
  first event to the first frame after the last one, 1000 / the longest
  interval without a frame (what the animation kept: a dispatch that holds
  the main thread for the whole stream is one long interval), and the mean
  rate over that time. tvbrowser delivers the
  whole stream in one go within a few milliseconds, inside one frame.

{header}
{rows}

Events lost or out of order: {lost}.

Run: `bench/webkit/measure.py BUILD --write` (BUILD from `tools/run-bench.sh`
with tvwebkit built: `cmake --build BUILD --target tvwebkit nptv_webkit_extension`).
<!-- webkit:end -->
""".format(header=header, before_text=before_text, build_type=build_type(build), runs=args.runs, events=args.events, calls=args.calls, load=load, rows="\n".join(rows),
           lost="none" if not lost else "; ".join(lost))
    print(section)
    if args.write:
        path = os.path.join(SOURCE, "BENCHMARKS.md")
        text = open(path, encoding="utf-8").read()
        pattern = re.compile(r"<!-- webkit:begin.*?<!-- webkit:end -->\n?", re.S)
        text = pattern.sub(lambda m: section, text) if pattern.search(text) else text.rstrip("\n") + "\n\n" + section
        open(path, "w", encoding="utf-8").write(text)
        print("wrote the section to BENCHMARKS.md")
    return 0


if __name__ == "__main__":
    sys.exit(main())
