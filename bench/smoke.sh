#!/usr/bin/env bash
# The benchmarks' smoke run for CTest (label bench-smoke): every stage with
# tiny counts on an already built tree; fails when a stage fails or gives no
# sane output.
#   smoke.sh BENCH_BINARY_DIR SOURCE_DIR
set -euo pipefail
bindir=$(cd "$1" && pwd)
exec python3 "$2/bench/run_bench.py" --build "$(dirname "$bindir")" --source "$2" --smoke
