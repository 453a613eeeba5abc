#!/usr/bin/env bash
# make npm-check: the packed tarball in OUT installed into a scratch project
# (OUT/check) and used there as its users get it, through its exports map and
# files list: the node tests, a TypeScript user compiled with tsc --strict
# against its types, and a page importing it in headless Chromium and Firefox,
# each giving the native build's scene hashes. Also: its modules hold no fused
# or relaxed instruction (engines may round those differently).
#   npm/check/run.sh OUT
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
out=$(cd "$1" && pwd)
tgz=$(ls "$out"/penshell-physics-*.tgz)
scratch=$out/check
rm -rf "$scratch" && mkdir -p "$scratch"
cp "$src"/npm/check/{package.json,package-lock.json,tsconfig.json,consumer.ts,page.html} "$src"/npm/check/*.mjs "$scratch/"
cd "$scratch"
npm ci --no-audit --no-fund --loglevel=error
npm install --no-save --no-audit --no-fund --loglevel=error "$tgz"

status=0
for wasm in node_modules/penshell-physics/*.wasm; do
  if wasm-dis "$wasm" | grep -qE '\([a-z0-9]+x[0-9]+\.[a-z_]*(relaxed|fma|fms|laneselect)'; then
    echo "FAIL $wasm holds fused or relaxed instructions"
    status=1
  fi
done

hash() { sed -n "s/.*$1 = 0x\([0-9a-f]*\)ull.*/\1/p" "$src/tests/kernel_exactness.cpp"; }
export PENSHELL_ROOT=$src PENSHELL_SCENE_HASH=$(hash kSceneHash) PENSHELL_CLOTH_HASH=$(hash kClothHash) \
  PENSHELL_RULES_HASH=$(hash kRulesHash) PENSHELL_ONE_HOLD_HASH=$(hash kOneHoldHash) PENSHELL_BALLS_HASH=$(hash kBallsHash) \
  PENSHELL_COLLIDE_HASH=$(hash kCollideHash) PENSHELL_TORN_HASH=$(hash kTornHash)
# node's default reporter: one line a scenario in a terminal, TAP in a log.
node --test kernel.test.mjs || status=1
npx tsc -p tsconfig.json && echo "ok   consumer.ts: tsc --strict against index.d.ts" || status=1
for engine in chromium firefox; do
  node browser.mjs "$engine" || status=1
done
exit $status
