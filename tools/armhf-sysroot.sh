#!/usr/bin/env bash
# Builds the armhf sysroot the cross build links against: the armhf .debs of
# the libraries the module and the unit suites use, fetched with an apt
# configuration of our own (the machine's dpkg is never told about armhf) and
# unpacked with dpkg-deb. The C and C++ runtimes come from the cross toolchain
# in /usr/arm-linux-gnueabihf.
#
#   tools/armhf-sysroot.sh [SYSROOT]     default: build/armhf-sysroot
#
# A second run with the same package list returns at once.
set -euo pipefail

# The armhf packages the sysroot is made of. Arch-independent header packages
# (nlohmann-json3-dev) are needed too: the cross build never looks in the
# machine's own /usr/include.
PACKAGES=(
  libicu72 libicu-dev
  libgtest-dev libgmock-dev
  nlohmann-json3-dev
  # The WPE WebKit web-process extension (webkit/, NPTV_WPE): WPE's and
  # GLib's development packages and the libraries they link to, then what
  # pkg-config reads when it walks their private requirements. Named, not
  # apt's closure (which pulls hundreds of packages, compilers among them).
  libwpewebkit-1.1-dev libwpewebkit-1.1-0 libwpe-1.0-dev libwpe-1.0-1
  libglib2.0-dev libglib2.0-0 libsoup-3.0-dev libsoup-3.0-0
  libxkbcommon-dev libsysprof-4-dev libsqlite3-dev libpsl-dev libbrotli-dev
  zlib1g-dev libnghttp2-dev libmount-dev libblkid-dev libselinux1-dev
  libsepol-dev libpcre2-dev libffi-dev
)

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sysroot=${1:-${NPTV_ARMHF_SYSROOT:-$repo/build/armhf-sysroot}}
suite=bookworm

stamp=$sysroot/.nptv-sysroot
want="suite=$suite shlibs packages=${PACKAGES[*]}"
if [[ -f $stamp && $(cat "$stamp") == "$want" ]]; then
  echo "armhf sysroot up to date: $sysroot"
  exit 0
fi

state=$sysroot.apt
mkdir -p "$state/debs"
# shellcheck source=tools/armhf-apt.sh
source "$repo/tools/armhf-apt.sh"
armhf_apt_setup "$state"

cd "$state/debs"
rm -f ./*.deb
specs=()
for p in "${PACKAGES[@]}"; do specs+=("$p:armhf"); done
# nlohmann-json3-dev is Architecture: all; apt resolves NAME:armhf to it.
if ! apt-get "${armhf_apt[@]}" -q download "${specs[@]}"; then
  echo "armhf sysroot: error: could not download ${specs[*]}" >&2
  exit 1
fi

rm -rf "$sysroot.new"
mkdir -p "$sysroot.new"
for deb in ./*.deb; do
  echo "armhf sysroot: unpacking $(basename "$deb")"
  dpkg-deb -x "$deb" "$sysroot.new"
  # The libraries' shlibs lines: the Depends of what links them (packaging/).
  dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./shlibs 2>/dev/null >>"$sysroot.new/.nptv-shlibs" || true
done
# Replace the old tree (kept apart from the apt state) only once all unpacked.
rm -rf "$sysroot"
mv "$sysroot.new" "$sysroot"
echo "$want" > "$stamp"
echo "armhf sysroot ready: $sysroot"
