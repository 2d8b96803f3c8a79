#!/usr/local/bin/sh
# Runs in the emulated ARM system (busybox sh, started by ./init): one page in
# cog --platform=headless with the armhf extension and module, against the
# armhf simulated TV. Copied to /nptv/run.sh by run-page.sh, beside:
#   /nptv/lib   libnptv.so, libQuv.so     /nptv/wpe   libnptv-wpe.so
#   /nptv/bin   tvsim                     /nptv/page  the page's URL, one line
#   /nptv/tests the pages and what they read
# Reads the page's console: "driver: {json}" goes to tvsim; "expect:
# connections N" is checked against the simulated TV (polled, 60 s at most),
# then the country is set to 200 + N so that the page can wait for the check;
# "burst: N" raises N events then sets the country to N; the verdict line
# "tvbrowser: PASS|FAIL" ends the run. Prints "ok - "/"not ok - " lines.
export LD_LIBRARY_PATH=/nptv/lib QUV_SIM_SOCKET=/tmp/sim.sock QUV_LOG=/tmp/quv.log \
       QUV_SIM_CONFIG=/nptv/tests/e2e/config/known.json NPTV_MODULE=/nptv/lib/libnptv.so \
       XDG_RUNTIME_DIR=/tmp/xdg HOME=/root NO_AT_BRIDGE=1 GIO_USE_VFS=local
wait_limit=${NPTV_ARM_WAIT:-900}
tvsim() { /nptv/bin/tvsim --socket "$QUV_SIM_SOCKET" "$@"; }
open_connections() { tvsim connections 2>/dev/null | grep -c '^[0-9]*  open '; }

url=$(cat /nptv/page)
mkfifo /tmp/console
echo "arm-system: cog --platform=headless $url"
cog --platform=headless --web-extensions-dir=/nptv/wpe \
    --enable-write-console-messages-to-stdout=true --allow-file-access-from-file-urls=true \
    --webprocess-failure=exit "$url" >/tmp/console 2>&1 &
cog=$!
( sleep "$wait_limit"; echo "arm-system: no verdict after $wait_limit s"; kill $cog ) &
watchdog=$!
start=$(date +%s)
if [ -n "${NPTV_ARM_DEBUG:-}" ]; then
  # What each process waits on, a while after the start.
  ( sleep "$NPTV_ARM_DEBUG"
    for d in /proc/[0-9]*; do
      [ -r "$d/cmdline" ] || continue
      cmd=$(tr '\0' ' ' <"$d/cmdline" | cut -c1-80)
      [ -n "$cmd" ] && echo "arm-system: debug: ${d#/proc/} $(cut -d' ' -f3 "$d/stat") $(cat "$d/wchan") $cmd"
      grep -o '/nptv/.*' "$d/maps" 2>/dev/null | sort -u | sed 's/^/arm-system: debug:   maps /'
    done ) &
fi
verdict=""
while IFS= read -r line; do
  echo "$line"
  text=${line#*CONSOLE LOG }
  [ "$text" = "$line" ] && continue
  case $text in
    "ok - "*|"not ok - "*)
      echo "$text" ;;
    "driver: "*)
      echo "driver reply: $(tvsim raw "${text#driver: }" 2>&1)" ;;
    "burst: "*)
      n=${text#burst: } i=1
      while [ "$i" -le "$n" ]; do
        tvsim raw "{\"cmd\":\"event\",\"type\":0,\"param1\":\"$i\",\"param2\":\"burst\"}" >/dev/null
        i=$((i + 1))
      done
      echo "driver reply: $(tvsim raw "{\"cmd\":\"set\",\"key\":\"country\",\"value\":$n}" 2>&1)" ;;
    "expect: connections "*)
      want=${text#expect: connections } got=-1 tries=0
      while [ "$tries" -lt 120 ]; do
        got=$(open_connections)
        [ "$got" = "$want" ] && break
        tries=$((tries + 1))
        sleep 0.5
      done
      if [ "$got" = "$want" ]; then echo "ok - the simulated TV has $want connections open"
      else echo "not ok - the simulated TV has $got connections open, want $want"; fi
      if [ "$want" -gt 0 ] && ! tvsim raw "{\"cmd\":\"set\",\"key\":\"country\",\"value\":$((200 + want))}" 2>&1 | grep -q '"ok":true'; then
        echo "not ok - could not tell the page that its connections were checked"
      fi ;;
    "tvbrowser: "*)
      verdict=${text#tvbrowser: }
      break ;;
  esac
done </tmp/console
echo "arm-system: page took $(( $(date +%s) - start )) s"
kill $cog $watchdog 2>/dev/null
if grep -q 'libQuv: misuse:' /tmp/quv.log 2>/dev/null; then
  echo "not ok - the module misused the framework library:"
  grep 'libQuv: misuse:' /tmp/quv.log | head -n 20
fi
case $verdict in
  PASS*) echo "ok - the page's verdict: $verdict" ;;
  *) echo "not ok - the page's verdict: ${verdict:-none}"; tail -n 30 /tmp/quv.log 2>/dev/null ;;
esac
