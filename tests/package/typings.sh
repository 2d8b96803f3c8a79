#!/usr/bin/env bash
# The typings as page developers get them: types/ packed with npm, installed
# into a scratch page project, a page type-checked against it.
# usage: typings.sh REPO_ROOT VERSION
# The version is the release's; the tarball holds package.json, README.md and
# tv.d.ts only; the page passes tsc but for its one misuse. Exit 77 without
# npm, node or TypeScript.
set -u
root=$1 version=$2
tsc=$root/node_modules/typescript/bin/tsc
for tool in node npm; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
[ -f "$tsc" ] || { echo "SKIPPED: no TypeScript compiler in $root/node_modules (npm ci)"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/nptv-typings.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "not ok - $*"; status=1; }
ok() { echo "ok - $*"; }

declared=$(node -p 'require(process.argv[1]).version' "$root/types/package.json")
if [ "$declared" = "$version" ]; then ok "types/package.json is version $version"
else fail "types/package.json is version $declared, the release is $version"; fi

export npm_config_cache=$work/npm-cache npm_config_update_notifier=false
(cd "$root/types" && npm pack --silent --pack-destination "$work" >"$work/pack.out" 2>&1) \
  || { cat "$work/pack.out"; echo "not ok - npm pack failed"; exit 1; }
tarball=$work/nptv-types-$declared.tgz
[ -f "$tarball" ] || { ls "$work"; echo "not ok - npm pack made no $(basename "$tarball")"; exit 1; }
contents=$(tar -tzf "$tarball" | sort | tr '\n' ' ')
want='package/README.md package/package.json package/tv.d.ts '
if [ "$contents" = "$want" ]; then ok "the tarball holds $want"
else fail "the tarball holds '$contents', expected '$want'"; fi

project=$work/page
mkdir -p "$project"
cp "$root/tests/package/typings/page.ts" "$project/"
echo '{ "name": "a-tv-page", "private": true }' >"$project/package.json"
if ! (cd "$project" && npm install --offline --no-audit --no-fund --save-dev "$tarball" >"$work/install.out" 2>&1); then
  cat "$work/install.out"; echo "not ok - npm install of the tarball failed"; exit 1
fi
[ -f "$project/node_modules/nptv-types/tv.d.ts" ] && ok "npm installs it as nptv-types" \
  || fail "npm did not install node_modules/nptv-types/tv.d.ts"

printf '{ "compilerOptions": { "target": "ES2015", "lib": ["ES2015", "DOM"], "strict": true,
  "noEmit": true, "types": ["nptv-types"] }, "files": ["page.ts"] }\n' >"$project/tsconfig.json"
if (cd "$project" && node "$tsc" -p tsconfig.json); then ok "a page type-checks against the installed package, its misuse rejected"
else fail "the page does not type-check against the installed package"; fi
exit $status

