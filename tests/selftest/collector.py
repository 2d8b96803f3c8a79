#!/usr/bin/env python3
"""tvcollect as a listener, every peer hostile: what it refuses and what it
takes, from a foreign origin too (pages on TVs post from anywhere).

  collector.py TVCOLLECT
"""
import http.client
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import time

GOOD = {'format': 'nptv-selftest-1', 'tv': {'name': 'lab TV 7'}, 'verdict': 'fail',
        'checks': [{'name': 'GetCountry', 'verdict': 'pass', 'answer': 44},
                   {'name': 'Get<Title> & "x"', 'verdict': 'fail', 'why': 'bad \x01 text ]]>'}]}
failures = []


def check(what, ok, detail=''):
    print(('ok - ' if ok else 'not ok - ') + what + ('' if ok else ': ' + str(detail)), flush=True)
    if not ok:
        failures.append(what)


def main(argv):
    out = tempfile.mkdtemp(prefix='nptv-collect.')
    c = subprocess.Popen([argv[1], '--port', '0', '--out', out, '--max-reports', '2', '--max-body', '4096'],
                         stdout=subprocess.PIPE, text=True)
    try:
        first = c.stdout.readline()
        check('listens on loopback by default', 'http://127.0.0.1:' in first, first)
        port = int(re.search(r':(\d+)/', first).group(1))

        def post(body, headers=None, method='POST'):
            h = http.client.HTTPConnection('127.0.0.1', port, timeout=10)
            h.request(method, '/report', body=body, headers=dict({'Origin': 'null'}, **(headers or {})))
            r = h.getresponse()
            return r.status, r.getheader('Access-Control-Allow-Origin'), r.read().decode()

        deep = dict(GOOD, tv=json.loads('[' * 32 + ']' * 32))  # 33 deep inside the report
        refused = [
            ('a body over --max-body', json.dumps(dict(GOOD, pad='x' * 5000)), 413, ''),
            ('JSON nested 33 deep', json.dumps(deep), 400, 'nested deeper than 32'),
            ('not JSON', '{"format": ', 400, 'not JSON'),
            ('not a report', json.dumps({'format': 'other', 'verdict': 'pass', 'checks': []}), 400, 'format'),
            ('a check without a verdict', json.dumps(dict(GOOD, checks=[{'name': 'x'}])), 400, 'a check without'),
        ]
        for what, body, status, why in refused:
            got = post(body)
            check('refuses %s (%d)' % (what, status), got[0] == status and why in got[2], got)
        check('takes a report nested 32 deep', post(json.dumps(dict(GOOD, tv=json.loads('[' * 31 + ']' * 31))))[0] == 200)
        # A body that never ends: nothing is decided before it is whole.
        kept = len(os.listdir(out))
        s = socket.create_connection(('127.0.0.1', port))
        s.sendall(b'POST /report HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\n' + json.dumps(GOOD).encode()[:100])
        time.sleep(0.5)
        check('writes nothing for a body not yet whole', len(os.listdir(out)) == kept)
        s.close()
        got = post(json.dumps(GOOD), {'Origin': 'http://tv.example', 'Content-Type': 'text/plain'})
        check('takes a report from another origin, answering it', got[:2] == (200, '*'), got)
        pre = post(None, {'Origin': 'http://tv.example', 'Access-Control-Request-Method': 'POST'}, 'OPTIONS')
        check('answers the preflight of a page that posts JSON', pre[:2] == (204, '*'), pre)
        check('refuses a report over --max-reports', post(json.dumps(GOOD))[0] == 503)
        junit = open(os.path.join(out, 'junit.xml')).read()
        import xml.etree.ElementTree as ET
        suites = ET.fromstring(junit).findall('testsuite')
        check('the JUnit file is valid XML with one suite per report, markup escaped',
              len(suites) == 2 and suites[0].find("testcase[@name='Get<Title> & \"x\"']/failure") is not None, junit)
    finally:
        c.kill()
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
