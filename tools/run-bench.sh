#!/usr/bin/env bash
# Builds the module and its benchmarks in Release (-O2) under
# build/bench-release, runs every benchmark and writes BENCHMARKS.md (a table
# of figure, value, baseline, ratio and how it was measured), then prints it.
#
#   tools/run-bench.sh [--smoke] [--skip STAGE]... [--out FILE] [--no-install]
#     --smoke      every stage with tiny counts; checks that each gives sane,
#                  non-empty output and that every instruction budget holds
#                  (bench/budgets.py; NPTV_BUDGET_SCALE=F scales them); writes
#                  no BENCHMARKS.md; seconds, not minutes. Ends with
#                  "bench: N passed, N failed, N skipped".
#     --skip S     leave stage S out (calls, instance, heap, decode, events,
#                  budget, gbench, size, browser)
#     --out FILE   write the report there instead of BENCHMARKS.md
#     --no-install do not run tools/install-deps.sh first
#
# Needs valgrind, libbenchmark-dev, and for the browser figures Qt 5 WebKit
# and Xvfb: tools/install-deps.sh (run first unless --no-install) installs
# them. The armhf size figures need the armhf sysroot (tools/armhf-sysroot.sh);
# without it they say so.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${NPTV_BENCH_BUILD:-$repo/build/bench-release}
smoke=0
out=$repo/BENCHMARKS.md
extra=()
install=1
while (($#)); do
  case $1 in
    --no-install) install=0 ;;
    --smoke) smoke=1 ;;
    --skip) shift; extra+=(--skip "${1:?--skip needs a stage}") ;;
    --out) shift; out=${1:?--out needs a file} ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-bench: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done

if ((install)); then
  "$repo/tools/install-deps.sh" >&2
fi
for tool in valgrind callgrind_annotate cmake ninja python3; do
  command -v "$tool" >/dev/null || { echo "run-bench: $tool is missing" >&2; exit 1; }
done

mkdir -p "$build"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" -DNPTV_TESTS=OFF -DNPTV_BENCH=ON \
  -DNPTV_BROWSER=ON >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log" >&2; exit 1; }
targets=(nptv nptv-bench-driver nptv-bench-decode nptv-bench-gbench)
if ninja -C "$build" -t targets all 2>/dev/null | grep -q '^tvbrowser:'; then
  targets+=(tvbrowser)
fi
ninja -C "$build" -j2 "${targets[@]}"

if ((smoke)); then
  exec python3 "$repo/bench/run_bench.py" --build "$build" --source "$repo" --smoke "${extra[@]}"
fi
python3 "$repo/bench/run_bench.py" --build "$build" --source "$repo" --out "$out" "${extra[@]}"
