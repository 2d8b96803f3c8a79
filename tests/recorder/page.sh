#!/usr/bin/env bash
# An end-to-end page through the recorder in front of LIBQUV: the page's
# verdict as without it, and the trace holds the library's journal.
#   page.sh RECORDER_DIR LIBQUV CHECK_PY RUN_PAGE ARGS...
set -u
recorder_dir=$1 libquv=$2 check=$3
shift 3
work=$(mktemp -d "${TMPDIR:-/tmp}/nptv-recorded.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
LD_LIBRARY_PATH=$recorder_dir NPTV_QUV_LIBRARY=$libquv NPTV_QUV_TRACE=$work/trace.jsonl \
  QUV_JOURNAL_FILE=$work/journal "$@" || exit
python3 "$check" journal "$work/trace.jsonl" "$work/journal" "" --page
