#!/usr/bin/env bash
# The window's pictures in docs/screens: a line of 10, 30 and 50 drives (some
# faulty) before, during and after an unattended run on 1280x1024 and
# 1920x1080 screens, and every settings tab and option sub-page with the SATA
# and with the USB firmware image, on 1280x1024. Runs under a virtual display.
# Usage: doc-screens.sh BUILD_DIR [OUT_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: doc-screens.sh BUILD_DIR [OUT_DIR]}
bin=$(cd "$build/bin" && pwd)
out=${2:-$root/docs/screens}
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One hub of N ports, a drive on each; drive 2 fails the flash interface test,
# drive 5 runs too hot, drive 9 fails the bus interface test.
bench() {
  local n=$1
  printf '[Bench]\nTimeScale=0.01\n[Hub1]\nParent=root\nKind=usb2\nPorts=%d\n' "$n"
  for ((d = 1; d <= n; d++)); do
    printf '[Drive%d]\nAt=Hub1:%d\nToken=k402\nFlash=WBG\nChannel=4\nBank=2\nUsbSerial=L%04d\n' "$d" "$d" "$d"
    case $d in
      2) printf 'FaultInterface=7:0:0\n' ;;
      5) printf 'Temperature=78\n' ;;
      9) printf 'FaultBus=0:0\n' ;;
      *) printf 'Temperature=41\n' ;;
    esac
  done
}

# A fresh program folder: the build's data files and the demo line's profile.
home() {
  local h=$work/home-$1
  rm -rf "$h"
  mkdir -p "$h"
  cp "$bin"/*.ini "$bin"/*.bin "$bin"/*.jpg "$h"/ 2>/dev/null || true
  cp "$root/sim/demo/line.ini" "$h/QKMassProd.ini"
  echo "$h"
}

display() {  # display WxH command...
  local size=$1
  shift
  QT_QPA_PLATFORM=xcb timeout 600 xvfb-run -a -s "-screen 0 ${size}x24" "$@"
}

for size in 1280x1024 1920x1080; do
  for n in 10 30 50; do
    h=$(home "$size-$n")
    bench "$n" > "$h/line.bench"
    shots=$work/shots-$size-$n
    mkdir -p "$shots"
    display "$size" "$bin/qkstation" --home "$h" --bench "$h/line.bench" --screenshots "$shots" 255 autoquit
    for stage in before running verdicts; do
      name=$stage
      [ "$stage" = verdicts ] && name=after
      cp "$shots/$stage.png" "$out/run-$size-$n-$name.png"
    done
  done
done

for fw in sata usb; do
  h=$(home "tour-$fw")
  bench 4 > "$h/line.bench"
  if [ "$fw" = usb ]; then
    sed -i 's/^DownloadType=1/DownloadType=2/' "$h/QKMassProd.ini"
  fi
  mkdir -p "$work/tour-$fw"
  display 1280x1024 "$bin/qkstation" --home "$h" --bench "$h/line.bench" --tour "$work/tour-$fw"
  for f in "$work/tour-$fw"/*.png; do
    cp "$f" "$out/settings-$fw-$(basename "$f")"
  done
done
ls "$out"
