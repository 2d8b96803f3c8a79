#!/usr/bin/env python3
"""The demo in tvwebkit (WebKitGTK, the module in its web process) beside
tvbrowser (Qt WebKit), each against a simulated TV of its own in the same known
state (tests/e2e/pages.py runs them):

  compare.py TVBROWSER TVWEBKIT MODULE_DIR

the demo passes demo-check.js in tvwebkit, and shows the same titles, times,
product facts and header in both programs. Prints "ok - ..." / "not ok - ...";
exits 1 when a check failed.
"""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
E2E = os.path.join(HERE, '..', 'e2e')
INDEX = os.path.join(HERE, '..', '..', 'demo', 'index.html')
failed = 0


def check(name, cond, detail=''):
    global failed
    failed += not cond
    print(('ok - ' if cond else 'not ok - ') + name + ('' if cond or not detail else ': ' + detail), flush=True)


def run(program, module_dir, scripts):
    """The demo with these scripts after its load; (passed, output lines)."""
    cmd = [sys.executable, os.path.join(E2E, 'pages.py'), '--host', program, '--module-dir', module_dir]
    for s in scripts:
        cmd += ['--arg=--script', '--arg=' + s]
    p = subprocess.run(cmd + [INDEX], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
    lines = p.stdout.decode('utf-8', 'replace').splitlines()
    return p.returncode == 0, lines


def main(tvbrowser, tvwebkit, module_dir):
    ok, lines = run(tvwebkit, module_dir, [os.path.join(E2E, 'lib', 'harness.js'), os.path.join(E2E, 'demo-check.js')])
    check('the demo in tvwebkit shows what demo-check.js expects', ok, '\n'.join(lines[-60:]))
    shown = {}
    for program in (tvbrowser, tvwebkit):
        ok, lines = run(program, module_dir, [os.path.join(HERE, 'dom-snapshot.js')])
        dom = [l[5:] for l in lines if l.startswith('dom: ')]
        shown[program] = dom[0] if dom and ok else None
        check(f'{os.path.basename(program)} shows the guide filled', shown[program] is not None, '\n'.join(lines[-60:]))
    a, b = shown[tvbrowser], shown[tvwebkit]
    check('the guide shows the same titles, times, product facts and header in both', a is not None and a == b,
          f'\n    tvbrowser: {a}\n    tvwebkit:  {b}')
    return 1 if failed else 0


if __name__ == '__main__':
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
