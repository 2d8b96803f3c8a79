#!/usr/bin/env python3
"""The TV self-test (selftest/) in one host against a simulated TV, its report
received by tvcollect; checks the report, the JUnit file and the verdict box
in the screenshot.

  run.py SCENARIO HOST TVCOLLECT TVSIM -- COMMAND...

SCENARIO: healthy, faults or unreachable (the table below). HOST names how
COMMAND runs the page: 'page' (the page runner tests/e2e/pages.py with
any of its hosts, the page's file its last argument), or 'browser' (tests/selftest/browser.mjs:
Chromium or Firefox through tvbridge, real key presses). The WebKit hosts get
a copy of the page with robot.js, the tester.
"""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SELFTEST = os.path.join(HERE, '..', '..', 'selftest')
NOT_CALLED = {'SetInternetTVState': 'skip', 'SetJorvelState': 'skip'}  # no getter: ?write=1 only
# Each fault as the simulated TV's control requests, and what the page must
# report for it: every other check passes (or is not run, as above).
SCENARIOS = {
    'healthy': {'faults': [], 'expect': {}},
    'faults': {
        'query': 'slow=300&wait=3',
        'noEvents': True,
        'faults': [
            {'cmd': 'reply', 'command': 'GetProductCode', 'reply': 'I5'},             # an integer for a text
            {'cmd': 'reply', 'command': 'GetPresentProgram_Title',
             'reply_hex': '55 00 d8 41 00 00 00'},                                     # a lone surrogate
            {'cmd': 'reply', 'command': 'GetLanguage', 'reply': 'E'},                 # error replies
            {'cmd': 'reply', 'command': 'GetProgramList', 'reply': 'E', 'times': 1},
            {'cmd': 'delay', 'command': 'GetCountry', 'ms': 700},                     # a slow reply
        ],
        'expect': {'GetProductCode': 'fail', 'GetPresentProgram_Title': 'fail', 'GetLanguage': 'warn',
                   'SetLanguage': 'skip', 'GetProgramList': 'fail', 'GetCountry': 'warn',
                   'event: channel': 'fail', 'event: pip': 'fail', 'event: language': 'fail'},
    },
    # ?write=1: the setters without a getter run too, and change the TV.
    'write': {'query': 'write=1', 'faults': [], 'changes': {'jorvel': 0, 'internet_tv': 0},
              'expect': {'SetInternetTVState': 'pass', 'SetJorvelState': 'pass'}},
    # No plug-in: the page finds no TV object and says so, nothing else.
    'absent': {'faults': [], 'expect': {'TV object': 'fail'}, 'only': True, 'checks': 1},
    'unreachable': {'query': 'wait=2', 'noEvents': True, 'faults': [{'cmd': 'simulator', 'on': False}],
                    'expect': {'TV object': 'fail'}, 'only': True},
}
GREEN, RED = (0x1f, 0x9d, 0x3a), (0xc6, 0x28, 0x28)

failures = []


def check(what, ok, detail=''):
    print(('ok - ' if ok else 'not ok - ') + what + ('' if ok or not detail else ': ' + detail), flush=True)
    if not ok:
        failures.append(what)


