#!/usr/bin/env bash
# The Debian packages of a release, made (cpack in the armhf -Os and the
# native tree) and checked: lintian, the control fields, and the amd64
# packages unpacked (dpkg -x) into a scratch root whose module tvbrowser, and
# whose WPE extension cog, load from their installed places to pass a page.
# Prints "ok - ..." / "not ok - ..." per check; exit status 1 if one failed.
set -u
root=$1 armhf=$2 native=$3 version=$4
doc=$root/docs/firmware.md
status=0
fail() { echo "not ok - $*"; status=1; }
ok() { echo "ok - $*"; }
check() { local what=$1; shift; if "$@"; then ok "$what"; else fail "$what"; fi; }

work=$(mktemp -d "${TMPDIR:-/tmp}/nptv-debs.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT

# ---- cpack ----------------------------------------------------------------------
for tree in "$armhf" "$native"; do
  rm -rf "$tree/packages"
  if ! (cd "$tree" && cpack -G DEB >"$work/cpack.log" 2>&1); then
    cat "$work/cpack.log"
    fail "cpack in $tree"
  fi
done
arm_deb=$armhf/packages/nptv_${version}_armhf.deb
amd_deb=$native/packages/nptv_${version}_amd64.deb
sim_deb=$native/packages/nptv-simulator_${version}_amd64.deb
rec_debs=("$armhf/packages/nptv-recorder_${version}_armhf.deb" "$native/packages/nptv-recorder_${version}_amd64.deb")
arm_wpe=$armhf/packages/nptv-wpe_${version}_armhf.deb
amd_wpe=$native/packages/nptv-wpe_${version}_amd64.deb
debs=("$arm_deb" "$amd_deb" "$sim_deb" "$arm_wpe" "$amd_wpe" "${rec_debs[@]}")
for deb in "${debs[@]}"; do
  check "cpack made $(basename "$deb")" test -s "$deb"
done
for deb in "${debs[@]}"; do [ -s "$deb" ] || exit 1; done

field() { dpkg-deb -f "$1" "$2"; }

# ---- control fields ---------------------------------------------------------------
while IFS='|' read -r deb name arch; do
  shown=$(basename "$deb")
  got="$(field "$deb" Package) $(field "$deb" Version) $(field "$deb" Architecture)"
  check "$shown: Package, Version, Architecture are '$name $version $arch' (got '$got')" \
    test "$got" = "$name $version $arch"
  check "$shown: a neutral maintainer" test "$(field "$deb" Maintainer)" = "nptv developers <nptv@nptv.invalid>"
  check "$shown: a description" test -n "$(field "$deb" Description | sed -n 2p)"
  dpkg-deb --fsys-tarfile "$deb" >"$work/data.tar"
  check "$shown: copyright names the MIT licence" \
    bash -c "tar -xOf '$work/data.tar' ./usr/share/doc/$name/copyright | grep -qx 'License: Expat'"
  check "$shown: its changelog's newest entry (of the source nptv) is $version" \
    bash -c "tar -xOf '$work/data.tar' ./usr/share/doc/$name/changelog.gz | gzip -dc | head -n 1 | grep -q '^nptv ($version) '"
done <<EOF
$arm_deb|nptv|armhf
$amd_deb|nptv|amd64
$sim_deb|nptv-simulator|amd64
${rec_debs[0]}|nptv-recorder|armhf
${rec_debs[1]}|nptv-recorder|amd64
$arm_wpe|nptv-wpe|armhf
$amd_wpe|nptv-wpe|amd64
EOF

# The armhf Depends: the runtime floor DOC's row "armhf, g++, default ABI" records.
floor() {
  local row glibc gcc_s
  row=$(grep -m1 '^| armhf, g++, default ABI |' "$1")
  glibc=$(grep -oE 'GLIBC_[0-9.]+' <<<"$row" | head -n1)
  gcc_s=$(grep -oE 'GCC_[0-9.]+' <<<"$row" | head -n1)
  echo "libc6 (>= ${glibc#GLIBC_}), libgcc-s1 (>= ${gcc_s#GCC_}), libstdc++6 (>= $(sed -nE 's/.*\| *GCC ([0-9.]+) or later *\|.*/\1/p' <<<"$row"))"
}
want="$(floor "$doc"), python3, binutils"
got=$(field "$arm_deb" Depends)
check "armhf Depends are the documented floor: '$want' (got '$got')" test "$got" = "$want"
# The amd64 ones come from dpkg-shlibdeps: the same three runtimes, versioned.
runtimes='libc6 \(>= [0-9.]+\), libgcc-s1 \(>= [0-9.]+\), libstdc\+\+6 \(>= [0-9.]+\)'
got=$(field "$amd_deb" Depends)
check "amd64 Depends name libc6, libgcc-s1 and libstdc++6 with versions, python3, binutils (got '$got')" \
  grep -qE "^(python3, binutils, )?$runtimes(, python3, binutils)?$" <<<"$got"
got=$(field "$sim_deb" Depends)
check "nptv-simulator Depends include ICU (got '$got')" grep -q 'libicu[0-9]* (>= ' <<<"$got"
for deb in "${rec_debs[@]}"; do
  got=$(field "$deb" Depends)
  check "$(basename "$deb") Depends are the C and C++ runtimes (got '$got')" grep -qE "^$runtimes$" <<<"$got"
  check "$(basename "$deb") holds the recorder in its own folder" \
    bash -c "dpkg-deb -c '$deb' | grep -q ' ./usr/lib/nptv-recorder/libQuv.so$'"
done

# nptv-wpe: on nptv of the same version, the floor docs/wpe-tv.md gives (armhf)
# or dpkg-shlibdeps' (amd64), WPE WebKit and GLib; the extension alone in its folder.
want="nptv (= $version), $(floor "$root/docs/wpe-tv.md"), libwpewebkit-1.1-0 (>= "
got=$(field "$arm_wpe" Depends)
check "armhf nptv-wpe Depends: nptv, the documented floor, WPE WebKit, GLib (got '$got')" \
  bash -c "[[ '$got' == '$want'*', libglib2.0-0 (>= '* ]]"
got=$(field "$amd_wpe" Depends)
check "amd64 nptv-wpe Depends: nptv, WPE WebKit and GLib with versions (got '$got')" \
  bash -c "[[ '$got' == 'nptv (= $version), '* && '$got' == *'libwpewebkit-1.1-0 (>= '* && '$got' == *'libglib2.0-0 (>= '* ]]"
for deb in "$arm_wpe" "$amd_wpe"; do
  got=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep '/nptv/wpe/.' | tr '\n' ' ')
  check "$(basename "$deb"): usr/lib/nptv/wpe holds the extension alone (got '$got')" \
    test "$got" = "./usr/lib/nptv/wpe/libnptv-wpe.so "
