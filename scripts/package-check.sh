#!/usr/bin/env bash
# The Debian packages as a user meets them: lintian finds no errors; on a bare
# system apt would bring the SDL 1.2 compatibility library and Mesa; apt-get
# installs both; the installed penshell and penshell-cloth each run on a
# private Xvfb and a key ends them with status 0 (scripts/run.sh), and without
# a display they refuse with status 255; the
# examples build against the installed kernel in /usr; then both packages are
# purged and nothing of theirs is left. The packages are purged at the end
# whatever happens, and first if an earlier run left them. Needs root or sudo.
#   scripts/package-check.sh PACKAGE_DIR
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
dir=$(cd "${1:?usage: $0 PACKAGE_DIR}" && pwd)
packages=(penshell libpenshell-physics-dev)
debs=()
for p in "${packages[@]}"; do
  deb=$(ls "$dir/${p}"_*.deb 2>/dev/null | tail -n 1)
  [ -n "$deb" ] || { echo "package-check: no ${p}_*.deb in $dir" >&2; exit 1; }
  debs+=("$deb")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
tmp=$(mktemp -d)

# Installed, or purged but with configuration left: dpkg still knows them.
known_to_dpkg() {
  dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${packages[@]}" 2>/dev/null \
    | awk 'substr($1, 2, 1) != "n" {print $2}' || true
}
purge() {
  $sudo dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true
}
# What else might be left: the kernel's CMake package, documentation, pages.
leftover_globs() {
  ls -d /usr/lib/*/cmake/penshell /usr/lib/cmake/penshell /usr/lib/*/pkgconfig/penshell-physics.pc \
    /usr/include/penshell /usr/share/doc/penshell* /usr/share/doc/libpenshell-physics-dev \
    /usr/share/man/man1/penshell* /usr/share/man/man1/picture_text.1* /usr/bin/penshell* \
    /usr/bin/picture_text 2>/dev/null | sort || true
}
cleanup() { purge; rm -rf "$tmp"; }
trap cleanup EXIT

echo "== lintian"
lintian --fail-on error "${debs[@]}"
echo "lintian: no errors"

# On a bare Debian, apt must bring the supported SDL and an OpenGL driver with
# them: what a simulated install on an empty package database would choose.
echo "== apt-get install on a bare system, simulated"
if ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then
  : >"$tmp/empty-status"
  apt-get -s -o Dir::State::status="$tmp/empty-status" install "${debs[@]}" 2>&1 \
    | awk '$1 == "Inst" {print $2}' >"$tmp/bare"
  for p in libsdl1.2-compat-shim libgl1 libgl1-mesa-dri; do
    grep -qx "$p" "$tmp/bare" || { echo "package-check: on a bare system apt would not install $p" >&2; exit 1; }
  done
  if grep -qx libsdl1.2debian "$tmp/bare"; then
    echo "package-check: on a bare system apt would install the classic SDL 1.2" >&2; exit 1
  fi
  echo "they bring libsdl1.2-compat-shim, libgl1 and libgl1-mesa-dri, not libsdl1.2debian"
else
  echo "skipped: apt has no package lists (apt-get update)"
fi

if [ -n "$(known_to_dpkg)" ]; then
  echo "== purging $(known_to_dpkg | tr '\n' ' ')left by an earlier run"
  purge
fi
# The paths in the packages that exist already (directories such as /usr/bin)
# may stay after the purge; no other may.
for deb in "${debs[@]}"; do dpkg-deb --fsys-tarfile "$deb" | tar -t; done \
  | sed 's|^\./|/|; s|/$||' | sort -u >"$tmp/contents"
while read -r path; do [ -e "$path" ] && echo "$path"; done <"$tmp/contents" >"$tmp/existed" || true
leftover_globs >"$tmp/globs-before"

echo "== apt-get install ${debs[*]##*/}"
$sudo apt-get install -y -qq -o DPkg::Lock::Timeout=300 "${debs[@]}" >"$tmp/apt.log" 2>&1 \
  || { cat "$tmp/apt.log" >&2; exit 1; }
dpkg-query -W "${packages[@]}"
dpkg -L "${packages[@]}" | grep -v '^/\.$' | sort -u >"$tmp/installed"
for program in penshell penshell-cloth picture_text; do
  [ -x "/usr/bin/$program" ] || { echo "package-check: /usr/bin/$program is not installed" >&2; exit 1; }
done

# The window programs.
for program in /usr/bin/penshell /usr/bin/penshell-cloth; do
  echo "== $program without a display"
  status=0
  env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy "$program" 2>"$tmp/refused.err" || status=$?
  if [ "$status" -ne 255 ] || [ "$(cat "$tmp/refused.err")" != "setting video mode failed." ]; then
    echo "package-check: expected status 255 and the refusal alone, got $status:" >&2
    cat "$tmp/refused.err" >&2; exit 1
  fi
  echo "status 255, \"setting video mode failed.\""

  echo "== $program on Xvfb"
  status=0
  env -u DISPLAY SCREENSHOT="$tmp/installed.png" timeout 60 "$src/scripts/run.sh" "$program" || status=$?
  [ "$status" -eq 0 ] || { echo "package-check: the installed $program ended with status $status" >&2; exit 1; }
  # The pictures are light on black: an all-black frame drew nothing.
  brightest=$(convert "$tmp/installed.png" -format '%[fx:maxima]' info:)
  awk -v b="$brightest" 'BEGIN { exit !(b > 0.5) }' \
    || { echo "package-check: the installed $program showed nothing (brightest $brightest)" >&2; exit 1; }
done

echo "== /usr/bin/picture_text --help"
/usr/bin/picture_text --help >/dev/null

echo "== examples built against the kernel in /usr"
"$src/scripts/check-examples.sh" /usr

echo "== purge"
$sudo dpkg --purge "${packages[@]}" >/dev/null
left=$(known_to_dpkg)
[ -z "$left" ] || { echo "package-check: dpkg still knows $(echo $left)" >&2; exit 1; }
remaining=$({ comm -23 "$tmp/installed" "$tmp/existed" | while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi; done
  comm -13 "$tmp/globs-before" <(leftover_globs); } | sort -u)
if [ -n "$remaining" ]; then
  echo "package-check: left behind after the purge:" >&2; echo "$remaining" >&2; exit 1
fi
echo "package-check: $(wc -l <"$tmp/installed") paths installed, none left after the purge"
