#!/usr/bin/env bash
# Type checks with the TypeScript compiler of node_modules (npm ci).
# usage: typecheck.sh REPO_ROOT TSCONFIG...
# Exit 77 (skipped) when node_modules has no TypeScript compiler.
set -u
root=$1
shift
tsc=$root/node_modules/typescript/bin/tsc
if [ ! -f "$tsc" ]; then
  echo "SKIPPED: no TypeScript compiler in $root/node_modules: run 'npm ci' at the repo root (tools/install-deps.sh does)"
  exit 77
fi
if ! command -v node >/dev/null; then
  echo "SKIPPED: node is not installed"
  exit 77
fi
status=0
for cfg in "$@"; do
  echo "tsc -p $cfg"
  node "$tsc" -p "$cfg" || status=1
done
exit $status
