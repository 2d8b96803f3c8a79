#!/usr/bin/env bash
# The soak page with TV elements, then the same DOM work with plain elements:
# both must pass, and the web process of the TV page may not grow by more
# than the plain page's growth plus a margin (the JavaScript heap is collected
# when the engine decides, so the figures move by a few megabytes).
# usage: soak.sh RUN_PAGE WK_PAGE EXT_DIR MODULE PAGE
set -u
run=$1 wk=$2 ext=$3 module=$4 page=$5
margin_mb=${SOAK_MARGIN_MB:-24}
growth() { sed -n 's/^console: growth-bytes: \(-\?[0-9]*\).*/\1/p' <<<"$1" | tail -n 1; }
plain_out=$("$run" "$wk" "$ext" "$module" "$page?plain=1" 2>&1); plain_rc=$?
tv_out=$("$run" "$wk" "$ext" "$module" "$page" 2>&1); tv_rc=$?
printf '%s\n' "--- plain page" "$plain_out" "--- TV page" "$tv_out"
p=$(growth "$plain_out") t=$(growth "$tv_out")
[ "$plain_rc" -eq 0 ] && [ "$tv_rc" -eq 0 ] && [ -n "$p" ] && [ -n "$t" ] || exit 1
excess=$(( (t - p) / 1048576 ))
echo "soak: web process growth, TV $((t / 1048576)) MB, plain $((p / 1048576)) MB: $excess MB more (at most $margin_mb)"
[ "$excess" -le "$margin_mb" ]
