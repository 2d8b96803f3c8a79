#!/usr/bin/env python3
"""The host program's hook (tvbrowser.sim/pass/fail, tvwebkit://) reaches the
asked page only: a frame and a top page of another origin (127.0.0.2, another
port) get neither, the asked page still does.

  hook-origin.py PROGRAM PLUGIN_DIR
"""
import http.server
import subprocess
import sys
import threading

# ES5: tvbrowser's engine is old.
PARAM = '''function param(n) {
  var m = new RegExp('[?&]' + n + '=([^&]*)').exec(location.search);
  return m && decodeURIComponent(m[1]);
}'''

ASKED = '''<!doctype html><script>%s
var foreign = param('foreign'), back = param('back');
var mine = tvbrowser.sim('{}');  // the asked page reaches the hook and the scheme
if (mine.indexOf('ok') < 0) tvbrowser.fail('the asked page got no answer: ' + mine);
else if (back !== null) back ? tvbrowser.fail('the foreign top page reached ' + back)
                             : tvbrowser.pass('only the asked page reached the hook');
else {
  addEventListener('message', function (e) {
    if (e.origin !== foreign) return;
    if (e.data) return tvbrowser.fail('the foreign frame reached ' + e.data);
    console.log('the foreign frame reached nothing; now the top page');
    location = foreign + '/attack.html?top=' + encodeURIComponent(location.href);
  });
  document.write('<iframe src="' + foreign + '/attack.html"></iframe>');
}
</script>''' % PARAM

ATTACK = '''<!doctype html><script>%s
var got = [];
if (window.tvbrowser) got.push('window.tvbrowser');
try { if (parent.tvbrowser) got.push('parent.tvbrowser'); } catch (e) {}
var h = window.webkit && webkit.messageHandlers && webkit.messageHandlers.tvwebkit;
if (h) h.postMessage(['fail', 'a foreign frame gave the verdict']);
['tvwebkit://host/sim?{}'].forEach(function (u) {
  try { var x = new XMLHttpRequest(); x.open('GET', u, false); x.send(); if (x.responseText) got.push(u); } catch (e) {}
});
var ret = param('top');
if (ret) location = ret + '&back=' + encodeURIComponent(got.join(' '));
else parent.postMessage(got.join(' '), '*');
</script>''' % PARAM


class Pages(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = (ATTACK if self.path.startswith('/attack.html') else ASKED).encode()
        self.send_response(200)
        self.send_header('Content-Type', 'text/html')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def main(program, plugin_dir):
    servers = []
    for address in ('127.0.0.1', '127.0.0.1', '127.0.0.2'):
        s = http.server.ThreadingHTTPServer((address, 0), Pages)
        threading.Thread(target=s.serve_forever, daemon=True).start()
        servers.append('http://%s:%d' % s.server_address)
    asked, failures = servers[0], 0
    for what, foreign in (('another port', servers[1]), ('another address', servers[2])):
        run = subprocess.run([program, '--headless', '--timeout', '20', '--plugin-dir', plugin_dir,
                              asked + '/?foreign=' + foreign], capture_output=True, text=True, timeout=120)
        ok = run.returncode == 0 and ': PASS: only the asked page reached the hook' in run.stdout
        print(('ok - ' if ok else 'not ok - ') + 'a page on %s reaches no hook' % what, flush=True)
        if not ok:
            failures += 1
            print(run.stdout + run.stderr)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:3]))
