#!/usr/bin/env bash
# The station's main job from a fresh Debian 12 machine: install what is
# missing, build, and run the station on the bundled simulated bench when no
# drives are attached. Extra arguments go to qkstation-cli.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
cli="$root/build/bin/qkstation-cli"
if [ $# -eq 0 ] && [ -n "${DISPLAY:-}" ]; then
  # With a display: the station's window on the demo line. Its program folder
  # is made once from the build's data files with the line's profile, so the
  # serial numbers, layout and yield carry on from run to run.
  "$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQK_BUILD_GUI=ON
  home="$root/build/demo-line"
  if [ ! -f "$home/QKMassProd.ini" ]; then
    mkdir -p "$home"
    cp "$root/build/bin"/*.ini "$root/build/bin"/*.bin "$root/build/bin"/*.jpg "$home"/ 2>/dev/null || true
    cp "$root/sim/demo/line.ini" "$home/QKMassProd.ini"
  fi
  exec "$root/build/bin/qkstation" --home "$home" --bench "$root/sim/demo/line-sata.bench"
fi
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ $# -gt 0 ]; then exec "$cli" "$@"; fi
"$cli" files
"$cli" --bench "$root/sim/demo/demo.bench" scan
# A production run on the demo line: the demo profile is copied once into the
# program folder, where the station keeps its serial numbers from run to run.
[ -f "$root/build/bin/demo-line.ini" ] || cp "$root/sim/demo/line.ini" "$root/build/bin/demo-line.ini"
"$cli" --profile demo-line.ini --bench "$root/sim/demo/line-sata.bench" run || true
