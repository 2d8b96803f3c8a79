#!/usr/bin/env python3
"""Checks a recorder's trace against the stand-in's own journal of commands.

  check.py journal TRACE JOURNAL SECRET [--secrets] [--page]
      every command of the journal (QUV_JOURNAL_FILE), in order, is in the
      trace byte for byte with the same reply; IsValidPassword's parameter
      (SECRET, unless empty) is in the trace only with --secrets; every event has its result
  check.py drops FULL DROPPED
      DROPPED (written with a tiny queue) counts its drops, and its records
      and drops add up to the records of FULL
"""
import base64
import json
import sys


def text(v):
    return base64.b64decode(v["base64"]) if isinstance(v, dict) else v.encode("utf-8")


def records(path):
    out = []
    with open(path, "rb") as f:
        for n, line in enumerate(f, 1):
            try:
                out.append(json.loads(line))
            except ValueError as e:
                sys.exit(f"not ok - {path} line {n}: {e}")
    return out


def fail(why):
    print("not ok - " + why)
    sys.exit(1)


def journal_mode(trace, journal, secret, secrets, page):
    recs = records(trace)
    kinds = {r["kind"] for r in recs}
    want = {"start", "construct", "open", "execute", "reply", "close", "destroy", "log"}
    if not page:  # a page may raise no event
        want |= {"event", "event-result"}
    if want - kinds:
        fail(f"the trace lacks {sorted(want - kinds)}")
    pending, seen = {}, []
    for r in recs:
        if r["kind"] == "execute":
            pending[r["thread"]] = r
        elif r["kind"] == "reply":
            e = pending.pop(r["thread"])
            seen.append(([text(t) for t in e["texts"]], text(r["reply"]), e.get("redacted")))
    expected = []
    with open(journal) as f:
        for line in f:
            fields, reply = line.rstrip("\n").split(" =")
            expected.append(([bytes.fromhex(h) for h in fields.split(" ")[1:]],
                             bytes.fromhex(reply.strip())))
    if len(seen) != len(expected):
        fail(f"{len(seen)} commands in the trace, {len(expected)} in the journal")
    for i, ((texts, reply, redacted), (jtexts, jreply)) in enumerate(zip(seen, expected)):
        if redacted is not None:
            if secrets or texts[redacted] != b"":
                fail(f"command {i}: parameter {redacted} redacted wrongly")
            texts[redacted] = jtexts[redacted]
        if (texts, reply) != (jtexts, jreply):
            fail(f"command {i}: trace {texts} -> {reply!r}, journal {jtexts} -> {jreply!r}")
    with open(trace, "rb") as f:
        has_secret = secret.encode() in f.read() if secret else secrets
    if has_secret != secrets:
        fail(f"the password is {'' if has_secret else 'not '}in the trace")
    events = sum(r["kind"] == "event" for r in recs)
    if events != sum(r["kind"] == "event-result" for r in recs):
        fail("an event without its result")
    print(f"ok - {len(seen)} commands as in the journal, {events} events")


def drops_mode(full, dropped):
    def count(path):
        recs = records(path)
        drops = sum(r["count"] for r in recs if r["kind"] == "dropped")
        return sum(r["kind"] not in ("start", "dropped") for r in recs), drops
    n_full, d_full = count(full)
    n, d = count(dropped)
    if d_full or not d or n + d != n_full:
        fail(f"full trace {n_full} records ({d_full} dropped), the other {n} + {d} dropped")
    print(f"ok - {d} of {n_full} records dropped and counted")


if __name__ == "__main__":
    if sys.argv[1] == "journal":
        journal_mode(sys.argv[2], sys.argv[3], sys.argv[4], "--secrets" in sys.argv,
                     "--page" in sys.argv)
    else:
        drops_mode(sys.argv[2], sys.argv[3])
