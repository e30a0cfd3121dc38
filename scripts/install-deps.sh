#!/usr/bin/env bash
# Installs what the project needs from Debian's packages. Safe to run again:
# it installs only what is missing.
set -euo pipefail

packages=(
  build-essential cmake make pkg-config
  libjson-c-dev zlib1g-dev libwebrtc-audio-processing-dev libpng-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # PNG snapshots of the virtual board's video input (vboard only)
  libpng-dev
  # 32-bit ARM: cross compiler, qemu-user for its tests, and what makes the
  # armhf sysroot from Debian's armhf packages (scripts/make-armhf-sysroot.sh)
  g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf qemu-user apt dpkg
  # The Wi-Fi tests run Debian's tools in network namespaces of their own
  iproute2 procps util-linux
  # The kernel board (scripts/kernel-board.sh): Debian's armhf kernel under
  # full-system emulation, its modules chosen with kmod, its initramfs a cpio
  qemu-system-arm kmod cpio
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "install-deps: need root (or sudo) to install ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
