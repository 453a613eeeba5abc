#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing penshell need,
# when any is missing (apt-get, through sudo when not root).
set -euo pipefail

packages=(
  build-essential cmake pkg-config      # compiler and build
  libsdl1.2-compat-dev                  # the SDL 1.2 API, over SDL2
  libgl1-mesa-dev libglu1-mesa-dev      # OpenGL and GLU from Mesa
  libgl1-mesa-dri                       # llvmpipe, for OpenGL on a virtual X server
  libgtest-dev libbenchmark-dev         # GoogleTest, Google Benchmark
  libstb-dev                            # stb_image / stb_image_write for the picture tool
  libx11-dev libxtst-dev                # the end-to-end tests drive X directly
  xvfb xauth x11-utils xdotool imagemagick openbox  # virtual display, input, screenshots, window manager
  clang libclang-rt-14-dev valgrind     # sanitizers, fuzzing, memcheck
  g++-aarch64-linux-gnu qemu-user       # make aarch64-check: the kernel on aarch64
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "need root or sudo to install packages" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
