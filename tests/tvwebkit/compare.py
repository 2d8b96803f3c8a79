#!/usr/bin/env python3
"""The end-to-end pages and the demo in tvwebkit (WebKitGTK, the module in its
web process) beside tvbrowser (Qt WebKit), each run against a simulated TV of
its own in the same known state (tests/e2e/run-page.sh).

  compare.py pages TVBROWSER TVWEBKIT MODULE_DIR TVSIM PAGE.html...
      every check of each page has the same verdict in both programs, except
      the checks that cannot apply in WebKitGTK (listed by name with the reason)
  compare.py demo TVBROWSER TVWEBKIT MODULE_DIR TVSIM
      the demo passes demo-check.js in tvwebkit, and shows the same titles,
      times, product facts and header in both programs

Prints "ok - ..." / "not ok - ..." lines; exits 1 when a check failed.
"""
import collections
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
E2E = os.path.join(HERE, '..', 'e2e')
REPO = os.path.join(HERE, '..', '..')
KNOWN = os.path.join(E2E, 'config', 'known.json')
RUN_PAGE = os.path.join(E2E, 'run-page.sh')

# Checks that cannot hold in WebKitGTK, with the reason. WebKit's element
# classes are fixed in the engine: script can give an <embed> methods and
# properties, but cannot make the element itself callable as Qt WebKit's
# plug-in elements are (NPClass invokeDefault on the element).
CANNOT_APPLY = {
    'tv() answers 1': 'an element cannot be called as a function',
    'tv(1, "x", null) answers 1': 'an element cannot be called as a function',
    'the TV object called as a function answers 1': 'an element cannot be called as a function',
    '... with arguments too': 'an element cannot be called as a function',
    'left, default call': 'an element cannot be called as a function',
    'right, default call': 'an element cannot be called as a function',
}

# Pages that drive the simulated TV from outside (tvsim, "driver:" lines).
DRIVEN = {'driven.html', 'any-host.html'}

passed = failed = 0


def check(name, cond, detail=''):
    global passed, failed
    if cond:
        passed += 1
        print('ok - ' + name, flush=True)
    else:
        failed += 1
        print('not ok - ' + name + (': ' + detail if detail else ''), flush=True)
    return cond


def run(program, module_dir, tvsim, args):
    """Runs one page; returns (exit status, output lines)."""
    env = dict(os.environ, E2E_TIMEOUT=os.environ.get('E2E_TIMEOUT', '180'))
    cmd = [RUN_PAGE, program, module_dir, KNOWN, tvsim or ''] + args
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=600)
    return p.returncode, p.stdout.decode('utf-8', 'replace').splitlines()


def verdicts(lines):
    """The page's checks: name -> list of verdicts (a name may repeat)."""
    out = collections.defaultdict(list)
    for line in lines:
        m = re.match(r'^(ok|not ok) - (.*)$', line)
        if not m:
            continue
        name = m.group(2)
        if m.group(1) == 'not ok':
            name = re.sub(r': (got|did not throw|the page stopped).*$', '', name)
        out[name].append(m.group(1) == 'ok')
    return out


def show(lines):
    return '\n' + '\n'.join('    | ' + l for l in lines[-60:])


def pages(tvbrowser, tvwebkit, module_dir, tvsim, names):
    for name in names:
        page = name if os.sep in name else os.path.join(E2E, 'pages', name)
        driver = tvsim if os.path.basename(name) in DRIVEN else ''
        name = os.path.basename(name)
        rc_q, qt = run(tvbrowser, module_dir, driver, [page])
        rc_w, wk = run(tvwebkit, module_dir, driver, [page])
        vq, vw = verdicts(qt), verdicts(wk)
        if not check(f'{name}: passes in tvbrowser ({sum(map(len, vq.values()))} checks)',
                     rc_q == 0 and vq and all(all(v) for v in vq.values()), f'exit {rc_q}' + show(qt)):
            continue
        same, differ, skipped = 0, [], []
        for check_name, wanted in vq.items():
            got = vw.get(check_name, [])
            if check_name in CANNOT_APPLY and not all(got):
                skipped.append(check_name)
            elif got == wanted:
                same += len(got)
            else:
                differ.append(f'{check_name}: tvbrowser {wanted}, tvwebkit {got}')
        extra = [n for n in vw if n not in vq]
        prog = re.escape(os.path.basename(tvwebkit))
        ended = any(re.match(prog + r': (PASS|FAIL)', l) for l in wk)
        check(f'{name}: {same} checks with the same verdict in tvwebkit', ended and not differ and not extra and same > 0,
              f'exit {rc_w}; differing: {differ}; only in tvwebkit: {extra}' + show(wk))
        for s in skipped:
            print(f'# {name}: cannot apply in tvwebkit: "{s}": {CANNOT_APPLY[s]}', flush=True)
        misuse = [l for l in wk if 'misused the framework' in l]
        check(f'{name}: no misuse of the framework in tvwebkit', not misuse, show(wk))


def demo(tvbrowser, tvwebkit, module_dir, tvsim):
    index = os.path.join(REPO, 'demo', 'index.html')
    rc, lines = run(tvwebkit, module_dir, '', ['--script', os.path.join(E2E, 'lib', 'harness.js'),
                                               '--script', os.path.join(E2E, 'demo-check.js'), index])
    check('the demo in tvwebkit shows what demo-check.js expects', rc == 0, f'exit {rc}' + show(lines))
    shown = {}
    for program in (tvbrowser, tvwebkit):
        rc, lines = run(program, module_dir, '', ['--script', os.path.join(HERE, 'dom-snapshot.js'), index])
        dom = [l[5:] for l in lines if l.startswith('dom: ')]
        shown[program] = dom[0] if dom and rc == 0 else None
        check(f'{os.path.basename(program)} shows the guide filled', shown[program] is not None, f'exit {rc}' + show(lines))
    a, b = shown[tvbrowser], shown[tvwebkit]
    check('the guide shows the same titles, times, product facts and header in both', a is not None and a == b,
          f'\n    tvbrowser: {a}\n    tvwebkit:  {b}')


def main(argv):
    if len(argv) < 6 or argv[1] not in ('pages', 'demo'):
        print(__doc__, file=sys.stderr)
        return 2
    mode, tvbrowser, tvwebkit, module_dir, tvsim = argv[1:6]
    if mode == 'pages':
        pages(tvbrowser, tvwebkit, module_dir, tvsim, argv[6:])
    else:
        demo(tvbrowser, tvwebkit, module_dir, tvsim)
    print(f'{passed} passed, {failed} failed')
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv))
