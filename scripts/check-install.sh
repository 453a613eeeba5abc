#!/usr/bin/env bash
# Installs the kernel from a configured build into a temporary prefix, moves the
# prefix (nothing may remember where it was installed), builds the examples
# against it twice, through find_package and through pkg-config, and checks
# that both print examples/NAME.expected.
#   scripts/check-install.sh BUILD_DIR
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cmake --install "$build" --prefix "$tmp/installed" >/dev/null
mv "$tmp/installed" "$tmp/moved"
prefix=$tmp/moved
echo "installed, then moved:"
(cd "$prefix" && find . -type f | sort | sed 's|^\./|  |')
if grep -rl "$tmp/installed" "$prefix"; then
  echo "check-install: the files above name the prefix they were installed to" >&2; exit 1
fi

cmake -S "$src/examples" -B "$tmp/with-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$tmp/with-cmake" >/dev/null
pcdir=$(dirname "$(find "$prefix" -name penshell-physics.pc)")

for example in rope cloth; do
  "$tmp/with-cmake/$example" >"$tmp/$example-with-cmake.out"
  c++ -O2 "$src/examples/$example.cpp" $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs penshell-physics) \
    -o "$tmp/$example-pkg-config"
  "$tmp/$example-pkg-config" >"$tmp/$example-with-pkg-config.out"
  for way in with-cmake with-pkg-config; do
    diff -u "$src/examples/$example.expected" "$tmp/$example-$way.out" ||
      { echo "check-install: $example $way differs" >&2; exit 1; }
  done
  echo "check-install: $example built through find_package and through pkg-config prints $example.expected"
done
