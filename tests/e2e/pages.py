#!/usr/bin/env python3
"""The page runner: end-to-end pages in any host of the module, each page in
each host against a simulated TV of its own (its own control socket, log and
configuration), the verdict read from the host.

  pages.py --host HOST [--host HOST...] --module-dir DIR [options] PAGE...
    --host PROGRAM    tvbrowser or tvwebkit, or a program with their command
                      line (--headless --plugin-dir --timeout PAGE; exit 0: pass)
    --host cog:DIR    WPE WebKit's cog with the extension's WPE flavour in DIR;
                      the extension is configured by the environment, the
                      verdict is the console line "tvbrowser: PASS|FAIL"
    --config FILE     the simulated TV's configuration (default: config/known.json
                      here; an empty value: the default state)
    --tvsim PROGRAM   the page's "driver: {json}" lines go to the simulated TV
                      through it, and its reply comes back as "driver reply: ..."
    --arg ARG         one more argument for a host program (repeatable)

A run passes when the host gives the pass verdict and the framework library
recorded no misuse of it (its log's "libQuv: misuse:" lines). Prints each
run's output and "ok - PAGE in HOST" or "not ok - ...", then a table page x
host; exits 1 when a run failed. E2E_TIMEOUT: seconds a page may take (120);
NPTV_HOST_PRELOAD: libraries preloaded into the host (not into this runner).
"""
import argparse
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# cog prints console lines as "URL:LINE:COLUMN: CONSOLE LOG TEXT".
CONSOLE = re.compile(r'^.*?CONSOLE (?:JS )?(?:LOG|INFO|WARN|WARNING|ERROR|DEBUG) (.*)$')


def command(host, module_dir, page, args, env, work):
    """The host's command line and environment for one page."""
    if not host.startswith('cog:'):
        timeout = os.environ.get('E2E_TIMEOUT', '120')
        return [host, '--headless', '--plugin-dir', module_dir, '--timeout', timeout] + args + [page], env
    env = dict(env, NPTV_MODULE=os.path.join(os.path.abspath(module_dir), 'libnptv.so'), NO_AT_BRIDGE='1')
    env.pop('NPTV_ORIGINS', None)
    env.setdefault('XDG_RUNTIME_DIR', work)
    url = page if '://' in page else 'file://' + os.path.abspath(page)
    return ['cog', '--platform=headless', '--web-extensions-dir=' + os.path.abspath(host[4:]),
            '--enable-write-console-messages-to-stdout=true', '--allow-file-access-from-file-urls=true',
            '--webprocess-failure=exit', url], env


def run(host, page, opts):
    """Runs one page in one host; returns True when it passed."""
    work = tempfile.mkdtemp(prefix='nptv-page.')
    env = dict(os.environ, QUV_SIM_SOCKET=os.path.join(work, 'sim.sock'), QUV_LOG=os.path.join(work, 'quv.log'))
    env.pop('QTWEBKIT_PLUGIN_PATH', None)
    if opts.config:
        env['QUV_SIM_CONFIG'] = opts.config
    else:
        env.pop('QUV_SIM_CONFIG', None)
    cmd, env = command(host, opts.module_dir, page, opts.arg, env, work)
    if env.get('NPTV_HOST_PRELOAD'):  # e.g. the sanitizer runtimes, for the host only
        env['LD_PRELOAD'] = env.pop('NPTV_HOST_PRELOAD')
    cog = host.startswith('cog:')
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, start_new_session=True)
    end = time.monotonic() + float(os.environ.get('E2E_TIMEOUT', '120')) + 60
    verdict, pending = None, b''
    while verdict is None and time.monotonic() < end:
        if not select.select([proc.stdout], [], [], 1.0)[0]:
            continue
        chunk = os.read(proc.stdout.fileno(), 65536)
        if not chunk:
            break
        pending += chunk
        while b'\n' in pending:
            raw, pending = pending.split(b'\n', 1)
            line = raw.decode('utf-8', 'replace')
            print(line, flush=True)
            m = CONSOLE.match(line) if cog else None
            text = m.group(1) if m else ('' if cog else line)
            if text.startswith('driver: ') and opts.tvsim:
                r = subprocess.run([opts.tvsim, '--socket', env['QUV_SIM_SOCKET'], 'raw', text[8:]],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                print('driver reply: ' + r.stdout.decode('utf-8', 'replace').strip(), flush=True)
            if cog and re.match(r'^tvbrowser: (PASS|FAIL)', text):
                verdict = text.startswith('tvbrowser: PASS')
    rc = None
    for sig in (signal.SIGTERM, signal.SIGKILL):  # cog never ends by itself; a hung host neither
        if proc.poll() is None and (cog or time.monotonic() >= end):
            os.killpg(proc.pid, sig)
        try:
            rc = proc.wait(timeout=30)
            break
        except subprocess.TimeoutExpired:
            end = 0
    passed = verdict if cog else rc == 0
    log = open(env['QUV_LOG'], errors='replace').read().splitlines() if os.path.exists(env['QUV_LOG']) else []
    misuse = [l for l in log if 'libQuv: misuse:' in l]
    if misuse:
        print('--- the module misused the framework library:\n' + '\n'.join(misuse[:20]))
    if not passed:
        print(f'--- exit status {rc}, verdict {verdict}; the last lines of the framework\'s log:\n' +
              '\n'.join(log[-30:]))
    shutil.rmtree(work, ignore_errors=True)
    return bool(passed) and not misuse


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument('--host', action='append', required=True)
    p.add_argument('--module-dir', required=True)
    p.add_argument('--config', default=os.path.join(HERE, 'config', 'known.json'))
    p.add_argument('--tvsim', default='')
    p.add_argument('--arg', action='append', default=[])
    p.add_argument('pages', nargs='+')
    opts = p.parse_args()
    table, failed = [], 0
    for page in opts.pages:
        row = [os.path.basename(page)]
        for host in opts.host:
            name = 'cog' if host.startswith('cog:') else os.path.basename(host)
            ok = run(host, page, opts)
            failed += not ok
            print(f'{"ok" if ok else "not ok"} - {row[0]} in {name}', flush=True)
            row.append('pass' if ok else 'FAIL')
        table.append(row)
    width = max(len(r[0]) for r in table)
    names = ['cog' if h.startswith('cog:') else os.path.basename(h) for h in opts.host]
    print('page'.ljust(width) + ''.join(f' | {n:9}' for n in names))
    for r in table:
        print(r[0].ljust(width) + ''.join(f' | {c:9}' for c in r[1:]))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
