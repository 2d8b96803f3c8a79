#!/usr/bin/env python3
"""tvbrowser --remote-inspector: WebKit's inspector server answers on the
loopback interface only, with the loaded page in its page list, and the
inspector's own page that the list links to is served; its socket opens for
that page only (not another origin's, not through another name).

usage: devtools-server.py TVBROWSER PLUGIN_DIR"""
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

tvb, plugin_dir = sys.argv[1], sys.argv[2]
failed = 0


def check(name, ok, detail=''):
    global failed
    print(('ok - ' if ok else 'not ok - ') + name + ('' if ok else ': ' + detail), flush=True)
    failed += 0 if ok else 1


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def listeners(port):
    """Local addresses (hex, as the kernel lists them) listening at the port."""
    found = []
    for table in ('/proc/net/tcp', '/proc/net/tcp6'):
        try:
            rows = open(table).read().splitlines()[1:]
        except OSError:
            continue
        for row in rows:
            f = row.split()
            addr, hexport = f[1].rsplit(':', 1)
            if f[3] == '0A' and int(hexport, 16) == port:
                found.append(addr)
    return found


LOOPBACK = {'0100007F', '0000000000000000FFFF00000100007F', '00000000000000000000000001000000'}


def other_address():
    """An address of this machine that is not loopback, or None."""
    try:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.connect(('192.0.2.123', 9))  # no packet is sent
            a = s.getsockname()[0]
            return None if a.startswith('127.') else a
    except OSError:
        return None


def get(url):
    with urllib.request.urlopen(url, timeout=60) as r:
        return r.status, r.read().decode('utf-8', 'replace')


work = tempfile.mkdtemp(prefix='nptv-inspector.')
page = os.path.join(work, 'inspected.html')
with open(page, 'w') as f:
    f.write('<!DOCTYPE html><html><head><title>inspected</title></head><body>'
            '<embed id="tv" type="application/tv" width="1" height="1">'
            '<script>console.log("page loaded, TV answers " + document.getElementById("tv")());'
            '</script></body></html>\n')

port = free_port()
env = dict(os.environ)
env.pop('QUV_SIM_SOCKET', None)
proc = subprocess.Popen([tvb, '--headless', '--plugin-dir', plugin_dir, '--timeout', '240',
                         '--remote-inspector', str(port), page],
                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env)
address = None
loaded = False
output = []
for line in proc.stdout:
    output.append(line.rstrip('\n'))
    print('  | ' + output[-1], flush=True)
    m = re.search(r'open (http://\S+/) in a browser', line)
    if m:
        address = m.group(1)
    if line.startswith('page loaded'):
        loaded = True
        break
check('tvbrowser prints the address to open', address == 'http://127.0.0.1:%d/' % port, repr(address))
check('the page loaded with its TV object', loaded and output[-1].endswith('TV answers 1'), output[-1:])
if address and loaded:
    status, body = get(address)
    links = re.findall(r'<a href="([^"]+)">([^<]*)<', body)
    mine = [href for href, text in links if text == 'file://' + page]
    check('the server lists the loaded page', status == 200 and len(mine) == 1, body[:400])
    if mine:
        status, ui = get(address.rstrip('/') + mine[0])
        check('the inspector the list links to is served', status == 200 and '<html' in ui.lower(),
              '%d, %d bytes' % (status, len(ui)))
        # Its WebSocket opens for its own page only: not from a page of
        # another origin, nor through another name (DNS rebinding).
        ws = mine[0].split('page=')[-1]
        for what, host, origin, want in (('its own page', '127.0.0.1', 'http://127.0.0.1:%d' % port, ' 101 '),
                                         ('another origin', '127.0.0.1', 'http://127.0.0.2:8000', ' 403 '),
                                         ('another name', 'rebound.example', None, ' 403 ')):
            with socket.create_connection(('127.0.0.1', port), timeout=30) as s:
                s.sendall(('GET /devtools/page/%s HTTP/1.1\r\nHost: %s:%d\r\n%sUpgrade: websocket\r\n'
                           'Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n'
                           'Sec-WebSocket-Version: 13\r\n\r\n' % (ws, host, port, 'Origin: %s\r\n' % origin
                                                                    if origin else '')).encode())
                answer = s.recv(200).decode('latin1')
            check('the inspector\'s socket from %s:%s' % (what, want), want in answer.split('\r\n')[0], answer[:80])
    bound = listeners(port)
    check('the server listens on the loopback interface only', bound and set(bound) <= LOOPBACK,
          repr(bound))
    other = other_address()
    if other:
        try:
            socket.create_connection((other, port), timeout=10).close()
            check('no answer on ' + other, False, 'connected')
        except OSError:
            check('no answer on ' + other, True)

proc.send_signal(signal.SIGUSR1)  # screenshot (none asked for), then exit 0
rest, _ = proc.communicate(timeout=120)
for line in rest.splitlines():
    print('  | ' + line)
check('tvbrowser ends cleanly', proc.returncode == 0, 'exit status %d' % proc.returncode)

# A port that is taken already: a clear error, not a silent inspector-less run.
with socket.socket() as busy:
    busy.bind(('127.0.0.1', 0))
    busy.listen(1)
    taken = busy.getsockname()[1]
    r = subprocess.run([tvb, '--headless', '--plugin-dir', plugin_dir, '--timeout', '60',
                        '--remote-inspector', str(taken), page],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env, timeout=120)
    check('a busy port is refused', r.returncode == 2 and
          ('--remote-inspector: port %d cannot be used' % taken) in r.stdout, r.stdout[-400:])

os.remove(page)
os.rmdir(work)
print('inspector: %s' % ('all checks passed' if not failed else '%d checks failed' % failed))
sys.exit(1 if failed else 0)
