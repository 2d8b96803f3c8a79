#!/usr/bin/env python3
"""One end-to-end page in WPE WebKit: cog --platform=headless with the nptv
web-process extension's WPE flavour, against a simulated TV of its own.

  cog-page.py EXTENSION_DIR MODULE TVSIM PAGE.html

cog gives a page no hook of its own: the extension is configured by the
environment (NPTV_MODULE, NPTV_ORIGINS), the page's console reaches stdout
(--enable-write-console-messages-to-stdout), its verdict is the console line
"tvbrowser: PASS|FAIL", and its "driver: {json}" lines are handed to tvsim.
Exits 0 when the page passed and the framework saw no misuse.
"""
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
KNOWN = os.path.join(HERE, '..', 'e2e', 'config', 'known.json')
WAIT = float(os.environ.get('E2E_TIMEOUT', '180'))
# cog prints console lines as "URL:LINE:COLUMN: CONSOLE LOG TEXT".
CONSOLE = re.compile(r'^.*?CONSOLE (?:JS )?(?:LOG|INFO|WARN|WARNING|ERROR|DEBUG) (.*)$')


def main(argv):
    if len(argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    ext_dir, module, tvsim, page = argv[1:]
    if not shutil.which('cog'):
        print('cog-page: cog is not installed (package cog)')
        return 1
    work = tempfile.mkdtemp(prefix='nptv-cog.')
    env = dict(os.environ, QUV_SIM_SOCKET=os.path.join(work, 'sim.sock'), QUV_LOG=os.path.join(work, 'quv.log'),
               QUV_SIM_CONFIG=KNOWN, NPTV_MODULE=os.path.abspath(module))
    env.pop('NPTV_ORIGINS', None)
    # No session bus or accessibility bus here: quiet the warnings about them.
    env.setdefault('NO_AT_BRIDGE', '1')
    if 'XDG_RUNTIME_DIR' not in env:
        env['XDG_RUNTIME_DIR'] = work
    url = 'file://' + os.path.abspath(page)
    cmd = ['cog', '--platform=headless', '--web-extensions-dir=' + os.path.abspath(ext_dir),
           '--enable-write-console-messages-to-stdout=true', '--allow-file-access-from-file-urls=true',
           '--webprocess-failure=exit', url]
    print('cog-page: ' + ' '.join(cmd), flush=True)
    cog = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, start_new_session=True)
    verdict = None
    end = time.monotonic() + WAIT
    buf = b''
    try:
        while verdict is None and time.monotonic() < end:
            ready, _, _ = select.select([cog.stdout], [], [], 1.0)
            if not ready:
                if cog.poll() is not None:
                    break
                continue
            chunk = os.read(cog.stdout.fileno(), 65536)
            if not chunk:
                break
            buf += chunk
            while b'\n' in buf:
                raw, buf = buf.split(b'\n', 1)
                line = raw.decode('utf-8', 'replace')
                print(line, flush=True)
                m = CONSOLE.match(line)
                if not m:
                    continue
                text = m.group(1)
                if text.startswith('driver: '):
                    r = subprocess.run([tvsim, '--socket', env['QUV_SIM_SOCKET'], 'raw', text[8:]],
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
                    print('driver reply: ' + r.stdout.decode('utf-8', 'replace').strip(), flush=True)
                v = re.match(r'^tvbrowser: (PASS|FAIL)', text)
                if v:
                    verdict = v.group(1)
    finally:
        if cog.poll() is None:
            os.killpg(cog.pid, signal.SIGTERM)
            try:
                cog.wait(timeout=30)
            except subprocess.TimeoutExpired:
                os.killpg(cog.pid, signal.SIGKILL)
                cog.wait()
    rc = 0 if verdict == 'PASS' else 1
    if verdict is None:
        print(f'cog-page: FAIL: no verdict (cog exit status {cog.returncode}, waited up to {WAIT:g} s)')
    log = open(env['QUV_LOG'], errors='replace').read() if os.path.exists(env['QUV_LOG']) else ''
    misuse = [l for l in log.splitlines() if 'libQuv: misuse:' in l]
    if misuse:
        print('cog-page: the module misused the framework library:\n' + '\n'.join(misuse[:20]))
        rc = 1
    if rc:
        print('--- the last lines of the framework\'s log:\n' + '\n'.join(log.splitlines()[-30:]))
    shutil.rmtree(work, ignore_errors=True)
    print(f'cog-page: {verdict or "no verdict"}')
    return rc


if __name__ == '__main__':
    sys.exit(main(sys.argv))
