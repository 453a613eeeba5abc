#!/usr/bin/env bash
# Installs the kernel from a configured build into a temporary prefix, moves the
# prefix (nothing may remember where it was installed), builds the examples
# against it through find_package and through pkg-config, and checks what they
# print (scripts/check-examples.sh).
#   scripts/check-install.sh BUILD_DIR
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cmake --install "$build" --component dev --prefix "$tmp/installed" >/dev/null
mv "$tmp/installed" "$tmp/moved"
prefix=$tmp/moved
echo "installed, then moved:"
(cd "$prefix" && find . -type f | sort | sed 's|^\./|  |')
if grep -rl "$tmp/installed" "$prefix"; then
  echo "check-install: the files above name the prefix they were installed to" >&2; exit 1
fi
"$src/scripts/check-examples.sh" "$prefix"
