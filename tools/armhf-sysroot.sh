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
)

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sysroot=${1:-${NPTV_ARMHF_SYSROOT:-$repo/build/armhf-sysroot}}
mirror=${NPTV_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security=${NPTV_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
suite=bookworm
keyring=/usr/share/keyrings/debian-archive-keyring.gpg

stamp=$sysroot/.nptv-sysroot
want="suite=$suite packages=${PACKAGES[*]}"
if [[ -f $stamp && $(cat "$stamp") == "$want" ]]; then
  echo "armhf sysroot up to date: $sysroot"
  exit 0
fi

state=$sysroot.apt
mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/sources.list.d" "$state/debs"
: > "$state/status"
signed=""
[[ -r $keyring ]] && signed=" signed-by=$keyring"
cat > "$state/sources.list" <<SOURCES
deb [arch=armhf$signed] $mirror $suite main
deb [arch=armhf$signed] $mirror $suite-updates main
deb [arch=armhf$signed] $security $suite-security main
SOURCES

apt_opts=(
  -o APT::Architecture=armhf -o APT::Architectures::=armhf
  -o Dir::State::Lists="$state/lists" -o Dir::State::status="$state/status"
  -o Dir::Cache="$state/cache" -o Dir::Etc::SourceList="$state/sources.list"
  -o Dir::Etc::SourceParts="$state/sources.list.d"
  -o Debug::NoLocking=1 -o Acquire::Languages=none -o APT::Sandbox::User=root
)

echo "armhf sysroot: reading the armhf package index"
# An index that fails to download (a stale security mirror) is tolerated: the
# download below fails clearly if a package is then missing.
if ! apt-get "${apt_opts[@]}" -q update; then
  echo "armhf sysroot: warning: some armhf indexes failed to download; going on with what was fetched" >&2
fi

cd "$state/debs"
rm -f ./*.deb
specs=()
for p in "${PACKAGES[@]}"; do specs+=("$p:armhf"); done
# nlohmann-json3-dev is Architecture: all; apt resolves NAME:armhf to it.
if ! apt-get "${apt_opts[@]}" -q download "${specs[@]}"; then
  echo "armhf sysroot: error: could not download ${specs[*]}" >&2
  exit 1
fi

rm -rf "$sysroot.new"
mkdir -p "$sysroot.new"
for deb in ./*.deb; do
  echo "armhf sysroot: unpacking $(basename "$deb")"
  dpkg-deb -x "$deb" "$sysroot.new"
done
# Replace the old tree (kept apart from the apt state) only once all unpacked.
rm -rf "$sysroot"
mv "$sysroot.new" "$sysroot"
echo "$want" > "$stamp"
echo "armhf sysroot ready: $sysroot"
