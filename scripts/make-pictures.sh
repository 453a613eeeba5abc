#!/usr/bin/env bash
# Regenerates the built-in pictures: draws pictures/source/*.png with
# draw_pictures, then writes pictures/*_picture.cpp from them with picture_text.
# Only files whose content changes are replaced, so an unchanged tree rebuilds nothing.
# Usage: scripts/make-pictures.sh [BUILD_DIR]   (default: build; it is built first)
# To keep a hand-edited PNG, set DRAW=0 and only the .cpp files are rewritten.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
test -f "$build/CMakeCache.txt" || cmake -S . -B "$build" -DPENSHELL_TESTS=OFF -DPENSHELL_BENCH=OFF
cmake --build "$build" --target picture_text draw_pictures -j "$(nproc)"
new=$(mktemp -d "$build/pictures.XXXXXX")
temp=
trap 'rm -rf "$new"; [ -z "$temp" ] || rm -f "$temp"' EXIT
trap 'exit 1' HUP INT QUIT TERM  # through the EXIT trap
changed=0

# Puts the new version of a file in place unless it is already there. A plain mv
# could copy across file systems over the old file, drop its permissions and
# replace a symbolic link: the new version is copied into a temporary file beside
# the file the path names, given its mode, and renamed over it, so that a failure
# (which ends this script) leaves the old file whole.
update() {
  local target
  target=$(readlink -f -- "$2")
  if cmp -s "$1" "$target"; then
    return
  fi
  temp=$(mktemp "$(dirname -- "$target")/.$(basename -- "$target").XXXXXX")
  cat "$1" >"$temp"
  if [ -e "$target" ]; then
    chmod --reference="$target" "$temp"
  else
    chmod "$(printf %o $((0666 & ~0$(umask))))" "$temp"
  fi
  mv -f -- "$temp" "$target"
  temp=
  echo "pictures: rewrote $2"
  changed=$((changed + 1))
}

if [ "${DRAW:-1}" != 0 ]; then
  "$build/draw_pictures" "$new"
  for name in wait pen; do
    update "$new/$name.png" "pictures/source/$name.png"
  done
fi
for name in wait pen; do
  "$build/picture_text" cpp "$name" "pictures/source/$name.png" "$new/${name}_picture.cpp"
  update "$new/${name}_picture.cpp" "pictures/${name}_picture.cpp"
done
echo "pictures: $changed of $([ "${DRAW:-1}" != 0 ] && echo 4 || echo 2) files changed"
