#!/usr/bin/env bash
# The project's test command. Installs what is missing, then runs the stages,
# each built in its own tree (valgrind uses the native one):
#   demo      the README's demo command, as a newcomer runs it: tools/run-demo.sh
#             on a build tree that does not exist yet, without a display; checks
#             its exit status, its transcript and its screenshot
#   bridge    the README's bridge command: tools/run-bridge.sh on the demo
#             stage's new build tree (a new one when run alone); checks that it
#             prints its address, serves the demo and /tv-bridge.js, ends on ^C
#   native    build + all suites (unit, end-to-end in the real browser, target,
#             the benchmarks' smoke run with the instruction budget check;
#             the recorder in front of our stand-in and the clang++-built one,
#             replay of the recorded demo, tvsim's trace commands);
#             prints how many of the bridge's end-to-end tests passed in
#             Chromium and in Firefox; the self-test page (selftest/) in
#             tvbrowser, Chromium and Firefox, and its collector tvcollect
#   asan      unit suites and the WebKit extension's pages built with
#             AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan      unit suites (the concurrency suite among them) with ThreadSanitizer
#   valgrind  the dlopen suite (label dlopen) of the native tree under
#             valgrind memcheck
#   armhf     the cross build for the TV: unit suites under qemu-arm (the
#             recorder's session in front of the armhf stand-in among them), the
#             checks on the built module and on the WPE extension
#             (libnptv-wpe.so), the module's size at -O2 and -Os, and the
#             runtime floors (the newest symbol versions they need)
#   oldabi    everything built in the std::string ABI of GCC before 5
#             (NPTV_CXX11_ABI=OFF): unit suites, and the module against the
#             stand-in libQuv.so built by clang++-14 in that ABI
#   clang-ubsan  unit suites built by clang-14 with UndefinedBehaviorSanitizer
#             (enum, vptr and the other checks GCC lacks)
#   armhf-clang  the armhf build by clang-14: unit suites under qemu-arm and
#             the checks on the built module
#   armhf-oldabi the armhf module in the old string ABI and its checks
#   fuzz      the libFuzzer targets (clang, AddressSanitizer + UBSan): each
#             replays its seeds and stored regression inputs, then runs a
#             fixed number of generated inputs (tools/run-fuzz.sh runs them long)
#   package   the release as delivered: the armhf -Os tree installed into a
#             scratch DESTDIR and checked, the recipes against it, the Debian
#             packages (nptv and nptv-wpe for armhf from armhf-os, amd64 and
#             nptv-simulator from the native tree) with lintian, and the amd64
#             ones unpacked with dpkg -x and loaded by tvbrowser and by cog to
#             pass a page
#   quoted    the module built with NPTV_QUOTE_EVENT_TEXTS (event texts as
#             string literals for handlers given by name): the event suites
#             and the lifecycle fuzz target's replay
#   webkit    the module in WebKitGTK (native tree): the web-process
#             extension's suites, tvwebkit (its options, its behaviour as a
#             host program, the end-to-end pages and the demo beside
#             tvbrowser, the self-test page), a WebDriver session through
#             WebKitWebDriver, the extension's pages of tests/pages (events
#             beside an animation, shadow roots, the soak with forced
#             collections), and tools/run-demo.sh --webkit (exit status,
#             transcript, screenshot)
#   wpe       the extension's WPE WebKit flavour (native tree): the end-to-end
#             page, shadow roots, the soak and the self-test page in
#             cog --platform=headless
#   arm-system  the armhf module, simulated TV and WPE extension in Debian's
#             armhf cog and WPE WebKit on an emulated ARMv7 system
#             (qemu-system-arm, tools/arm-system): one end-to-end page, its
#             checks and its call and event figures (emulation, not TV speed)
# and closes with "N passed, N failed" over all stages (a stage that fails to
# configure or build counts as one failure). Exits non-zero if anything failed.
#
#   tools/run-tests.sh [--quick] [--stages a,b,...] [--no-deps]
#     --quick      the native stage only
#     --stages     the named stages only (demo, bridge, native, asan, tsan,
#                  valgrind, armhf, oldabi, clang-ubsan, armhf-clang,
#                  armhf-oldabi, fuzz, package,
#                  quoted, webkit, wpe, arm-system)
#     --no-deps    skip tools/install-deps.sh
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

