#!/usr/bin/env bash
# The example at the top of docs/reference.md runs as it is in the browser:
# its <embed> and script are cut out of the reference, put into a page, and
# checked by a few lines after them.
# usage: reference-example.sh RUN_PAGE TVBROWSER PLUGIN_DIR CONFIG REFERENCE.md
set -u
run_page=$1 tvb=$2 plugin_dir=$3 config=$4 reference=$5
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
exec "$run_page" "$tvb" "$plugin_dir" "$config" "" "$work/example.html"
