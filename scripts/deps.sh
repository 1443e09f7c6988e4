#!/usr/bin/env bash
# Installs the Debian 12 packages the station needs, only those that are missing.
set -euo pipefail
pkgs=(cmake ninja-build g++ pkg-config git
      libudev-dev libturbojpeg0-dev nlohmann-json3-dev libcli11-dev
      libgtest-dev libgmock-dev libbenchmark-dev
      libsqlite3-dev libpq-dev postgresql
      dosfstools mtools fdisk)
if [ "${QK_WITH_GUI:-1}" = 1 ]; then pkgs+=(qt6-base-dev libgl-dev xvfb xauth); fi
if [ "${QK_WITH_CLANG:-0}" = 1 ]; then pkgs+=(clang libclang-rt-14-dev); fi
# The virtual-machine test: QEMU, a kernel with its modules, a static busybox for the guest.
if [ "${QK_WITH_VM:-0}" = 1 ]; then pkgs+=(qemu-system-x86 linux-image-amd64 busybox-static cpio udev libcap2-bin); fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