all_stages=(demo bridge native asan tsan valgrind armhf oldabi clang-ubsan armhf-clang armhf-oldabi fuzz package quoted webkit wpe arm-system)
stages=("${all_stages[@]}")
deps=1
while (($#)); do
  case $1 in
    --quick) stages=(native) ;;
    --stages) shift; IFS=, read -r -a stages <<<"${1:-}" ;;
    --stages=*) IFS=, read -r -a stages <<<"${1#--stages=}" ;;
    --no-deps) deps=0 ;;
    -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-tests: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
for s in "${stages[@]}"; do
  [[ " ${all_stages[*]} " == *" $s "* ]] || { echo "run-tests: unknown stage '$s'" >&2; exit 2; }
done

jobs=2
# Labels of suites that do not depend on how the C++ code is built (page
# type checks, the browser suites): the native stage runs them, the other
# builds skip them.
host_only='^(typecheck|e2e)$'
# Labels with stages of their own, built in the native tree.
own_stage='^(webkit|wpe)$'
logs=$repo/build/test-logs
mkdir -p "$logs"

total_passed=0
total_failed=0
summary=()

if ((deps)); then
  if ! tools/install-deps.sh; then
    echo "run-tests: installing the dependencies failed" >&2
    echo "0 passed, 1 failed"
    exit 1
  fi
fi

# Runs a command with its output in the stage log; shows the log's tail when
# it fails.
quiet() {
  local log=$1; shift
  echo "+ $*" >>"$log"
  if ! "$@" >>"$log" 2>&1; then
    echo "run-tests: failed: $*" >&2
    tail -n 60 "$log" >&2
    return 1
  fi
}

