#!/usr/bin/env bash
# Installs the Debian packages that one job needs, when any is missing
# (apt-get, through sudo when not root). Usage: scripts/setup.sh JOB...
# Jobs: run (build and run the program; with no display also what the
# headless screenshot needs), test, bench, pictures, sanitize, tsan, fuzz, soak,
# memcheck, cross, install-check, install, package, package-check, web-kernel, web,
# charts, npm, npm-check.
set -euo pipefail

build=(build-essential cmake ninja-build pkg-config)
program=(libsdl1.2-compat-dev      # the SDL 1.2 API, over SDL2
         libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri  # OpenGL, GLU, llvmpipe
         libx11-dev)               # full screen asks X for help
headless=(xvfb xauth x11-utils xdotool imagemagick)  # virtual display, input, screenshot
tests=(libgtest-dev libstb-dev     # GoogleTest; stb_image for the picture tool
       libxtst-dev libxfixes-dev   # the end-to-end tests drive and inspect X
       openbox clang               # a window manager; a second compiler for the kernel
       python3)                    # tests/docs_check.py: the guides' code and links

packages=()
npm_ci=no
for job in "$@"; do
  case $job in
    run)
      packages+=("${build[@]}" "${program[@]}")
      # Without a usable display, make run shows the program on Xvfb.
      if [ -z "${DISPLAY:-}" ] || ! { command -v xdpyinfo >/dev/null && xdpyinfo >/dev/null 2>&1; }; then
        packages+=("${headless[@]}")
      fi ;;
    test) packages+=("${build[@]}" "${program[@]}" "${headless[@]}" "${tests[@]}") ;;
    bench) packages+=("${build[@]}" "${program[@]}" libbenchmark-dev) ;;
    sanitize) packages+=("${build[@]}" "${program[@]}" "${headless[@]}" "${tests[@]}" libclang-rt-14-dev) ;;
    fuzz) packages+=("${build[@]}" clang libclang-rt-14-dev) ;;
    tsan) packages+=("${build[@]}" "${program[@]}" "${headless[@]}" "${tests[@]}" libclang-rt-14-dev) ;;
    pictures) packages+=("${build[@]}" "${program[@]}" libstb-dev) ;;
    soak) packages+=("${headless[@]}") ;;
    memcheck) packages+=(valgrind) ;;
    charts) packages+=(python3 python3-matplotlib) ;;  # scripts/charts.py draws SVG
    cross) packages+=(g++-aarch64-linux-gnu qemu-user) ;;
    # em++ (it brings clang, lld, binaryen's wasm-dis and Debian's acorn); node runs its output.
    web-kernel) packages+=(emscripten nodejs) ;;
    install-check) packages+=("${build[@]}") ;;
    # Everything the build makes: picture_text needs stb.
    install) packages+=("${build[@]}" "${program[@]}" libstb-dev) ;;
    package) packages+=("${build[@]}" "${program[@]}" libstb-dev
                        dpkg-dev file lintian) ;;  # dpkg-shlibdeps and file for CPack
    package-check) packages+=("${build[@]}" "${headless[@]}") ;;
    # The browser build and its check: emscripten (with its SDL and GL
    # emulation), Chromium and Firefox ESR, Node.js and npm, then playwright-core
    # as pinned. The pin stays at 1.64.1: 1.65 and later cannot drive Debian's
    # Firefox ESR 153 (newPage fails on "emulation.setMediaFeaturesOverride"),
    # and Playwright's own patched Firefox is a download, not a Debian package.
    # Firefox draws WebGL through EGL on Mesa's llvmpipe, which it loads but does not depend on.
    web) packages+=(build-essential cmake emscripten chromium firefox-esr nodejs
                    libegl1 libegl-mesa0 libgl1-mesa-dri)
         command -v npm >/dev/null || packages+=(npm)
         npm_ci=yes ;;
    # The npm package: em++ builds its modules (with CMake and Ninja), npm packs them.
    npm) packages+=(emscripten nodejs cmake ninja-build)
         command -v npm >/dev/null || packages+=(npm) ;;
    # Its check: the package in both browsers, driven by web/'s pinned playwright-core.
    npm-check) packages+=(nodejs chromium firefox-esr)
               command -v npm >/dev/null || packages+=(npm)
               npm_ci=yes ;;
    *) echo "setup.sh: unknown job '$job'" >&2; exit 2 ;;
  esac
done
# The npm packages pinned in web/package-lock.json, installed again only when the lock changes.
npm_packages() {
  local web
  web="$(dirname "$0")/../web"
  [ "$npm_ci" = yes ] || return 0
  if [ ! -f "$web/node_modules/.package-lock.json" ] || [ "$web/package-lock.json" -nt "$web/node_modules/.package-lock.json" ]; then
    (cd "$web" && npm ci --no-audit --no-fund --loglevel=error)
  fi
}
[ ${#packages[@]} -eq 0 ] && exit 0

# One query for all of them: a second make run must start at once.
# (dpkg-query fails when any of them is unknown to dpkg: that is the answer, not an error.)
missing=$({ dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' "${packages[@]}" 2>/dev/null || true; } \
  | awk '$1 == "ii" {sub(/:.*/, "", $2); print $2}' \
  | sort -u | comm -13 - <(printf '%s\n' "${packages[@]}" | sort -u))
[ -z "$missing" ] && { npm_packages; exit 0; }

echo "installing: $(echo $missing)"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "need root or sudo to install packages" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086
$sudo apt-get install -y -qq --no-install-recommends $missing
npm_packages
