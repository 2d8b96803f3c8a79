#!/usr/bin/env bash
# The example at the top of docs/reference.md runs as it is in the browser:
# its <embed> and script are cut out of the reference, put into a page, and
# checked by a few lines after them.
# usage: reference-example.sh REFERENCE.md PAGE_RUNNER... (tests/e2e/pages.py and its options)
set -u
reference=$1
shift
work=$(mktemp -d "${TMPDIR:-/tmp}/nptv-ref.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
example=$(sed -n '/^```html$/,/^```$/p' "$reference" | sed '1d;$d')
if [ -z "$example" ]; then
  echo "not ok - no html example in $reference"
  exit 1
fi
{
  echo '<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>'
  printf '%s\n' "$example"
  cat <<'CHECK'
<script>
  var bad = [];
  if (typeof title !== 'string' || title === '') bad.push('title ' + JSON.stringify(title));
  if (!(start > 1000000000)) bad.push('start ' + start);
  if (typeof tv.OnEvent !== 'function') bad.push('OnEvent ' + typeof tv.OnEvent);
  console.log(bad.length ? 'not ok - the example: ' + bad.join(', ') : 'ok - the example ran: ' + title);
  if (bad.length) tvbrowser.fail(bad.join(', ')); else tvbrowser.pass('the reference example runs');
</script></body></html>
CHECK
} >"$work/example.html"
"$@" "$work/example.html"