# Runs ctest (under the command in ctest_wrap, if any) with its output shown
# and kept, and adds its counts to the stage's. Arguments: stage name, ctest
# arguments.
ctest_counts() {
  local stage=$1; shift
  local log=$logs/$stage.ctest.log
  "${ctest_wrap[@]}" ctest "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line passed=0 failed=0
  line=$(grep -Eo '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=${BASH_REMATCH[1]}
    passed=$((BASH_REMATCH[2] - failed))
  fi
  if ((rc != 0 && failed == 0)); then
    failed=1   # ctest itself failed (no tests found, a crash in discovery...)
  fi
  stage_passed=$((stage_passed + passed))
  stage_failed=$((stage_failed + failed))
}

# One named check of a stage: counted as one test, its verdict shown.
check() {
  local name=$1; shift
  if "$@"; then
    echo "  ok      $name"
    stage_passed=$((stage_passed + 1))
  else
    echo "  FAILED  $name"
    stage_failed=$((stage_failed + 1))
  fi
}

stage_demo() {
  local tree=$repo/build/demo-check/fresh out=$logs/demo.out
  rm -rf "$repo/build/demo-check"
  local rc=0
  env -u DISPLAY NPTV_DEMO_BUILD="$tree" tools/run-demo.sh >"$out" 2>&1 </dev/null || rc=$?
  grep -E '^(run-demo|demo):|EVENT|FAILED|[Ee]rror' "$out" | tail -n 25 || true
  local shot=$tree/tv-guide.png transcript=$tree/transcript.txt
  check "run-demo.sh exits 0 (exit status $rc; output: $out)" test "$rc" -eq 0
  check "the transcript shows the page's calls to the TV" grep -q 'TV\.[A-Za-z_]*(.*) -> ' "$transcript"
  check "the transcript shows the event raised by tvsim" grep -q 'EVENT "Reminder"' "$transcript"
  check "a non-empty screenshot was written" test -s "$shot"
}

stage_bridge() {
  local tree=$repo/build/demo-check/fresh out=$logs/bridge.out port pid rc=0 i
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  : >"$out"
  NPTV_BRIDGE_BUILD=$tree tools/run-bridge.sh --no-install --port "$port" >"$out" 2>&1 </dev/null &
  pid=$!
  # Building may take minutes on a loaded machine: wait for the line or the end.
  for ((i = 0; i < 1800; i++)); do
    grep -q '^tvbridge: http' "$out" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 1
  done
  fetch() { python3 -c 'import sys, urllib.request; sys.stdout.write(urllib.request.urlopen(sys.argv[1]).read().decode())' "$1"; }
  check "run-bridge.sh prints its address (output: $out)" grep -qx "tvbridge: http://127.0.0.1:$port/" "$out"
  check "it serves the demo" grep -q '<script src="/tv-bridge.js">' <(fetch "http://127.0.0.1:$port/")
  check "it serves /tv-bridge.js" grep -q "'GetProgramList_Size'" <(fetch "http://127.0.0.1:$port/tv-bridge.js")
  kill -INT "$pid" 2>/dev/null
  wait "$pid" || rc=$?
  check "it ends on ^C (exit status $rc)" test "$rc" -eq 0
}

stage_native() {
  quiet "$1" cmake --preset native || return 1
  quiet "$1" cmake --build --preset native -j"$jobs" || return 1
  ctest_counts native --preset native -LE "$own_stage" -j"$jobs" --no-tests=error
  bridge_counts "$logs/native.ctest.log"
}

# The bridge's end-to-end tests per browser, from a ctest log: one line.
bridge_counts() {
  local b all ok line=()
  for b in chromium firefox; do
    all=$(grep -cE "Test +#[0-9]+: e2e_bridge_${b}_" "$1" || true)
    ok=$(grep -E "Test +#[0-9]+: e2e_bridge_${b}_" "$1" | grep -c ' Passed ' || true)
    line+=("$b $ok of $all passed")
  done
  echo "  bridge tests (e2e): ${line[0]}, ${line[1]}"
}

stage_asan() {
  quiet "$1" cmake --preset asan || return 1
  quiet "$1" cmake --build --preset asan -j"$jobs" || return 1
  ctest_counts asan --preset asan -LE "$host_only" -j"$jobs" --no-tests=error
}

stage_tsan() {
  quiet "$1" cmake --preset tsan || return 1
  quiet "$1" cmake --build --preset tsan -j"$jobs" || return 1
  # Without address-space randomisation: ThreadSanitizer's fixed shadow
  # layout fails on kernels with more mmap randomisation bits than it expects.
  setarch "$(uname -m)" -R true 2>/dev/null && ctest_wrap=(setarch "$(uname -m)" -R)
  ctest_counts tsan --preset tsan -LE "$host_only" -j"$jobs" --no-tests=error
}

# valgrind needs no build of its own: it runs the native tree's optimised
# binaries with their debug information (a no-op build after stage native).
stage_valgrind() {
  quiet "$1" cmake --preset native || return 1
  quiet "$1" cmake --build --preset native -j"$jobs" || return 1
  local opts="--error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite --track-origins=yes --num-callers=30"
  local supp=()
  [[ -f $repo/cmake/valgrind.supp ]] && supp=(--overwrite MemoryCheckSuppressionFile="$repo/cmake/valgrind.supp")
  ctest_counts valgrind --test-dir build/native -T memcheck -L dlopen -j"$jobs" \
    --output-on-failure --no-tests=error \
    --overwrite MemoryCheckCommand="$(command -v valgrind)" \
    --overwrite MemoryCheckCommandOptions="$opts" "${supp[@]}"
}

stage_armhf() {
  quiet "$1" tools/armhf-sysroot.sh || return 1
  quiet "$1" cmake --preset armhf || return 1
  quiet "$1" cmake --build --preset armhf -j"$jobs" || return 1
  ctest_counts armhf --preset armhf -LE "$host_only" -j"$jobs" --no-tests=error
  # The shipped module's size, stripped, at -O2 and at -Os.
  quiet "$1" cmake --preset armhf-os || return 1
  quiet "$1" cmake --build --preset armhf-os -j"$jobs" --target nptv || return 1
  local preset lib tmp
  tmp=$(mktemp -d)
  for preset in armhf armhf-os; do
    lib=build/$preset/module/libnptv.so
    if arm-linux-gnueabihf-strip -o "$tmp/$preset.so" "$lib"; then
      echo "armhf: $preset libnptv.so stripped: $(stat -c %s "$tmp/$preset.so") bytes"
    fi
  done
  rm -rf "$tmp"
  echo "armhf: libnptv.so DT_NEEDED:" \
    $(arm-linux-gnueabihf-readelf -d build/armhf/module/libnptv.so | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  print_floor armhf build/armhf
  print_floor armhf build/armhf webkit/wpe/libnptv-wpe.so
}

# The newest symbol versions a built armhf module needs, and the GCC runtime
# that means (the same figures the target.module.versions test compares with
# docs/firmware.md). Arguments: stage name, build tree[, file in it].
print_floor() {
  local floor file=${3:-module/libnptv.so}
  floor=$(cmake -DREADELF=arm-linux-gnueabihf-readelf -DMODULE="$2/$file" -DCHECK=versions \
            -P tests/target/check_module.cmake | sed -n 's/^-- floor: //p')
  echo "$1: runtime floor of ${file##*/}: ${floor:-unknown}"
}

stage_oldabi() {
  quiet "$1" cmake --preset oldabi || return 1
  quiet "$1" cmake --build --preset oldabi -j"$jobs" || return 1
  ctest_counts oldabi --preset oldabi -LE "$host_only" -j"$jobs" --no-tests=error
}

stage_clang-ubsan() {
  quiet "$1" cmake --preset clang-ubsan || return 1
  quiet "$1" cmake --build --preset clang-ubsan -j"$jobs" || return 1
  ctest_counts clang-ubsan --preset clang-ubsan -LE "$host_only" -j"$jobs" --no-tests=error
}

stage_armhf-clang() {
  quiet "$1" tools/armhf-sysroot.sh || return 1
  quiet "$1" cmake --preset armhf-clang || return 1
  quiet "$1" cmake --build --preset armhf-clang -j"$jobs" || return 1
  ctest_counts armhf-clang --preset armhf-clang -LE "$host_only" -j"$jobs" --no-tests=error
  print_floor armhf-clang build/armhf-clang
}

# The module only (its unit suites are the oldabi stage's), with the checks
# on the module file.
stage_armhf-oldabi() {
  quiet "$1" tools/armhf-sysroot.sh || return 1
  quiet "$1" cmake --preset armhf-oldabi || return 1
  quiet "$1" cmake --build --preset armhf-oldabi -j"$jobs" --target nptv || return 1
  ctest_counts armhf-oldabi --preset armhf-oldabi -R '^target\.module\.' -j"$jobs" --no-tests=error
  print_floor armhf-oldabi build/armhf-oldabi
}

# The replays count as the fuzz tree's tests; each target's fixed run counts
# as one test more.
stage_fuzz() {
  quiet "$1" cmake --preset fuzz || return 1
  quiet "$1" cmake --build --preset fuzz -j"$jobs" --target fuzz_all || return 1
  ctest_counts fuzz --preset fuzz -L fuzz-replay -j"$jobs" --no-tests=error
  local out line
  out=$(tools/run-fuzz.sh --no-build --smoke 2>&1)
  echo "$out"
  while IFS= read -r line; do
    case $line in
      "fuzz "*": ok"*) stage_passed=$((stage_passed + 1)) ;;
      "fuzz "*": FAILED"*) stage_failed=$((stage_failed + 1)) ;;
    esac
  done <<<"$out"
}

