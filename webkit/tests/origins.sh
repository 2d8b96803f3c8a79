#!/usr/bin/env bash
# Pages served over HTTP get the TV only from the origins given on the
# command line (file: pages always). One local server, several cases.
# usage: origins.sh RUN_PAGE WK_PAGE EXT_DIR MODULE PAGES_DIR
set -u
run=$1 wk=$2 ext=$3 module=$4 pages=$5
log=$(mktemp) || exit 2
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$pages" >"$log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -f "$log"' EXIT
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$log" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the HTTP server did not start"; cat "$log"; exit 2; }
# name | page URL | allowed origins
cases=(
  "listed origin|http://127.0.0.1:$port/origin.html?expect=tv|http://127.0.0.1:$port"
  "listed with a trailing slash|http://127.0.0.1:$port/origin.html?expect=tv|http://127.0.0.1:$port/"
  "listed among others|http://127.0.0.1:$port/origin.html?expect=tv|http://example.com,http://127.0.0.1:$port"
  "nothing listed|http://127.0.0.1:$port/origin.html?expect=none|"
  "another port listed|http://127.0.0.1:$port/origin.html?expect=none|http://127.0.0.1:$((port + 1))"
  "another host name|http://localhost:$port/origin.html?expect=none|http://127.0.0.1:$port"
  "a frame of an unlisted origin in a listed page|http://127.0.0.1:$port/frame.html?frame=http://localhost:$port/origin.html%3Fexpect%3Dnone|http://127.0.0.1:$port"
  "https listed, page over http|http://127.0.0.1:$port/origin.html?expect=none|https://127.0.0.1:$port"
)
failed=0
for c in "${cases[@]}"; do
  IFS='|' read -r name url origins <<<"$c"
  args=()
  IFS=',' read -ra list <<<"$origins"
  for o in "${list[@]}"; do args+=(--origin "$o"); done
  echo "=== $name"
  if "$run" "$wk" "$ext" "$module" "$url" "${args[@]}"; then
    echo "ok - $name"
  else
    echo "not ok - $name"
    failed=$((failed + 1))
  fi
done
echo "$(( ${#cases[@]} - failed )) passed, $failed failed"
[ "$failed" -eq 0 ]
