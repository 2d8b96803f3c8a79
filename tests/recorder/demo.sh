#!/usr/bin/env bash
# The demo recorded through the recorder, then replayed on a simulated TV of
# other values (other.json): it shows the recorded ones; without the replay
# it does not; a configuration tvsim makes from a trace with the password
# shows them too.
#   demo.sh RECORDER_DIR LIBQUV KNOWN_JSON TVSIM HARNESS CHECK PAGE PAGE_RUNNER...
# DEMO_REPLAY_HOST (a host program) or DEMO_REPLAY_BRIDGE (bridge-test.mjs's
# command up to its scenario): the recording, then the replay there only.
set -u
recorder_dir=$1 libquv=$2 known=$3 tvsim=$4 harness=$5 check=$6 page=$7
shift 7
run_page=("$@")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/nptv-replay.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
status=0
# demo NAME CONFIG PASS|FAIL [VAR=VALUE...]
demo() {
  local name=$1 config=$2 want=$3
  shift 3
  env "$@" "${run_page[@]}" "${hosts[@]}" --config "$config" --arg=--script --arg="$harness" --arg=--script --arg="$check" \
    "$page" >"$work/$name.out" 2>&1
  local rc=$?
  if [ "$want" = PASS ] && [ $rc -ne 0 ]; then
    echo "not ok - demo $name failed:"; tail -n 40 "$work/$name.out"; status=1
  elif [ "$want" = FAIL ] && [ $rc -eq 0 ]; then
    echo "not ok - demo $name passed on a TV with other values"; status=1
  else
    echo "ok - demo $name (exit status $rc)"
  fi
}
hosts=()
demo recorded "$known" PASS LD_LIBRARY_PATH="$recorder_dir" NPTV_QUV_LIBRARY="$libquv" \
  NPTV_QUV_TRACE="$work/demo.jsonl"
replay=(QUV_SIM_REPLAY="$work/demo.jsonl" QUV_SIM_REPLAY_SPEED=none)
if [ -n "${DEMO_REPLAY_HOST:-}" ]; then
  hosts=(--host "$DEMO_REPLAY_HOST")
  demo "replayed in tvbrowser and $(basename "$DEMO_REPLAY_HOST")" "$here/other.json" PASS "${replay[@]}"
  exit $status
elif [ -n "${DEMO_REPLAY_BRIDGE:-}" ]; then
  # shellcheck disable=SC2086 # a command line
  env "${replay[@]}" BRIDGE_TEST_TV="$here/other.json" $DEMO_REPLAY_BRIDGE demo || status=1
  exit $status
fi
demo other-tv "$here/other.json" FAIL
demo replayed "$here/other.json" PASS QUV_SIM_REPLAY="$work/demo.jsonl" QUV_SIM_REPLAY_SPEED=none
demo recorded-with-password "$known" PASS LD_LIBRARY_PATH="$recorder_dir" NPTV_QUV_LIBRARY="$libquv" \
  NPTV_QUV_TRACE="$work/secrets.jsonl" NPTV_QUV_TRACE_SECRETS=1
if "$tvsim" trace to-config "$work/secrets.jsonl" >"$work/from-trace.json"; then
  demo from-trace "$work/from-trace.json" PASS
else
  echo "not ok - tvsim trace to-config failed"; status=1
fi
"$tvsim" trace summary "$work/demo.jsonl" || { echo "not ok - tvsim trace summary failed"; status=1; }
exit $status
