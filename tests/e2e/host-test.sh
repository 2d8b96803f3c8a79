#!/usr/bin/env bash
# The host program itself (tvbrowser, or tvwebkit: the same behaviour): how a
# page's verdict, a missing verdict, a bad page and a bad command line end the
# program. One row per case: the page's script, the extra options, the exit
# status and a line the output must hold (PROG: the program's own name).
# Rows for one program only start with its name and a colon.
set -u
tvb=$1 plugin_dir=$2
prog=$(basename "$tvb")
work=$(mktemp -d "${TMPDIR:-/tmp}/nptv-host.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT

pass=0 fail=0
# name | script in the page ("-" = no page file) | options | status | output line (grep -E)
cases=(
  'pass verdict|tvbrowser.pass("fine");|--timeout 60|0|^PROG: PASS: fine$'
  'fail verdict|tvbrowser.fail("broken");|--timeout 60|1|^PROG: FAIL: broken$'
  'first verdict wins|tvbrowser.fail("one"); tvbrowser.pass("two");|--timeout 60|1|^PROG: ignored a second verdict \(pass\): two$'
  'console to stdout|console.log("grüße 日本"); tvbrowser.pass();|--timeout 60|0|^grüße 日本$'
  'log hook|tvbrowser.log("from the hook"); tvbrowser.pass();|--timeout 60|0|^from the hook$'
  'script error is printed|undefinedFunction(); |--timeout 3|3|ReferenceError'
  'no verdict times out|console.log("waiting forever");|--timeout 2|3|^PROG: FAIL: timeout: the page gave no verdict within 2 s$'
  'sim without a socket|console.log(tvbrowser.sim("{}")); tvbrowser.pass();|--timeout 60|0|^\{"ok":false,"error":"PROG: QUV_SIM_SOCKET is not set"\}$'
  'headless flag|console.log("headless " + tvbrowser.headless); tvbrowser.pass();|--timeout 60|0|^headless true$'
  'screenshot written|tvbrowser.pass();|--timeout 60 --screenshot SHOT|0|^PROG: screenshot \(verdict\) .*/shot.png$'
  'screenshot of the given size|tvbrowser.pass();|--timeout 60 --size 640x360 --screenshot SHOT|0|^PROG: screenshot \(verdict\) .*/shot.png$'
  'missing page|-|--timeout 60|2|no such page'
  'bad size|tvbrowser.pass();|--size 12x|2|--size'
  'unknown option|tvbrowser.pass();|--frobnicate|2|unknown option --frobnicate'
  'script after load|window.fromPage = 41;|--timeout 60 --script SCRIPT|0|^script saw 41$'
  'missing script|tvbrowser.pass();|--script /nonexistent/x.js|2|--script: no such file'
  'inspector beside the page|console.log("inspected"); tvbrowser.pass();|--timeout 60 --inspect|0|^inspected$'
  'tvbrowser:bad inspector port|tvbrowser.pass();|--remote-inspector 70000|2|--remote-inspector: .70000. is not a port number'
  'tvwebkit:page closes its window|window.close();|--timeout 60|1|^tvwebkit: FAIL: the page closed its window before giving a verdict$'
  'tvwebkit:elements cannot be called|console.log("callable " + tvbrowser.elementCallable); tvbrowser.pass();|--timeout 60|0|^callable false$'
  'tvwebkit:web process killed|console.log("page up");|--timeout 60 --no-sandbox KILLWEB|5|^tvwebkit: FAIL: the web process crashed$'
  'tvwebkit:missing extension folder|tvbrowser.pass();|--extension-dir /nonexistent|2|no extension folder /nonexistent'
)

i=0
for row in "${cases[@]}"; do
  IFS='|' read -r name script opts want_status want_line <<<"$row"
  case $name in
    *:*) [ "${name%%:*}" = "$prog" ] || continue; name=${name#*:} ;;
  esac
  want_line=${want_line//PROG/$prog}
  i=$((i + 1))
  page=$work/page$i.html
  if [ "$script" != "-" ]; then
    printf '<!DOCTYPE html><html><head><meta charset="utf-8"></head><body><script>%s</script></body></html>\n' \
      "$script" >"$page"
  fi
  opts=${opts//SHOT/$work/shot.png}
  opts=${opts//SCRIPT/$work/script.js}
  printf 'console.log("script saw " + window.fromPage); tvbrowser.pass();\n' >"$work/script.js"
  unset QUV_SIM_SOCKET
  if [[ $opts == *KILLWEB* ]]; then
    # The web process killed once the page is up: the program ends by itself.
    # shellcheck disable=SC2086
    "$tvb" --headless --plugin-dir "$plugin_dir" ${opts//KILLWEB/} "$page" >"$work/out" 2>&1 &
    bg=$!
    for _ in $(seq 600); do grep -q '^page up$' "$work/out" && break; sleep 0.1; done
    pkill -KILL -P "$bg" -f WebKitWebProcess
    wait "$bg"
    status=$?
    out=$(cat "$work/out")
  else
    # shellcheck disable=SC2086
    out=$("$tvb" --headless --plugin-dir "$plugin_dir" $opts "$page" 2>&1)
    status=$?
  fi
  if [ "$status" -eq "$want_status" ] && grep -qE -- "$want_line" <<<"$out"; then
    if [ "$name" = "screenshot written" ] && ! head -c 8 "$work/shot.png" | grep -q PNG; then
      echo "not ok - $name: $work/shot.png is not a PNG"; fail=$((fail + 1)); continue
    fi
    if [ "$name" = "screenshot of the given size" ]; then
      # The PNG header holds width and height as 4-byte big-endian numbers.
      dims=$(od -An -tu1 -j16 -N8 "$work/shot.png" | awk '{ print $3*256+$4 "x" $7*256+$8 }')
      if [ "$dims" != "640x360" ]; then
        echo "not ok - $name: the screenshot is $dims"; fail=$((fail + 1)); continue
      fi
    fi
    rm -f "$work/shot.png"
    echo "ok - $name"
    pass=$((pass + 1))
  else
    echo "not ok - $name: status $status (want $want_status), output must match: $want_line"
    sed 's/^/    | /' <<<"$out"
    fail=$((fail + 1))
  fi
done
echo "host: $pass checks passed, $fail failed"
[ "$fail" -eq 0 ]
