#!/usr/bin/env bash
# Starts the window under a virtual display on the demo line as an unattended
# run ("255 autoquit": START is pressed by the timer, the program ends after the
# run) and keeps two pictures: running.png while the run goes and verdicts.png
# after the final refresh. Fails when the window cannot start or a picture is
# missing. Usage: gui-screenshots.sh BUILD_DIR [OUT_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: gui-screenshots.sh BUILD_DIR [OUT_DIR]}
bin=$(cd "$build/bin" && pwd)
out=${2:-$build/gui-screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out/running.png" "$out/verdicts.png"

# A program folder of its own: the build's data files, the demo line's profile
# (its flash type is the one the line's drives carry), fresh layout and logs.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
cp "$bin"/*.ini "$bin"/*.bin "$bin"/*.jpg "$home"/ 2>/dev/null || true
cp "$root/sim/demo/line.ini" "$home/QKMassProd.ini"

status=0
QT_QPA_PLATFORM=xcb timeout 300 xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$bin/qkstation" --home "$home" --bench "$root/sim/demo/line-sata.bench" --screenshots "$out" 255 autoquit || status=$?
if [ "$status" -ne 0 ]; then
  echo "gui-screenshots: qkstation ended with status $status" >&2
  exit 1
fi
for f in running.png verdicts.png; do
  if [ ! -s "$out/$f" ] || [ "$(head -c 4 "$out/$f" | od -An -c | tr -d ' ')" != '211PNG' ]; then
    echo "gui-screenshots: $out/$f is missing or not a PNG" >&2
    exit 1
  fi
done
ls "$out"/Image_*.jpg >/dev/null 2>&1 || true
echo "gui-screenshots: $out/running.png and $out/verdicts.png"