# Reuses the armhf-os tree of stage armhf (built whole here) and the native
# tree (only what the packages and tvbrowser need, when run alone).
stage_package() {
  quiet "$1" tools/armhf-sysroot.sh || return 1
  quiet "$1" cmake --preset armhf-os || return 1
  quiet "$1" cmake --build --preset armhf-os -j"$jobs" || return 1
  quiet "$1" cmake --preset native || return 1
  quiet "$1" cmake --build --preset native -j"$jobs" --target nptv Quv tvsim tvbrowser nptv_wpe_extension || return 1
  local version plugin_dir wpe_dir recorder recorder_dir out line rc=0
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/native/CMakeCache.txt)
  plugin_dir=$(sed -n 's/^NPTV_PLUGIN_DIR:STRING=//p' build/armhf-os/CMakeCache.txt)
  wpe_dir=$(sed -n 's/^NPTV_WPE_EXTENSION_DIR:STRING=//p' build/armhf-os/CMakeCache.txt)
  recorder=$(sed -n 's/^NPTV_INSTALL_RECORDER:BOOL=//p' build/armhf-os/CMakeCache.txt)
  recorder_dir=$(sed -n 's/^NPTV_RECORDER_DIR:STRING=//p' build/armhf-os/CMakeCache.txt)
  check "the armhf-os tree installs as a TV image takes it (log: $1)" quiet "$1" \
    cmake -DBUILD=build/armhf-os -DREADELF=arm-linux-gnueabihf-readelf -DPLUGIN_DIR="$plugin_dir" \
          -DSIMULATOR=OFF -DWPE_DIR="$wpe_dir" -DRECORDER="$recorder" -DRECORDER_DIR="$recorder_dir" \
          -DMAP=module/nptv.map -P tests/package/check_install.cmake
  check "the recipes agree with the armhf-os build" quiet "$1" \
    cmake -DSOURCE="$repo" -DVERSION="$version" -DCACHE=build/armhf-os/CMakeCache.txt \
          -P tests/package/check_recipes.cmake
  out=$(tests/package/debs.sh "$repo" "$repo/build/armhf-os" "$repo/build/native" "$version" 2>&1) || rc=$?
  echo "$out" >>"$1"
  if ((rc != 0)) && ! grep -q '^not ok - ' <<<"$out"; then
    out+=$'\n'"not ok - tests/package/debs.sh ended with status $rc"
  fi
  while IFS= read -r line; do
    case $line in
      "ok - "*) stage_passed=$((stage_passed + 1)) ;;
      "not ok - "*) stage_failed=$((stage_failed + 1)); echo "  FAILED  ${line#not ok - }" ;;
      "  "*) echo "$line" ;;   # lintian's findings
    esac
  done <<<"$out"
  echo "  package: $(grep -c '^ok - ' <<<"$out") package checks passed (log: $1)"
}

