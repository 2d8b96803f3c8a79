"""The benchmark page in the real browser: runs bench/browser/bench.html in
tvbrowser (Qt WebKit), raises the simulated TV's events through its control
socket while the page counts them, and collects the page's figures.
"""

import json
import os
import select
import socket
import statistics
import subprocess
import tempfile
import time

from callgrind import StageError, StageSkipped, quiet_env




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


def browser_once(source, build, work, calls_iters, events_n, strict, program=None):
    """One run of the page in tvbrowser, or in `program` (a host program with
    tvbrowser's command line: tvwebkit)."""
    tvbrowser = program or os.path.join(build, "tools", "tvbrowser", "tvbrowser")
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
    if not calls.get("getcountry_per_s") or (not program and not calls.get("default_per_s")):
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


