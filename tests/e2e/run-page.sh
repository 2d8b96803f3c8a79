#!/usr/bin/env bash
# Runs one end-to-end page in tvbrowser against a simulated TV of its own.
# usage: run-page.sh TVBROWSER PLUGIN_DIR CONFIG.json|"" TVSIM|"" [TVBROWSER ARGS...] PAGE
# With TVSIM given, the page may print lines "driver: {json}": each is sent to
# the simulated TV by the tvsim program (a second process), and its reply is
# printed as "driver reply: ...".
set -u
tvb=$1 plugin_dir=$2 config=$3 tvsim=$4
shift 4
work=$(mktemp -d "${TMPDIR:-/tmp}/nptv-e2e.XXXXXX") || exit 2
cleanup() { rm -rf "$work"; }
trap cleanup EXIT
export QUV_SIM_SOCKET=$work/sim.sock
export QUV_LOG=$work/quv.log
if [ -n "$config" ]; then export QUV_SIM_CONFIG=$config; else unset QUV_SIM_CONFIG; fi
unset QTWEBKIT_PLUGIN_PATH

run=("$tvb" --headless --plugin-dir "$plugin_dir" --timeout "${E2E_TIMEOUT:-120}" "$@")
if [ -z "$tvsim" ]; then
  "${run[@]}"
  rc=$?
else
  coproc TVB { "${run[@]}" 2>&1; }
  pid=$TVB_PID
  while IFS= read -r line <&"${TVB[0]}"; do
    printf '%s\n' "$line"
    case $line in
      "driver: "*)
        printf 'driver reply: %s\n' "$("$tvsim" --socket "$QUV_SIM_SOCKET" raw "${line#driver: }" 2>&1)"
        ;;
    esac
  done
  wait "$pid"
  rc=$?
fi
if [ "$rc" -ne 0 ]; then
  echo "--- exit status $rc; the last lines of the framework's log:"
  tail -n 30 "$QUV_LOG" 2>/dev/null
fi
# The framework library records its misuse (a second Close, an Execute after
# Close, ...) in its log: a page that caused any fails.
if grep -q 'libQuv: misuse:' "$QUV_LOG" 2>/dev/null; then
  echo "--- the module misused the framework library:"
  grep 'libQuv: misuse:' "$QUV_LOG" | head -n 20
  [ "$rc" -ne 0 ] || rc=1
fi
exit "$rc"