done

# ---- lintian ------------------------------------------------------------------------
# No error; every warning is one the firmware notes name, with its reason, and
# every warning they name still occurs.
documented=$(sed -n '/<!-- lintian-warnings:begin -->/,/<!-- lintian-warnings:end -->/p' "$doc" \
               | sed -nE 's/^\| *`?([a-z0-9-]+)`? *\| *`([a-z0-9-]+)`.*/\1: \2/p' | sort -u)
check "the firmware notes list the lintian warnings kept" test -n "$documented"
: >"$work/seen"
for deb in "${debs[@]}"; do
  shown=$(basename "$deb")
  lintian --tag-display-limit 0 "$deb" >"$work/lintian.out" 2>&1
  grep -v 'running with root privileges' "$work/lintian.out" | sed "s|^|  $shown: |"
  errors=$(grep -c '^E: ' "$work/lintian.out")
  check "lintian $shown: no error ($errors)" test "$errors" -eq 0
  while read -r tag; do
    echo "$tag" >>"$work/seen"
    check "lintian $shown: warning '$tag' is named in docs/firmware.md" grep -qxF "$tag" <<<"$documented"
  done < <(sed -nE 's/^W: ([a-z0-9-]+): ([a-z0-9-]+).*/\1: \2/p' "$work/lintian.out" | sort -u)
done
while read -r tag; do
  [ -n "$tag" ] || continue
  check "docs/firmware.md names warning '$tag', which lintian still gives" grep -qxF "$tag" "$work/seen"
done <<<"$documented"

# ---- the amd64 packages, installed, in the browser ---------------------------------
scratch=$work/root
for deb in "$amd_deb" "$sim_deb" "$amd_wpe"; do dpkg -x "$deb" "$scratch"; done
plugins=$scratch/usr/lib/browser-plugins
check "dpkg -x puts the module in /usr/lib/browser-plugins" test -f "$plugins/libnptv.so"
# The module has no RUNPATH: libQuv.so is found where the loader is told, here
# in the scratch root (on a TV, the maker's library in the loader's path).
quv=$(LD_LIBRARY_PATH=$scratch/usr/lib ldd "$plugins/libnptv.so" | sed -nE 's/^\s*libQuv\.so => (\S+).*/\1/p')
check "the installed module finds the installed libQuv.so ($quv)" test "$quv" = "$scratch/usr/lib/libQuv.so"
tvbrowser=$native/tools/tvbrowser/tvbrowser
if [ -x "$tvbrowser" ]; then
  LD_LIBRARY_PATH=$scratch/usr/lib python3 "$root/tests/e2e/pages.py" --host "$tvbrowser" --module-dir "$plugins" \
    "$root/tests/e2e/pages/methods.html" >"$work/page.out" 2>&1
  rc=$?
  tail -n 2 "$work/page.out"
  check "tvbrowser loads the installed module and the page passes (exit status $rc)" \
    bash -c "test $rc -eq 0 && grep -q '^tvbrowser: PASS' '$work/page.out'"
else
  fail "no tvbrowser in $native (NPTV_BROWSER=OFF?)"
fi
# The installed extension loads the installed module by default, and in cog
# (the module named here: the scratch root is not /usr) a page passes.
ext=$scratch/usr/lib/nptv/wpe/libnptv-wpe.so
check "the installed extension's default module is /usr/lib/browser-plugins/libnptv.so" \
  grep -qa '/usr/lib/browser-plugins/libnptv.so' "$ext"
LD_LIBRARY_PATH=$scratch/usr/lib python3 "$root/tests/e2e/pages.py" --host "cog:$(dirname "$ext")" \
  --module-dir "$plugins" --tvsim "$scratch/usr/bin/tvsim" "$root/tests/tvwebkit/pages/any-host.html" >"$work/cog.out" 2>&1
rc=$?
tail -n 1 "$work/cog.out"
check "cog loads the installed extension and module and the page passes (exit status $rc)" test "$rc" -eq 0
exit $status