def pixel(png, x, y):
    """The RGB of one pixel of an 8-bit RGB or RGBA PNG (not interlaced), at
    (x, y) of the page's 1280x720 stage, which the page scales to the screen."""
    data = open(png, 'rb').read()
    pos, idat, w = 8, b'', 0
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b'IHDR':
            w, h, depth, ctype = struct.unpack('>IIBB', body[:10])
            bpp = {2: 3, 6: 4}[ctype]
        elif kind == b'IDAT':
            idat += body
        pos += 12 + n
    x, y = int(x * w / 1280), int(y * w / 1280)
    raw, stride, prev = zlib.decompress(idat), w * bpp, None
    for row in range(y + 1):
        f, line = raw[row * (stride + 1)], bytearray(raw[row * (stride + 1) + 1:(row + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i] if prev else 0
            c = prev[i - bpp] if prev and i >= bpp else 0
            p = a + b - c
            pr = a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c
            line[i] = (line[i] + [0, a, b, (a + b) // 2, pr][f]) & 0xFF
        prev = line
    return tuple(prev[x * bpp:x * bpp + 3])


def main(argv):
    if len(argv) < 7 or argv[5] != '--':
        print(__doc__, file=sys.stderr)
        return 2
    scenario, host, tvcollect, tvsim, command = argv[1], argv[2], argv[3], argv[4], argv[6:]
    sc = SCENARIOS[scenario]
    work = tempfile.mkdtemp(prefix='nptv-selftest.')
    collector = None
    try:
        out = os.path.join(work, 'out')
        collector = subprocess.Popen([tvcollect, '--port', '0', '--out', out, '--exit-after', '1'],
                                     stdout=subprocess.PIPE, text=True)
        port = re.search(r':(\d+)/report', collector.stdout.readline()).group(1)
        # The page takes the first of repeated options: the scenario's come first.
        query = '?%s&count=3&wait=10&report=http://127.0.0.1:%s/report' % (sc.get('query', ''), port)
        shot = os.path.join(work, 'shot.png')
        env = dict(os.environ, SELFTEST_SHOT=shot, SELFTEST_QUERY=query, SELFTEST_TVSIM=tvsim)
        if host == 'page':
            page = os.path.join(work, 'page')
            shutil.copytree(SELFTEST, page)
            shutil.copy(os.path.join(HERE, 'robot.js'), page)
            robot = {'faults': sc['faults'], 'noEvents': sc.get('noEvents', False), 'changes': sc.get('changes', {})}
            with open(os.path.join(page, 'robot-config.js'), 'w') as f:
                # The runners take a file; the page's options come in its address.
                f.write('var ROBOT = %s;\nif (!location.search) location.replace(location.href + %s);\n'
                        % (json.dumps(robot), json.dumps(query)))
            index = os.path.join(page, 'index.html')
            html = open(index).read().replace('</body>', '<script src="robot-config.js"></script>\n'
                                              '<script src="robot.js"></script>\n</body>')
            open(index, 'w').write(html)
            command = [a.replace('@SHOT@', shot) for a in command] + [index]
        run = subprocess.run(command, env=env, timeout=600)
        check('the page ran to its end, driven by keys', run.returncode == 0, 'exit %d' % run.returncode)
        collector.wait(timeout=30)
        lines = collector.stdout.read()
        print(lines, end='')
        report = json.load(open(os.path.join(out, 'report-1.json')))
        print('# slowest (median/p99/mean ms over %d calls): %s' % (report['options']['count'], ', '.join(
            '%s %s/%s/%s' % (x['name'], x['median_ms'], x['p99_ms'], x['mean_ms']) for x in report['slowest'])))
        got = {c['name']: c['verdict'] for c in report['checks']}
        check('the report lists every method and event step', len(got) == sc.get('checks', 1 + 49 + 3), str(len(got)))
        expect = dict(NOT_CALLED, **sc['expect'])
        if sc.get('only'):
            wrong = {n: got.get(n) for n in sc['expect'] if got.get(n) != sc['expect'][n]}
        else:
            wrong = {n: v for n, v in got.items() if v != expect.get(n, 'pass')}
        check('%s: every check as expected' % scenario, not wrong,
              'unexpected: ' + json.dumps({n: [v, next((c.get('why', '') + ' ' + str(c.get('answer', ''))
                                                     for c in report['checks'] if c['name'] == n), '')]
                                           for n, v in wrong.items()}))
        junit = ET.parse(os.path.join(out, 'junit.xml')).getroot()
        cases = junit.findall('./testsuite/testcase')
        fails = sum(1 for c in cases if c.find('failure') is not None)
        check('the JUnit file holds the report', len(cases) == len(got) and
              fails == sum(1 for v in got.values() if v == 'fail'), '%d cases, %d failures' % (len(cases), fails))
        check('the collector printed the verdict', ': %s (' % report['verdict'].upper() in lines, lines)
        want = RED if report['verdict'] == 'fail' else GREEN
        if os.path.exists(shot):
            px = pixel(shot, 1062, 22)
            check('the screenshot shows the verdict colour', all(abs(a - b) < 24 for a, b in zip(px, want)),
                  'pixel %s, expected %s' % (px, want))
        else:
            print('# no screenshot from this host')
    finally:
        if collector and collector.poll() is None:
            collector.kill()
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
