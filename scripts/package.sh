#!/usr/bin/env bash
# Builds the Debian package from BUILD_DIR (default build-pkg; an existing
# build is reused) and prints the package's file name.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-pkg}
cmake -S "$root" -B "$dir" -G Ninja -DQK_BUILD_GUI=ON >/dev/null
cmake --build "$dir" -j "$(nproc)" --target qkstation qkstation-cli sample-data man-pages >/dev/null
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/qkstation_*.deb
