#!/usr/bin/env bash
# The TV object in your usual browser: tvbridge hosts the real plug-in module
# against the simulated TV and serves a folder (default demo/) with
# /tv-bridge.js, which gives every <embed type="application/tv"> of a page
# its TV object.
#
#   tools/run-bridge.sh [--port PORT] [--root DIR] [--isolate] [--no-install]
#
# --isolate serves the pages cross-origin isolated: their TV calls then take
# the bridge's WebSocket where the browser allows (faster; see
# docs/reference.md).
#
# Installs what is missing (as root), builds tvbridge, prints
#   tvbridge: http://127.0.0.1:PORT/
# once it accepts requests, and runs until interrupted (Ctrl-C). The simulated
# TV's control socket is $QUV_SIM_SOCKET when set (so tvsim can drive it);
# $QUV_SIM_CONFIG picks its state.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${NPTV_BRIDGE_BUILD:-$repo/build/bridge}
port=8913
root=$repo/demo
install=1
isolate=()
while (($#)); do
  case $1 in
    --port) port=${2:?--port needs a number}; shift ;;
    --root) root=${2:?--root needs a folder}; shift ;;
    --isolate) isolate=(--isolate) ;;
    --no-install) install=0 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-bridge: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
[[ -d $root ]] || { echo "run-bridge: no such folder: $root" >&2; exit 2; }

say() { printf 'run-bridge: %s\n' "$*" >&2; }

if ((install)); then
  say "installing what the project needs (tools/install-deps.sh)"
  "$repo/tools/install-deps.sh" >&2
fi

say "building tvbridge in $build"
mkdir -p "$build"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DNPTV_TESTS=OFF -DNPTV_BROWSER=ON >"$build/cmake.log" 2>&1 \
  || { cat "$build/cmake.log" >&2; exit 1; }
cmake --build "$build" -j2 --target nptv Quv tvbridge >&2
tvbridge=$build/tools/tvbridge/tvbridge
[[ -x $tvbridge ]] || { echo "run-bridge: tvbridge was not built (see $build/cmake.log)" >&2; exit 1; }

exec "$tvbridge" --port "$port" --root "$root" "${isolate[@]}"
