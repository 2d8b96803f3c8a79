#!/usr/bin/env bash
# The recorder in front of a libQuv.so in a whole session (recorder-session):
# the same output with and without it, the trace holds the library's
# journal, drops counted, the password out unless asked for.
#   session.sh SESSION MODULE LIBQUV RECORDER_DIR CHECK_PY [RUNNER...]
# RUNNER (qemu-arm ...) runs the session; the library in front is preloaded.
set -u
session=$1 module=$2 libquv=$3 recorder_dir=$4 check=$5
shift 5
work=$(mktemp -d "${TMPDIR:-/tmp}/nptv-recorder.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
export QUV_LOG=$work/quv.log
status=0
# run NAME EVENTS LATE [VAR=VALUE...]: through the recorder unless NAME is direct.
run() {
  local name=$1 events=$2 late=$3
  shift 3
  local preload=$recorder_dir/libQuv.so
  [ "$name" = direct ] && preload=$libquv
  local start=(env LD_PRELOAD="$preload")
  ((${#runner[@]})) && start=("${runner[@]}" -E LD_PRELOAD="$preload")
  env QUV_SIM_SOCKET="$work/$name.sock" NPTV_QUV_LIBRARY="$libquv" \
      NPTV_QUV_TRACE="$work/$name.jsonl" QUV_JOURNAL_FILE="$work/$name.journal" "$@" \
      "${start[@]}" "$session" "$module" "$work/$name.sock" "$events" "$late" \
      >"$work/$name.out" 2>"$work/$name.err" ||
    { echo "not ok - session $name failed:"; cat "$work/$name.out" "$work/$name.err"; status=1; }
}
runner=("$@")
run direct 10000 1000
run recorded 10000 1000
run full 10000 0
run dropping 10000 0 NPTV_QUV_TRACE_QUEUE=2
run secrets 10 0 NPTV_QUV_TRACE_SECRETS=1
run rotating 100 0 NPTV_QUV_TRACE_MAX=4096
# A trace nobody takes (a pipe without a reader): the session is not held up.
mkfifo "$work/stuck.jsonl"
run stuck 10000 1000
cat "$work/direct.out"
for name in recorded full dropping stuck; do
  diff -u "$work/direct.out" "$work/$name.out" || { echo "not ok - $name differs"; status=1; }
done
[ -s "$work/direct.jsonl" ] && { echo "not ok - a trace without the recorder"; status=1; }
python3 "$check" journal "$work/recorded.jsonl" "$work/recorded.journal" pw-7319 || status=1
python3 "$check" journal "$work/secrets.jsonl" "$work/secrets.journal" pw-7319 --secrets || status=1
# A figure, not a check: the framework's thread's longest stay in the recorder
# for one event of the 10,000-event burst (the trace's end record).
grep -o '"longest_event_wait_us":[0-9]*' "$work/recorded.jsonl" ||
  { echo "not ok - the trace has no end record"; status=1; }
python3 "$check" drops "$work/full.jsonl" "$work/dropping.jsonl" || status=1
# Rotation: the trace and the one before it, each within the limit.
for f in "$work/rotating.jsonl" "$work/rotating.jsonl.1"; do
  size=$(stat -c %s "$f" 2>/dev/null || echo missing)
  [[ $size != missing && $size -le 4096 ]] || { echo "not ok - $f: $size bytes"; status=1; }
done
head -n 1 "$work/rotating.jsonl" | grep -q '"kind":"start".*"rotated":true' ||
  { echo "not ok - the rotated trace does not start with its start record"; status=1; }
exit $status
