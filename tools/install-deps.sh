#!/usr/bin/env bash
# Installs whatever the project needs that is missing on a Debian 12 machine:
# the Debian packages below, then the npm packages of package-lock.json.
# Runs as root (or through sudo). Quick when everything is there: apt is only
# asked to update its index when a package is missing.
set -euo pipefail

# Every Debian package the project needs, in one place.
PACKAGES=(
  # build
  cmake ninja-build g++ pkg-config
  # libraries
  libgtest-dev libgmock-dev libbenchmark-dev libicu-dev nlohmann-json3-dev
  qtbase5-dev libqt5webkit5-dev
  # running the browser headless, with fonts for the guide's Chinese,
  # Japanese and Korean titles and for symbols
  xvfb xauth fonts-wqy-microhei fonts-symbola
  # test and benchmark tools
  valgrind python3
  # the armhf target: cross toolchain and emulator
  qemu-user g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf
  # a second compiler: clang builds (UBSan with its enum check, the armhf
  # module by another toolchain) and the libFuzzer targets
  clang-14 libclang-rt-14-dev
  # GoogleTest's sources, for a build in the other C++ string ABI
  googletest
  # the bridge to desktop browsers: its HTTP server, and the Chromium its
  # tests drive
  chromium
  # ... its WebSocket (websocketpp on standalone asio), and the Firefox its
  # tests drive too
  libwebsocketpp-dev libasio-dev firefox-esr
  # page scripts (TypeScript)
  nodejs npm
  # the Debian packages: their Depends (dpkg-shlibdeps) and their check
  dpkg-dev lintian
  # the web-process extension that hosts the module in WebKitGTK and WPE
  libwebkit2gtk-4.1-dev libwpewebkit-1.1-dev libwpebackend-fdo-1.0-dev
  # tvwebkit's WebDriver (WebKitWebDriver), WebKit's sandbox (bwrap) and WPE
  # WebKit's browser (cog)
  webkit2gtk-driver bubblewrap cog
  # the emulated ARM system the WPE extension runs on (tools/arm-system): the
  # emulator, the tool that packs its initramfs, and the MIME cache maker
  qemu-system-arm cpio shared-mime-info
)

# A package whose command is already there from another source counts as
# installed (e.g. a Node.js build that bundles npm, which conflicts with
# Debian's npm package).
declare -A SATISFIED_BY_COMMAND=([nodejs]=node [npm]=npm)

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

as_root=()
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null; then
    as_root=(sudo)
  else
    echo "install-deps: must run as root to install packages" >&2
    exit 1
  fi
fi

installed=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${PACKAGES[@]}" 2>/dev/null \
              | awk '$2 == "installed" { print $1 }' || true)
missing=()
for p in "${PACKAGES[@]}"; do
  if grep -qx "$p" <<<"$installed"; then continue; fi
  if [[ -n ${SATISFIED_BY_COMMAND[$p]:-} ]] && command -v "${SATISFIED_BY_COMMAND[$p]}" >/dev/null; then
    continue
  fi
  missing+=("$p")
done

if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # An unreachable extra repository must not stop the install from Debian's.
  "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=300 update \
    || echo "install-deps: warning: apt-get update reported errors; trying the install anyway" >&2
  "${as_root[@]}" apt-get -y -o DPkg::Lock::Timeout=300 install --no-install-recommends "${missing[@]}"
else
  echo "install-deps: all Debian packages present"
fi

# npm packages, reinstalled only when package-lock.json changed.
if [[ -f $repo/package-lock.json ]]; then
  stamp=$repo/node_modules/.nptv-lock.sha256
  sum=$(sha256sum "$repo/package-lock.json" | cut -d' ' -f1)
  if [[ -f $stamp && $(cat "$stamp") == "$sum" ]]; then
    echo "install-deps: npm packages up to date"
  else
    echo "install-deps: npm ci"
    (cd "$repo" && npm ci --no-audit --no-fund)
    echo "$sum" > "$stamp"
  fi
fi
