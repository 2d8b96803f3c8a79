#!/usr/bin/env bash
# Runs a page in WPE WebKit on an emulated ARMv7 system: the armhf build's
# module, simulated TV (libQuv.so, tvsim) and WPE extension, in Debian's armhf
# cog and WPE WebKit, on qemu-system-arm -M virt with Debian's armmp kernel.
#
#   tools/arm-system/run-page.sh ARMHF_BUILD PAGE[?QUERY]
#     NPTV_ARM_CPU   the emulated core (default cortex-a15; cortex-a7 also works
#                    with -M virt)
#     NPTV_ARM_WAIT  seconds the page may take in the guest (default 900)
#     NPTV_ARM_DEBUG seconds after which the guest lists its processes, what
#                    they wait on and the build's files they have mapped
#     NPTV_ARM_APPEND more kernel parameters (NAME=VALUE reach the guest's
#                    processes as environment variables)
#
# The image comes from build-image.sh (cached); the build's files and the
# pages go into a second initramfs archive appended to it. Prints the serial
# console; the lines "ok - "/"not ok - " are the checks. Exits 0 when the
# page gave its verdict, PASS, and no check failed.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd) || exit 2
page=$2
image=$("$here/build-image.sh" "$repo/build/arm-system") || exit 1

work=$(mktemp -d "${TMPDIR:-/tmp}/nptv-arm.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
stage=$work/nptv
mkdir -p "$stage"/{lib,bin,wpe,tests/e2e/config,tests/e2e/lib,tests/tvwebkit}
cp "$build/module/libnptv.so" "$build/platform/quv/libQuv.so" "$stage/lib/" || exit 2
cp "$build/tools/tvsim/tvsim" "$stage/bin/" || exit 2
cp "$build/webkit/wpe/libnptv-wpe.so" "$stage/wpe/" || exit 2
cp "$repo/tests/e2e/config/known.json" "$stage/tests/e2e/config/"
cp "$repo/tests/e2e/lib/harness.js" "$stage/tests/e2e/lib/"
cp -r "$repo/tests/tvwebkit/pages" "$stage/tests/tvwebkit"
rel=${page%%\?*}
rel=$(realpath --relative-to="$repo/tests" "$rel")
mkdir -p "$stage/tests/$(dirname "$rel")"
cp "$repo/tests/$rel" "$stage/tests/$rel"
query=""
[[ $page == *\?* ]] && query="?${page#*\?}"
echo "file:///nptv/tests/$rel$query" >"$stage/page"
install -m 0755 "$here/vm-run.sh" "$stage/run.sh"
(cd "$work" && find nptv | cpio -o -H newc -R 0:0 --quiet) >"$work/run.cpio"
cat "$image/root.cpio" "$work/run.cpio" >"$work/initrd"
out=$work/console.log
echo "arm-system: qemu-system-arm -M virt -cpu ${NPTV_ARM_CPU:-cortex-a15}, $(basename "$image")"
timeout $(( ${NPTV_ARM_WAIT:-900} + 300 )) \
  qemu-system-arm -M virt -cpu "${NPTV_ARM_CPU:-cortex-a15}" -smp 2 -m 1536 -nic none -nographic -no-reboot \
    -kernel "$image/vmlinuz" -initrd "$work/initrd" \
    -append "console=ttyAMA0 rdinit=/init quiet NPTV_ARM_WAIT=${NPTV_ARM_WAIT:-900} ${NPTV_ARM_DEBUG:+NPTV_ARM_DEBUG=$NPTV_ARM_DEBUG} ${NPTV_ARM_APPEND:-}" </dev/null \
  | stdbuf -oL tr -d '\r' | tee "$out"
passed=$(grep -c '^ok - ' "$out")
failed=$(grep -c '^not ok - ' "$out")
echo "arm-system: $passed checks passed, $failed failed"
grep -q "^ok - the page's verdict: PASS" "$out" || { echo "arm-system: no PASS verdict from the guest"; exit 1; }
((failed == 0))
