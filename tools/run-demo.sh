#!/usr/bin/env bash
# The TV guide demo: the plug-in module in a real browser (tvbrowser, Qt
# WebKit) against the simulated TV.
#
#   tools/run-demo.sh            install what is missing (as root), build, run
#   tools/run-demo.sh --no-install
#   tools/run-demo.sh --webkit   the same in tvwebkit: WebKitGTK, the module
#                                hosted in its web process by the nptv extension
#
# Without a display it runs headless: it prints a transcript of the page's
# calls to the TV and of the events it receives, raises a few events with
# tvsim while the page runs, and writes a screenshot (its path is printed).
# With a display it opens a window; close it to end. NPTV_DEMO_BUILD names
# the build tree (default build/demo; made when missing).
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${NPTV_DEMO_BUILD:-$repo/build/demo}
install=1
webkit=0
for a in "$@"; do
  case $a in
    --no-install) install=0 ;;
    --webkit) webkit=1 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-demo: unknown option $a" >&2; exit 2 ;;
  esac
done

say() { printf '\033[1mrun-demo: %s\033[0m\n' "$*"; }

# ---- 1. What the demo needs ------------------------------------------------------
if ((install)); then
  say "installing what the project needs (tools/install-deps.sh)"
  "$repo/tools/install-deps.sh"
fi

# ---- 2. Build ------------------------------------------------------------------------
say "building in $build"
mkdir -p "$build"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DNPTV_TESTS=OFF -DNPTV_BROWSER=ON >"$build/configure.log" 2>&1 \
  || { cat "$build/configure.log"; exit 1; }
if ((webkit)); then
  cmake --build "$build" -j2 --target nptv Quv tvwebkit nptv_webkit_extension tvsim
  browser=$build/tools/tvwebkit/tvwebkit
  [[ -x $browser ]] || { echo "run-demo: tvwebkit was not built (is libwebkit2gtk-4.1-dev installed?)" >&2; exit 1; }
else
  cmake --build "$build" -j2 --target nptv Quv tvbrowser tvsim
  browser=$build/tools/tvbrowser/tvbrowser
  [[ -x $browser ]] || { echo "run-demo: tvbrowser was not built (is libqt5webkit5-dev installed?)" >&2; exit 1; }
fi
prog=$(basename "$browser")
tvsim=$build/tools/tvsim/tvsim

# ---- 3. Run ----------------------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/nptv-demo.XXXXXX")
export QUV_SIM_SOCKET=$work/tv.sock
export QUV_LOG=$work/framework.log
[[ -n ${NPTV_DEMO_CONFIG:-} ]] && export QUV_SIM_CONFIG=$(realpath "$NPTV_DEMO_CONFIG")
suffix=$([[ $webkit = 1 ]] && echo -webkit || true)
shot=$build/tv-guide$suffix.png
transcript=$build/transcript$suffix.txt
rm -f "$shot"

window=0
opts=(--headless)
if [[ -n ${DISPLAY:-} ]]; then
  window=1
  opts=(--stay)
fi
say "opening demo/index.html in $prog ($([[ $window = 1 ]] && echo "in a window on $DISPLAY" || echo headless))"
echo "----- transcript: the page's calls to the TV and the events it receives"

coproc TVB { exec "$browser" "${opts[@]}" --plugin-dir "$build/module" --screenshot "$shot" "$repo/demo/index.html" 2>&1; }
pid=$TVB_PID
exec {out}<&"${TVB[0]}"
finish() { kill "$pid" 2>/dev/null || true; rm -rf "$work"; }
trap finish EXIT
: >"$transcript"

# Reads the browser's lines until one matches; fails after a generous wait.
wait_for() {
  local pattern=$1 line
  while IFS= read -r -t 120 line <&"$out"; do
    printf '%s\n' "$line" | tee -a "$transcript"
    [[ $line == $pattern ]] && return 0
  done
  echo "run-demo: the page did not show '$pattern'" >&2
  return 1
}
tvsim_do() {
  local reply
  reply=$("$tvsim" "$@" 2>&1) || { echo "run-demo: tvsim $*: $reply" >&2; return 1; }
  printf '>>> tvsim %s  ->  %s\n' "$*" "$reply" | tee -a "$transcript"
}

wait_for "demo: ready"
# A few things happen on the TV while the guide is open.
tvsim_do set current_channel 1
tvsim_do set language 2
tvsim_do set pip 1
tvsim_do set internet_tv 1
tvsim_do event 0 "Reminder" "Evening News starts in 5 minutes"
wait_for 'EVENT "Reminder"*'

if ((window)); then
  kill -USR2 "$pid"
  wait_for "$prog: screenshot*"
  say "the guide is open in a window: use ◀ ▶ ▲ ▼; close the window to end"
  while IFS= read -r line <&"$out"; do printf '%s\n' "$line" | tee -a "$transcript"; done
  wait "$pid" || true
else
  kill -USR1 "$pid"
  while IFS= read -r line <&"$out"; do printf '%s\n' "$line" | tee -a "$transcript"; done
  wait "$pid" || true
fi
echo "-----"
[[ -f $shot ]] || { echo "run-demo: no screenshot was written" >&2; exit 1; }
say "transcript: $transcript"
say "screenshot: $shot"
