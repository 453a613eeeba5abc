#!/usr/bin/env bash
# Builds every example (examples/NAME.cpp beside its NAME.expected) against the
# kernel installed under PREFIX, once through find_package and once through
# pkg-config, and checks that each build prints NAME.expected.
#   scripts/check-examples.sh PREFIX
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
prefix=$(cd "${1:?usage: $0 PREFIX}" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The prefix's own files come first, ahead of any other install (/usr/local).
cmake -S "$src/examples" -B "$tmp/with-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$tmp/with-cmake" >/dev/null
pc=$(find "$prefix"/lib* "$prefix"/share -maxdepth 3 -name penshell-physics.pc -print -quit 2>/dev/null)
[ -n "$pc" ] || { echo "check-examples: no penshell-physics.pc under $prefix" >&2; exit 1; }
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs penshell-physics)

for expected in "$src"/examples/*.expected; do
  name=$(basename "$expected" .expected)
  "$tmp/with-cmake/$name" >"$tmp/$name-with-cmake.out"
  # -pthread for the examples that start threads of their own.
  # shellcheck disable=SC2086
  c++ -O2 -pthread "$src/examples/$name.cpp" $flags -o "$tmp/$name-pkg-config"
  "$tmp/$name-pkg-config" >"$tmp/$name-with-pkg-config.out"
  for way in with-cmake with-pkg-config; do
    diff -u "$expected" "$tmp/$name-$way.out" || { echo "check-examples: $name $way differs" >&2; exit 1; }
  done
  echo "check-examples: $name built through find_package and through pkg-config prints $name.expected"
done
