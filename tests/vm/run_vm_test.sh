#!/usr/bin/env bash
# Boots a small guest under QEMU (software emulation) with real USB hubs and
# usb-storage drives, runs the station's Linux backend inside it and reports
# the guest's PASS/FAIL lines. Usage: run_vm_test.sh BUILD_DIR [TIMEOUT_SECONDS]
# QK_VM_ONLY=1 runs only the Linux backend's checks at the end (for iterating).
# Needs qemu-system-x86, linux-image-amd64, busybox-static, cpio, udev and libcap2-bin.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:?usage: run_vm_test.sh BUILD_DIR [TIMEOUT_SECONDS]}" && pwd)
limit=${2:-900}

# The newest installed Debian kernel with its modules.
kernel="" kver=""
for k in $(ls /boot/vmlinuz-* 2>/dev/null | sort -V); do
  v=${k#/boot/vmlinuz-}
  if [ -f "/lib/modules/$v/modules.dep" ]; then kernel=$k kver=$v; fi
done
[ -n "$kernel" ] || { echo "vm: no kernel with modules under /boot and /lib/modules" >&2; exit 1; }
[ -r "$kernel" ] || { echo "vm: $kernel is not readable" >&2; exit 1; }
command -v qemu-system-x86_64 >/dev/null || { echo "vm: qemu-system-x86_64 missing" >&2; exit 1; }
busybox=/bin/busybox
"$busybox" --list | grep -x modprobe >/dev/null || { echo "vm: $busybox lacks modprobe (busybox-static needed)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qkvm.XXXXXX")
qemu_pid="" cat_pid=""
cleanup() {
  [ -n "$cat_pid" ] && kill "$cat_pid" 2>/dev/null || true
  if [ -n "$qemu_pid" ] && kill -0 "$qemu_pid" 2>/dev/null; then kill "$qemu_pid" 2>/dev/null || true; fi
  exec 3>&- 2>/dev/null || true
  [ "${QK_VM_KEEP:-0}" = 1 ] && echo "vm: work folder kept: $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT

stage=$work/root
mkdir -p "$stage"/{bin,sbin,dev,proc,sys,tmp,mnt,run,etc,lib/modules/$kver,qk/bin}
cp "$busybox" "$stage/bin/busybox"
for applet in $("$busybox" --list); do
  [ -e "$stage/bin/$applet" ] || ln -s busybox "$stage/bin/$applet"
done

# Kernel modules with their dependencies, as modules.dep lists them.
moddir=/lib/modules/$kver
declare -A have_module=()
add_module() {
  local name=${1//-/_} line path dep
  line=$(awk -v n="$name" -F: '{ f=$1; sub(/.*\//, "", f); sub(/\.ko.*/, "", f); gsub(/-/, "_", f); if (f == n) { print; exit } }' "$moddir/modules.dep")
  if [ -z "$line" ]; then
    grep -q "/${1}.ko" "$moddir/modules.builtin" 2>/dev/null && return 0
    grep -q "/${name}.ko" "$moddir/modules.builtin" 2>/dev/null && return 0
    echo "vm: module $1 not found for $kver" >&2; exit 1
  fi
  path=${line%%:*}
  [ -n "${have_module[$path]:-}" ] && return 0
  have_module[$path]=1
  mkdir -p "$stage/lib/modules/$kver/$(dirname "$path")"
  case $path in
    *.ko.xz) xz -dc "$moddir/$path" > "$stage/lib/modules/$kver/$path" ;;
    *.ko.zst) zstd -qdc "$moddir/$path" > "$stage/lib/modules/$kver/$path" ;;
    *) cp "$moddir/$path" "$stage/lib/modules/$kver/$path" ;;
  esac
  for dep in ${line#*:}; do
    dep=${dep##*/}; add_module "${dep%%.ko*}"
  done
}
modules=(usb_common usbcore xhci_hcd xhci_pci scsi_common scsi_mod crc_t10dif crct10dif_generic
         crct10dif_common crc64_rocksoft crc64_rocksoft_generic crc64 t10_pi sd_mod sg usb_storage
         configfs udc_core libcomposite usb_f_fs dummy_hcd fat vfat nls_cp437 nls_utf8 nls_ascii)
for m in "${modules[@]}"; do add_module "$m"; done
# modules.dep with the names the guest has (compressed modules were unpacked).
sed -e 's/\.ko\.xz/.ko/g' -e 's/\.ko\.zst/.ko/g' "$moddir/modules.dep" > "$stage/lib/modules/$kver/modules.dep"
printf '%s\n' "${modules[@]}" > "$stage/etc/qk-modules"

# Programs with the shared libraries they load.
add_program() {
  local src=$1 dst=$2 lib
  cp "$src" "$stage/$dst"
  for lib in $(ldd "$src" | awk '/=>/ { print $3 } /^\s*\/lib/ { print $1 }'); do
    [ -f "$lib" ] || continue
    mkdir -p "$stage$(dirname "$lib")"
    [ -e "$stage$lib" ] || cp -L "$lib" "$stage$lib"
  done
}
add_program "$build/bin/qkstation-cli" qk/bin/qkstation-cli
[ -x "$build/bin/qk-usb-gadget" ] && add_program "$build/bin/qk-usb-gadget" qk/bin/qk-usb-gadget
for tool in fsck.fat mkfs.fat sfdisk udevadm setcap getcap; do
  p=$(PATH="$PATH:/usr/sbin:/sbin" command -v "$tool" 2>/dev/null || true)
  [ -n "$p" ] && add_program "$p" "bin/$tool"
done
# The system's udev daemon (the same program as udevadm) with the rules that
# watch disks, and the station's rule for its group.
if [ -e "$stage/bin/udevadm" ]; then
  mkdir -p "$stage/lib/systemd" "$stage/lib/udev/rules.d"
  ln -s /bin/udevadm "$stage/lib/systemd/systemd-udevd"
  for r in 50-udev-default.rules 60-block.rules; do
    [ -f "/lib/udev/rules.d/$r" ] && cp "/lib/udev/rules.d/$r" "$stage/lib/udev/rules.d/"
  done
fi
# The dynamic loader where the programs look for it.
for ld in /lib64/ld-linux-x86-64.so.2; do
  [ -e "$ld" ] && { mkdir -p "$stage$(dirname "$ld")"; cp -L "$ld" "$stage$ld"; }
done
# The program folder's data files (flash list, images, sample profile).
find "$build/bin" -maxdepth 1 -type f \( -name '*.ini' -o -name '*.bin' -o -name '*.cs' \) -exec cp {} "$stage/qk/bin/" \;
mkdir -p "$stage/qk/data"
cp "$here"/guest/* "$stage/qk/data/" 2>/dev/null || true
cp "$root/packaging/70-qkstation.rules" "$stage/qk/data/"
cp "$root/sim/demo/line.ini" "$stage/qk/data/line.ini"
# What the bench makes of the guest's production runs: the port objects of
# `run --json`, blanks dropped, one a line (the guest compares its own with these).
# The hang run's profile has the shortest port time-out (1 minute).
for path in usb sata hang; do
  home=$work/bench-$path
  mkdir -p "$home"
  find "$build/bin" -maxdepth 1 -type f \( -name '*.ini' -o -name '*.bin' -o -name '*.cs' \) -exec cp {} "$home/" \;
  sed "$([ $path = hang ] && echo 's/^TimeOut=.*/TimeOut=1/')" "$root/sim/demo/line.ini" > "$home/line-$path.ini"
  "$build/bin/qkstation-cli" --home "$home" --profile "line-$path.ini" --bench "$here/guest/vm-$path.bench" --json run \
    > "$home/run.json" 2>/dev/null || true
  tr -d ' \n' < "$home/run.json" | grep -o '{"failureText"[^}]*}' > "$stage/qk/data/expect-$path.txt" || true
done
cp "$here/guest-init.sh" "$stage/init"
chmod +x "$stage/init"
(cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initrd.gz"

# Small raw drives for QEMU's own usb-storage devices.
for d in d1 d2 d3; do truncate -s 16M "$work/$d.img"; done

mkfifo "$work/mon.in" "$work/mon.out"
: > "$work/console.log"
qemu-system-x86_64 -accel tcg -cpu max -m 512M -smp 1 -display none -no-reboot \
  -kernel "$kernel" -initrd "$work/initrd.gz" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 dummy_hcd.num=2${QK_VM_CAPTURE_SYSFS:+ qk.capture}${QK_VM_ONLY:+ qk.only}" \
  -serial "file:$work/console.log" -monitor "pipe:$work/mon" \
  -device qemu-xhci,id=xhci \
  -device usb-hub,bus=xhci.0,port=2,id=hub1 \
  -device usb-tablet,bus=xhci.0,port=3 \
  -drive if=none,id=d1,format=raw,file="$work/d1.img" \
  -device usb-storage,bus=xhci.0,port=4,drive=d1,id=s1,serial=QEMUD1 \
  -drive if=none,id=d2,format=raw,file="$work/d2.img" \
  -device usb-storage,bus=xhci.0,port=2.3,drive=d2,id=s2,serial=QEMUD2 \
  -drive if=none,id=d3,format=raw,file="$work/d3.img" \
  > "$work/qemu.log" 2>&1 &
qemu_pid=$!
exec 3<>"$work/mon.in"  # read-write: never blocks, even if QEMU did not start
cat "$work/mon.out" > "$work/monitor.log" &
cat_pid=$!

# The guest asks for monitor commands with "QKVM HOST <command>" lines and
# ends with "QKVM DONE"; every other QKVM line is a result.
deadline=$(( $(date +%s) + limit ))
handled=0 done=0
while kill -0 "$qemu_pid" 2>/dev/null; do
  if [ "$(date +%s)" -ge "$deadline" ]; then echo "vm: time-out after ${limit}s" >&2; break; fi
  mapfile -t requests < <(tr -d '\r' < "$work/console.log" | grep -a '^QKVM HOST ' || true)
  while [ "$handled" -lt "${#requests[@]}" ]; do
    echo "${requests[$handled]#QKVM HOST }" >&3
    handled=$((handled + 1))
  done
  if tr -d "\r" < "$work/console.log" | grep -a "^QKVM DONE" >/dev/null; then done=1; break; fi
  sleep 0.5
done
sleep 1
kill "$qemu_pid" 2>/dev/null || true
wait "$qemu_pid" 2>/dev/null || true

log=$(tr -d '\r' < "$work/console.log")
grep -q '^QKVM DONE' <<<"$log" && done=1
if [ "${QK_VM_VERBOSE:-0}" = 1 ] || ! grep -q '^QKVM PASS' <<<"$log" || grep -q '^QKVM FAIL' <<<"$log" || [ $done = 0 ]; then
  echo "---- guest console ----" >&2; echo "$log" >&2; echo "---- qemu ----" >&2; cat "$work/qemu.log" >&2 || true
fi
# QK_VM_CAPTURE_SYSFS=DIR: the guest's /sys shape is unpacked into DIR (a fixture).
if [ -n "${QK_VM_CAPTURE_SYSFS:-}" ] && grep -q '^QKVM SYSFS END' <<<"$log"; then
  rm -rf "$QK_VM_CAPTURE_SYSFS"; mkdir -p "$QK_VM_CAPTURE_SYSFS"
  sed -n '/^QKVM SYSFS BEGIN/,/^QKVM SYSFS END/p' <<<"$log" | sed '1d;$d' | base64 -d | tar -xzf - -C "$QK_VM_CAPTURE_SYSFS"
  echo "vm: sysfs shape written to $QK_VM_CAPTURE_SYSFS"
fi
pass=$(grep -c '^QKVM PASS' <<<"$log" || true)
fail=$(grep -c '^QKVM FAIL' <<<"$log" || true)
grep -E '^QKVM (PASS|FAIL)' <<<"$log" | sed 's/^QKVM /vm: /'
# The speed measurement, as the guest printed it (no bound: a measurement).
grep -a -E '^QKVM (RATE|HUNG) ' <<<"$log" || true
[ $done = 1 ] || { echo "vm: the guest did not finish" >&2; fail=$((fail + 1)); }
# The guest's own count stands even if a result line was garbled on the console.
summary=$(grep -o '^QKVM SUMMARY [0-9]* passed, [0-9]* failed' <<<"$log" || true)
if [ $done = 1 ] && [ "$summary" != "QKVM SUMMARY $pass passed, 0 failed" ]; then
  echo "vm: the guest counted otherwise: ${summary:-no summary}" >&2; fail=$((fail + 1))
fi
echo "vm: $pass passed, $fail failed"
[ "$fail" = 0 ] && [ "$pass" -gt 0 ]