# Only what the option changes: the module, the browser host and the suites
# of the event path.
stage_quoted() {
  quiet "$1" cmake --preset quoted || return 1
  quiet "$1" cmake --build --preset quoted -j"$jobs" \
    --target nptv tvsim nptv_plugin_tests fuzz_lifecycle_replay || return 1
  ctest_counts quoted --preset quoted -j"$jobs" --no-tests=error \
    -R '^(plugin\.(Misbehave|ScriptText)\.|fuzz\.replay\.lifecycle$)'
}

# The WebKitGTK and WPE suites run in the native tree (a no-op build after
# stage native).
stage_webkit() {
  quiet "$1" cmake --preset native || return 1
  quiet "$1" cmake --build --preset native -j"$jobs" || return 1
  ctest_counts webkit --preset native -L '^webkit$' -j"$jobs" --no-tests=error
  # The README's demo command with --webkit, in the demo stage's tree.
  local tree=$repo/build/demo-check/fresh out=$logs/demo-webkit.out rc=0
  env -u DISPLAY NPTV_DEMO_BUILD="$tree" tools/run-demo.sh --no-install --webkit >"$out" 2>&1 </dev/null || rc=$?
  check "run-demo.sh --webkit exits 0 (exit status $rc; output: $out)" test "$rc" -eq 0
  check "its transcript shows the page's calls and the event raised by tvsim" \
    grep -q 'EVENT "Reminder"' "$tree/transcript-webkit.txt"
  check "it wrote a non-empty screenshot" test -s "$tree/tv-guide-webkit.png"
}

stage_wpe() {
  quiet "$1" cmake --preset native || return 1
  quiet "$1" cmake --build --preset native -j"$jobs" --target nptv nptv_wpe_extension tvsim tvcollect || return 1
  ctest_counts wpe --preset native -L '^wpe$' --no-tests=error
}

# Reuses the armhf tree of stage armhf; the system's image is cached by content
# in build/arm-system.
stage_arm-system() {
  quiet "$1" tools/armhf-sysroot.sh || return 1
  quiet "$1" cmake --preset armhf || return 1
  quiet "$1" cmake --build --preset armhf -j"$jobs" --target nptv Quv tvsim nptv_wpe_extension || return 1
  local out=$logs/arm-system.out line rc=0
  tools/arm-system/run-page.sh build/armhf tests/arm-system/page.html >"$out" 2>&1 </dev/null || rc=$?
  while IFS= read -r line; do
    case $line in
      "ok - "*) stage_passed=$((stage_passed + 1)) ;;
      "not ok - "*) stage_failed=$((stage_failed + 1)); echo "  FAILED  ${line#not ok - }" ;;
      *"CONSOLE LOG bench: "*) echo "  arm-system (emulated, not TV speed): ${line#*CONSOLE LOG bench: }" ;;
      "arm-system: "*) echo "  $line" ;;
    esac
  done <"$out"
  # No verdict from the guest (it stopped, or the emulator did): one failure.
  if ((rc != 0 && stage_failed == 0)); then
    echo "  FAILED  the emulated system gave no verdict (exit status $rc; log: $out)"
    stage_failed=1
  fi
}

start_all=$SECONDS
for stage in "${stages[@]}"; do
  echo
  echo "=== stage $stage ==="
  stage_passed=0
  stage_failed=0
  ctest_wrap=()
  log=$logs/$stage.log
  : >"$log"
  start=$SECONDS
  if ! "stage_$stage" "$log"; then
    stage_failed=$((stage_failed + 1))
    echo "run-tests: stage $stage did not build (log: $log)"
  fi
  took=$((SECONDS - start))
  summary+=("$(printf '%-12s %4ds  %5d passed, %d failed' "$stage" "$took" "$stage_passed" "$stage_failed")")
  total_passed=$((total_passed + stage_passed))
  total_failed=$((total_failed + stage_failed))
done

echo
echo "=== summary (total $((SECONDS - start_all))s) ==="
printf '%s\n' "${summary[@]}"
echo "$total_passed passed, $total_failed failed"
((total_failed == 0))
