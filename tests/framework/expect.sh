#!/usr/bin/env bash
# Runs a command and checks its exit status, the number of reason lines of
# its verdict ("  - ..."; "-" for any number) and that its output (stdout and
# stderr together) matches an extended regular expression. Exit status 2
# (bad input) must come with exactly one line of output.
#   expect.sh STATUS REASONS REGEX -- COMMAND...
set -u
status=$1 reasons=$2 regex=$3
shift 4
output=$("$@" 2>&1)
rc=$?
printf '%s\n' "$output"
fail() { echo "expect: $*" >&2; exit 1; }
((rc == status)) || fail "exit status $rc, expected $status"
grep -Eq -- "$regex" <<<"$output" || fail "no line matches: $regex"
if [[ $reasons != - ]]; then
  n=$(grep -c '^  - ' <<<"$output")
  ((n == reasons)) || fail "$n reasons, expected $reasons"
fi
if ((status == 2)); then
  [[ $(wc -l <<<"$output") -eq 1 ]] || fail "bad input must be reported in one line"
fi
exit 0
