#!/usr/bin/env bash
# The simulated TV answering from a trace (quv_helper serve): a repeated
# command gets its recorded replies in order, then the last again; one the
# trace lacks is the model's and logged; the events arrive in order; asked for
# by the environment and by the configuration; planned times at several speeds.
#   replay-events.sh QUV_HELPER [RUNNER...]
set -u
helper=$1
shift
work=$(mktemp -d "${TMPDIR:-/tmp}/nptv-replay-events.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
run() { printf '{"t":%s,"thread":7,"conn":1,"kind":"%s",%s}\n' "$@"; }
{
  printf '{"t":0,"kind":"start","format":1}\n'
  run 10 construct '"client":1'
  run 20 execute '"texts":["GetCountry","0","0","0","0"]'
  run 30 reply '"reply":"I7","us":3'
  run 40 event '"type":0,"texts":["a","1"]'
  run 50 event '"type":0,"texts":["b",{"base64":"wqA="}]'
  run 60 execute '"texts":["GetCountry","0","0","0","0"]'
  run 70 reply '"reply":"I8","us":3'
  run 80 event '"type":3,"texts":["c","3"]'
} >"$work/trace.jsonl"
status=0
expect() {
  local what=$1 got=$2 want=$3
  if [ "$got" = "$want" ]; then echo "ok - $what"; else
    printf 'not ok - %s: got\n%s\nwant\n%s\n' "$what" "$got" "$want"; status=1; fi
}
# serve NAME VAR=VALUE...: the helper with the replay asked for by the variables.
serve() {
  local name=$1 out=$work/$1.out
  shift
  : >"$out"
  {
    printf 'cmd GetCountry\ncmd GetCountry\ncmd GetCountry\ncmd GetLanguage\n'
    for _ in $(seq 300); do
      [ "$(grep -c '^EVENT' "$out")" -ge 3 ] && break
      sleep 0.1
    done
  } | env QUV_LOG="$work/$name.log" "$@" "${runner[@]}" "$helper" serve >"$out"
  expect "$name: replies recorded, in order, the last again, then the model's" \
    "$(grep '^REPLY' "$out")" "$(printf 'REPLY 4937\nREPLY 4938\nREPLY 4938\nREPLY 4931')"
  expect "$name: the recorded events, in order" "$(grep '^EVENT' "$out")" \
    "$(printf 'EVENT 0 a 1\nEVENT 0 b \xc2\xa0\nEVENT 3 c 3')"
  expect "$name: the command the trace lacks is named" \
    "$(grep -c 'replay: GetLanguage is not in the trace' "$work/$name.log")" 1
}
runner=("$@")
# The planned schedule (logged, never timed): recorded spacing after the first
# command (20, 30, 60 us) divided by the speed.
for row in "0|+0 +0 +0" "1|+20 +30 +60" "2|+10 +15 +30" "0.5|+40 +60 +120" "none|not raised"; do
  echo 'cmd GetCountry' | env QUV_LOG="$work/plan.log" QUV_SIM_REPLAY="$work/trace.jsonl" \
    QUV_SIM_REPLAY_SPEED="${row%%|*}" "${runner[@]}" "$helper" serve >/dev/null 2>&1
  expect "speed ${row%%|*}: the events planned at ${row#*|}" \
    "$(grep -o '3 events.*' "$work/plan.log" | tr -d '\n' | sed 's/.*command) //; s/.*, //')" "${row#*|}"
  rm -f "$work/plan.log"
done
serve environment QUV_SIM_REPLAY="$work/trace.jsonl" QUV_SIM_REPLAY_SPEED=0
printf '{"replay": {"trace": "trace.jsonl", "speed": 0}}\n' >"$work/tv.json"
serve configuration QUV_SIM_CONFIG="$work/tv.json"
exit $status
