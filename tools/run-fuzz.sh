#!/usr/bin/env bash
# Builds the fuzz targets (the clang tree build/fuzz) and runs them:
#
#   tools/run-fuzz.sh [--time SECONDS | --runs N | --smoke] [--no-build] [TARGET...]
#     --time SECONDS  run each target this long (default 600)
#     --runs N        run each target for N inputs, its seeds included, from a
#                     fixed random seed, in a fresh work folder
#     --smoke         as --runs, with each target's own count, chosen so that
#                     all four take about two minutes here (the test command's
#                     fuzz stage)
#     --no-build      use the binaries as they are
#     TARGET          decoders, script, lifecycle, simtv (default: all)
#
# Each target starts from its seed corpus (tests/fuzz/corpus/TARGET) and its
# stored regression inputs; what it learns goes to build/fuzz-work/TARGET, a
# crash or a violated property to build/fuzz-crashes/TARGET (printed). Copy a
# crash into tests/fuzz/regressions/TARGET so that every build replays it.
# FUZZ_BIN_DIR names another folder of target binaries (a copy, so that a
# long run is not disturbed by a rebuild; libQuv.so beside them is found
# through LD_LIBRARY_PATH). One closing line per target: "fuzz TARGET: ok ..." or "fuzz TARGET: FAILED
# ..."; the exit status is the number of failed targets.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

time_limit=600
runs=
build=1
targets=()
while (($#)); do
  case $1 in
    --time) shift; time_limit=${1:?--time needs seconds}; runs= ;;
    --runs) shift; runs=${1:?--runs needs a number} ;;
    --smoke) runs=smoke ;;
    --no-build) build=0 ;;
    -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "run-fuzz: unknown option $1 (see --help)" >&2; exit 2 ;;
    *) targets+=("$1") ;;
  esac
  shift
done
all=(decoders script lifecycle simtv)
# Inputs per target for --smoke, about a minute and a half in all (the long
# runs here managed some 1000-2500, 4000, 200 and 46 inputs a second).
declare -A smoke_runs=([decoders]=100000 [script]=100000 [lifecycle]=10000 [simtv]=2500)
((${#targets[@]})) || targets=("${all[@]}")
for t in "${targets[@]}"; do
  [[ " ${all[*]} " == *" $t "* ]] || { echo "run-fuzz: unknown target '$t' (${all[*]})" >&2; exit 2; }
done

if ((build)); then
  cmake --preset fuzz >/dev/null || exit 1
  nice -n 10 cmake --build --preset fuzz -j2 --target fuzz_all || exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=0
for t in "${targets[@]}"; do
  bin=${FUZZ_BIN_DIR:-build/fuzz/tests/fuzz}/fuzz_$t
  work=build/fuzz-work/$t
  [[ -n $runs ]] && work=build/fuzz-work/$t-runs
  crashes=build/fuzz-crashes/$t
  log=$work.log
  mkdir -p "$work" "$crashes"
  seeds=(tests/fuzz/corpus/$t)
  [[ -d tests/fuzz/regressions/$t ]] && seeds+=(tests/fuzz/regressions/$t)
  opts=(-artifact_prefix="$crashes/" -timeout=60 -rss_limit_mb=4096 -max_len=8192 -print_final_stats=1)
  [[ -f tests/fuzz/$t.dict ]] && opts+=(-dict=tests/fuzz/$t.dict)
  # The plug-in targets keep state for the life of the process on purpose
  # (the browser's interned identifiers, the framework's connection ids), so
  # a leak check after every input would run on nearly every input and slow
  # them tenfold; their own accounting checks what an input leaves behind,
  # and the leak check at exit still runs.
  [[ $t == script || $t == lifecycle ]] && opts+=(-detect_leaks=0)
  if [[ -n $runs ]]; then
    # A fixed program: the seeds, then N inputs from seed 1, in a fresh folder.
    rm -rf "$work"; mkdir -p "$work"
    n=$runs
    [[ $n == smoke ]] && n=${smoke_runs[$t]}
    opts+=(-runs="$n" -seed=1)
  else
    opts+=(-max_total_time="$time_limit")
  fi
  start=$SECONDS
  stamp=$work.started
  : >"$stamp"
  if [[ ! -x $bin ]]; then
    echo "fuzz $t: FAILED (no binary $bin)"
    failed=$((failed + 1))
    continue
  fi
  nice -n 15 "$bin" "${opts[@]}" "$work" "${seeds[@]}" >"$log" 2>&1
  rc=$?
  took=$((SECONDS - start))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' <<<"$last")
  corp=$(grep -Eo 'corp: [0-9]+/[0-9]+[a-zA-Z]*' <<<"$last")
  if ((rc == 0)); then
    echo "fuzz $t: ok, ${execs:-?} inputs in ${took}s, ${cov:-cov: ?} ${corp:-corp: ?}"
  else
    failed=$((failed + 1))
    echo "fuzz $t: FAILED after ${took}s (exit $rc), log $log"
    grep -E 'property violated|ERROR: |runtime error|SUMMARY' "$log" | head -n 5 | sed 's/^/  /'
    find "$crashes" -type f -newer "$stamp" | sed 's/^/  saved: /'
    echo "  (replay: build/fuzz/tests/fuzz/fuzz_${t}_replay FILE; keep it in tests/fuzz/regressions/$t)"
  fi
done
exit "$failed"
