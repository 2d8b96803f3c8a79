#!/usr/bin/env bash
# tvwebkit's configuration reaches the extension: the origins that get the TV
# object (--origin) and the browser variables 4000-4003 (--app-text). The
# page is served on 127.0.0.1 (a frame from localhost) or opened as a file.
#   configured.sh TVWEBKIT MODULE_DIR
set -u
tvw=$1 module_dir=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/nptv-configured.XXXXXX") || exit 2
server_pid=
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

# The pages; asked with "?csp", served with "Content-Security-Policy: sandbox allow-scripts".
python3 -u -c '
import functools, http.server, sys
class H(http.server.SimpleHTTPRequestHandler):
    def end_headers(self):
        if self.path.endswith("?csp"): self.send_header("Content-Security-Policy", "sandbox allow-scripts")
        super().end_headers()
s = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(H, directory=sys.argv[1]))
print("port %d" % s.server_address[1]); s.serve_forever()' "$here/pages" >"$work/http.log" 2>&1 &
server_pid=$!
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/http.log" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "not ok - the HTTP server did not start"; cat "$work/http.log"; exit 1; }
http=http://127.0.0.1:$port

# name | page (file or http) | options | lines the output must hold (; separated).
# How origins compare is the origin rule's table (webkit/tests/config_test.cpp).
cases=(
  "file page gets the TV|file||tv: yes"
  "HTTP page of an unlisted origin gets none|http||tv: no"
  "HTTP page of a listed origin gets it|http|--origin $http|tv: yes"
  "listed among others, with a trailing slash|http|--origin http://example.com --origin $http/|tv: yes"
  "a frame of an unlisted origin in a listed page|http?frame=http://localhost:$port/configured.html|--origin $http|tv: yes;frame tv: no"
  "a sandboxed frame of a listed origin gets none|http:sandboxed.html|--origin $http|frame tv: no"
  "the same frame unsandboxed gets it|http:tv-frame-check.html|--origin $http|frame tv: yes"
  "a page served with CSP sandbox gets none|http:configured.html?csp|--origin $http|tv: no"
  "browser variables reach the module|file|--app-text 4000=GuideApp --app-text 4001=Maker --app-text 4002=TV --app-text 4003=2.5|app info: [\"TV\",\"GuideApp\",\"Maker\",\"2.5\"]"
  "unset browser variables are answered by no one|file|--app-text 4003=2.5|app info: [\"\",\"\",\"\",\"2.5\"]"
)
pass=0 fail=0
for row in "${cases[@]}"; do
  IFS='|' read -r name how opts want <<<"$row"
  file=configured.html
  case $how in http:*) file=${how#http:} how=http ;; esac
  if [ "$how" = file ]; then page=$here/pages/$file; else page=$http/$file${how#http}; fi
  export QUV_SIM_SOCKET=$work/sim.sock QUV_LOG=$work/quv.log
  # shellcheck disable=SC2086
  out=$("$tvw" --headless --plugin-dir "$module_dir" --timeout 120 $opts "$page" 2>&1)
  status=$?
  ok=1
  IFS=';' read -r -a lines <<<"$want"
  for l in "${lines[@]}"; do grep -qxF -- "$l" <<<"$out" || ok=0; done
  if [ "$status" -eq 0 ] && [ "$ok" -eq 1 ]; then
    echo "ok - $name"
    pass=$((pass + 1))
  else
    echo "not ok - $name: status $status, want the lines: $want"
    grep -v '^\[QUV\]' <<<"$out" | sed 's/^/    | /'
    fail=$((fail + 1))
  fi
done
echo "configured: $pass checks passed, $fail failed"
[ "$fail" -eq 0 ]
