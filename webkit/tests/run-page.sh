#!/usr/bin/env bash
# Runs one of the extension's test pages in wk-page under Xvfb against a
# simulated TV of its own, and fails when the framework saw misuse.
# usage: run-page.sh WK_PAGE EXT_DIR MODULE PAGE [WK_PAGE ARGS...]
set -u
wk=$1 ext=$2 module=$3 page=$4
shift 4
work=$(mktemp -d "${TMPDIR:-/tmp}/nptv-wk.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
export QUV_SIM_SOCKET=$work/sim.sock QUV_LOG=$work/quv.log NPTV_WEBKIT_TEST_STATS=1
unset QUV_SIM_CONFIG NPTV_ORIGINS NPTV_MODULE
# No session bus here: keep GTK and WebKit from looking for one.
export GIO_USE_VFS=local NO_AT_BRIDGE=1
case $page in
  http*) url=$page ;;
  *\?*) url=file://$(realpath "${page%%\?*}")?${page#*\?} ;;
  *) url=file://$(realpath "$page") ;;
esac
# NPTV_WK_PRELOAD: libraries preloaded into the runner and the processes it
# starts (the web process among them), e.g. the AddressSanitizer runtime.
xvfb-run -a -s "-screen 0 1024x768x24" \
  env ${NPTV_WK_PRELOAD:+LD_PRELOAD="$NPTV_WK_PRELOAD"} \
  "$wk" --ext "$ext" --module "$module" "$@" "$url"
rc=$?
if grep -q 'libQuv: misuse:' "$QUV_LOG" 2>/dev/null; then
  echo "--- the module misused the framework library:"
  grep 'libQuv: misuse:' "$QUV_LOG" | head -n 20
  [ "$rc" -ne 0 ] || rc=1
fi
exit "$rc"
