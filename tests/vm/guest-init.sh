#!/bin/sh
# The guest's first process: loads the USB and SCSI modules, then runs the
# station's command line against the real kernel and prints one line per check:
# "QKVM PASS name" or "QKVM FAIL name: why". "QKVM HOST cmd" asks the host to
# give QEMU's monitor a command; "QKVM DONE" ends the run.
export PATH=/bin:/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
exec >/dev/console 2>&1
dmesg -n 1  # kernel messages would break into the result lines

CLI="/qk/bin/qkstation-cli --home /qk/bin"
passes=0 failures=0
pass() { echo "QKVM PASS $1 ($(cut -d" " -f1 /proc/uptime)s)"; passes=$((passes + 1)); }
fail() { echo "QKVM FAIL $1: $2"; failures=$((failures + 1)); }
check() {  # check NAME FILE PATTERN... : every extended pattern is found in FILE
  name=$1 file=$2; shift 2
  for p in "$@"; do
    if ! grep -Eq -- "$p" "$file"; then fail "$name" "'$p' not in: $(head -c 600 "$file" | tr '\n' ' ')"; return 1; fi
  done
  pass "$name"
}
host() { echo "QKVM HOST $*"; }
# Waits up to $1 seconds for a shell condition.
wait_for() {
  _n=$(( $1 * 5 )); shift
  while [ $_n -gt 0 ]; do eval "$@" && return 0; sleep 0.2; _n=$((_n - 1)); done
  return 1
}
finish() {
  echo "QKVM SUMMARY $passes passed, $failures failed"
  echo "QKVM DONE"
  sync
  poweroff -f
}
disk_of() {  # the /dev/sdX of the USB device named $1, or nothing
  for b in /sys/block/sd*; do
    case $(readlink -f "$b") in */$1/$1:1.0/*) echo "/dev/${b##*/}"; return 0 ;; esac
  done
  return 1
}

echo "QKVM INFO boot $(cut -d" " -f1 /proc/uptime)"
# The shape of the USB and block parts of /sys (folders, the attributes the
# station reads, the kernel's relative links), sent to the host as a tarball.
capture_sysfs() {
  fx=/tmp/fx
  copy_dev() {  # copy_dev REAL: the folder and the attributes read from it
    rel=${1#/sys/}; mkdir -p "$fx/$rel"
    for a in busnum devnum speed bDeviceClass bInterfaceClass idVendor idProduct serial maxchild dev size partition; do
      [ -f "$1/$a" ] && cat "$1/$a" > "$fx/$rel/$a" 2>/dev/null
    done
    if [ -L "$1/driver" ]; then
      ln -s "$(readlink "$1/driver")" "$fx/$rel/driver"
      mkdir -p "$fx/bus/usb/drivers/$(basename "$(readlink "$1/driver")")"
    fi
  }
  for kind in bus/usb/devices class/block; do
    mkdir -p "$fx/$kind"
    for e in /sys/$kind/*; do
      ln -s "$(readlink "$e")" "$fx/$kind/${e##*/}"
      copy_dev "$(readlink -f "$e")"
    done
  done
  echo "QKVM SYSFS BEGIN"
  tar -C "$fx" -cf - . | gzip -9 | base64
  echo "QKVM SYSFS END"
}

for m in $(cat /etc/qk-modules); do
  case $m in dummy_hcd|libcomposite|usb_f_fs|udc_core) continue ;; esac
  modprobe "$m" 2>/dev/null || echo "modprobe $m failed"
done

# qk.only (QK_VM_ONLY=1 on the host): only the Linux backend's own checks at
# the end, for iterating on them; the full run always does everything.
ONLY=""
grep -q qk.only /proc/cmdline && ONLY=1
if [ -z "$ONLY" ]; then
# --- the QEMU topology: usb1 (4 ports) with a hub on port 2 (8 ports, a drive
# on its port 3) and a tablet on port 3; usb2 (4 ports) with a drive on port 4.
if wait_for 30 'disk_of 2-4 >/dev/null && disk_of 1-2.3 >/dev/null && [ -e /sys/bus/usb/devices/1-3 ]'; then
  pass "qemu-devices-present"
else
  fail "qemu-devices-present" "$(ls /sys/bus/usb/devices | tr '\n' ' ') / $(ls /sys/block | tr '\n' ' ')"
fi
D1=$(disk_of 2-4) D2=$(disk_of 1-2.3)

$CLI scan > /tmp/scan.txt 2>/tmp/scan.err; echo "exit $?" >> /tmp/scan.txt
cat /tmp/scan.txt /tmp/scan.err
# The hub on usb1 port 2 takes slots 1..8 from the base in force (its port 3:
# slot 3), usb1's later ports move up by 8 (port 3: slot 11), usb2 follows
# (port 4: slot 16); empty ports count.
check "scan-topology" /tmp/scan.txt \
  "^slots 16, configured 3, active 0, START enabled" \
  "^Port3: configured 1-2.3 $D2 \(bridge not recognised\)" \
  "^Port11: configured 1-3$" \
  "^Port16: configured 2-4 $D1 \(bridge not recognised\)" \
  "^exit 0"
$CLI --json scan > /tmp/scan.json 2>/dev/null
check "scan-json" /tmp/scan.json '"slotCount":16' '"deviceCount":0' '"configuredCount":3' \
  "\"devicePath\":\"$D1\"" '"locationKey":"1-2.3"'

grep -q qk.capture /proc/cmdline && capture_sysfs

# --- hot-plug: QEMU's monitor plugs a drive into the hub's port 5 (slot 5)
# and pulls it again; the watch hears the kernel's uevents (no udev daemon
# here) and rescans after its delay.
$CLI watch --for 120 > /tmp/watch.txt 2>&1 &
watch_pid=$!
wait_for 20 'grep -q "^slots 16" /tmp/watch.txt'
host device_add usb-storage,bus=xhci.0,port=2.5,drive=d3,id=s3,serial=QEMUD3
if wait_for 40 'grep -q "^Port5: configured 1-2.5" /tmp/watch.txt'; then
  pass "hotplug-arrival"
else
  fail "hotplug-arrival" "$(tr '\n' '|' < /tmp/watch.txt)"
fi
host device_del s3
if wait_for 40 'grep -q "^Port5: empty" /tmp/watch.txt'; then
  pass "hotplug-removal"
else
  fail "hotplug-removal" "$(tr '\n' '|' < /tmp/watch.txt)"
fi
kill -INT $watch_pid; wait $watch_pid
cat /tmp/watch.txt
fi

# --- the simulated controller behind the real USB stack: each of two dummy
# UDCs (root hubs usb3 and usb4, one port each) serves one drive of a bench
# file through qk-usb-gadget (FunctionFS); the kernel sees real usb-storage drives.
modprobe dummy_hcd num=2 && modprobe libcomposite && modprobe usb_f_fs || fail "gadget-modules" "modprobe"
mount -t configfs none /sys/kernel/config
GADGET=/qk/bin/qk-usb-gadget
start_gadget() {  # start_gadget N BENCH DRIVE [--token T]: drive N on dummy_udc.(N-1)
  n=$1 bench=$2 drive=$3; shift 3
  g=/sys/kernel/config/usb_gadget/qk$n
  set -- $($GADGET "$bench" "$drive" --identity "$@") "$@"
  mkdir $g $g/strings/0x409 $g/configs/c.1 $g/functions/ffs.qk$n
  echo 0x$1 > $g/idVendor; echo 0x$2 > $g/idProduct
  echo "$3" > $g/strings/0x409/serialnumber
  echo QK > $g/strings/0x409/manufacturer; echo "QK simulated drive" > $g/strings/0x409/product
  ln -s $g/functions/ffs.qk$n $g/configs/c.1/
  mkdir -p /dev/ffs-qk$n; mount -t functionfs qk$n /dev/ffs-qk$n
  shift 3
  $GADGET "$bench" "$drive" /dev/ffs-qk$n "$@" > /tmp/gadget$n.log 2>&1 &
  echo $! > /tmp/gadget$n.pid
  wait_for 10 "[ -e /dev/ffs-qk$n/ep2 ]" && echo dummy_udc.$((n - 1)) > $g/UDC ||
    echo "gadget $n: udc $(ls /sys/class/udc | tr '\n' ' ') $(cat /tmp/gadget$n.log)"
}
stop_gadget() {  # stop_gadget N
  g=/sys/kernel/config/usb_gadget/qk$1
  echo "" > $g/UDC 2>/dev/null
  kill $(cat /tmp/gadget$1.pid) 2>/dev/null; wait $(cat /tmp/gadget$1.pid) 2>/dev/null
  umount /dev/ffs-qk$1
  rm $g/configs/c.1/ffs.qk$1; rmdir $g/configs/c.1 $g/functions/ffs.qk$1 $g/strings/0x409 $g
}
# The run's port objects, blanks dropped, one a line (the host made the same of the bench's run).
ports_of() { tr -d ' \n' < "$1" | grep -o '{"failureText"[^}]*}'; }

run_path() {  # run_path usb|sata: a production run on both gadget drives, compared with the bench's
  path=$1
  if [ "$path" = usb ]; then
    # The disk comes a while after its USB device: the watch must still see
    # the drives become active, with no Refresh.
    $CLI watch --for 120 > /tmp/watch-gadget.txt 2>&1 &
    watch_pid=$!
    wait_for 20 'grep -q "^slots 18" /tmp/watch-gadget.txt'
  fi
  start_gadget 1 /qk/data/vm-$path.bench Drive1
  start_gadget 2 /qk/data/vm-$path.bench Drive2
  if wait_for 30 'disk_of 3-1 >/dev/null && disk_of 4-1 >/dev/null'; then
    pass "gadget-drives-$path"
  else
    fail "gadget-drives-$path" "$(ls /sys/bus/usb/devices | tr '\n' ' ') / $(cat /tmp/gadget*.log)"
  fi
  if [ "$path" = usb ]; then
    if wait_for 40 'grep -q "^Port17: active" /tmp/watch-gadget.txt && grep -q "^Port18: active" /tmp/watch-gadget.txt'; then
      pass "hotplug-drive-active-without-refresh"
    else
      fail "hotplug-drive-active-without-refresh" "$(tr '\n' '|' < /tmp/watch-gadget.txt)"
    fi
    kill -INT $watch_pid; wait $watch_pid
  fi
  $CLI scan > /tmp/scan-$path.txt 2>&1
  check "gadget-scan-$path" /tmp/scan-$path.txt "^slots 18, configured 5, active 2" \
    "^Port17: active $(disk_of 3-1) bridge $2 " "^Port18: active $(disk_of 4-1) bridge $2 "
  cp /qk/data/line.ini /qk/bin/line-$path.ini
  $CLI --profile line-$path.ini --json run > /tmp/run-$path.json 2>/tmp/run-$path.err
  echo "exit $?" >> /tmp/run-$path.err
  cat /tmp/run-$path.err
  ports_of /tmp/run-$path.json > /tmp/ports-$path.txt
  if [ -s /tmp/ports-$path.txt ] && cmp -s /tmp/ports-$path.txt /qk/data/expect-$path.txt; then
    pass "run-$path-same-as-bench"
  else
    fail "run-$path-same-as-bench" "guest: $(cat /tmp/ports-$path.txt) bench: $(cat /qk/data/expect-$path.txt)"
  fi
}

cli_check() {  # cli_check NAME ARGS... -- PATTERN...: runs the CLI, then checks its output
  name=$1; shift; args=""
  while [ "$1" != "--" ]; do args="$args $1"; shift; done; shift
  $CLI $args > /tmp/$name.txt 2>&1; echo "exit $?" >> /tmp/$name.txt
  check "$name" /tmp/$name.txt "$@"
}
add_operator() {  # the user op (uid 1000), without root and in no group of the station
  grep -qs "^op:" /etc/passwd && return 0
  echo "op:x:1000:1000::/tmp:/bin/sh" >> /etc/passwd
  echo "op:x:1000:" >> /etc/group
}

if [ -z "$ONLY" ]; then
run_path usb 10

# --- disk operations on the first gadget drive (slot 17), a real /dev/sdX.
D=$(disk_of 3-1)

# --- an operator without root and without access to the drives' nodes: the
# station names the node and what is missing, once per drive, and the slot
# says so instead of showing an unknown bridge.
SG=/dev/$(ls /sys/block/${D#/dev/}/device/scsi_generic)
add_operator
rm -rf /tmp/ophome; mkdir /tmp/ophome; cp /qk/bin/*.ini /qk/bin/*.bin /tmp/ophome; chown -R 1000:1000 /tmp/ophome
su -s /bin/sh -c "/qk/bin/qkstation-cli --home /tmp/ophome scan" op > /tmp/nonroot.txt 2>&1
check "non-root-permission-message" /tmp/nonroot.txt "^No permission: $SG cannot be opened read-write" \
  "^Port17: configured 3-1 $D \(No permission \($SG\)\)"
if [ "$(grep -c "^No permission: $SG " /tmp/nonroot.txt)" = 1 ]; then
  pass "non-root-permission-once"
else
  fail "non-root-permission-once" "$(tr '\n' '|' < /tmp/nonroot.txt)"
fi
cli_check format format 17 -- "^Port17: Pass" "^exit 0"
if wait_for 10 "[ -b ${D}1 ]" && fsck.fat -n ${D}1 > /tmp/fsck.txt 2>&1; then
  pass "format-fsck"
else
  fail "format-fsck" "$(ls /dev/sd* | tr '\n' ' ') $(cat /tmp/fsck.txt)"
fi
if mount -t vfat ${D}1 /mnt && echo first > /mnt/first.txt && umount /mnt; then
  pass "format-mounts"
else
  fail "format-mounts" "mount ${D}1"
fi
# A partition that is mounted and busy cannot be unmounted: nothing is written under it.
mount -t vfat ${D}1 /mnt
(cd /mnt && exec sleep 600) &
busy=$!
cli_check format-busy-mount format 17 -- "^Port17: Fail" "^exit 1"
if grep -q " /mnt " /proc/mounts && [ "$(cat /mnt/first.txt)" = first ]; then
  pass "format-busy-mount-untouched"
else
  fail "format-busy-mount-untouched" "$(cat /proc/mounts)"
fi
kill $busy; wait $busy 2>/dev/null
# Mounted but idle: the format unmounts it first.
cli_check format-unmounts format 17 -- "^Port17: Pass" "^exit 0"
if ! grep -q " /mnt " /proc/mounts && mount -t vfat ${D}1 /mnt && [ ! -e /mnt/first.txt ] &&
   echo second > /mnt/second.txt && umount /mnt; then
  pass "format-unmounts-fresh-volume"
else
  fail "format-unmounts-fresh-volume" "$(cat /proc/mounts)"
fi
# A plain image of the drive's start, then R/W tests over it, then the image back.
dd if=$D of=/tmp/plain.img bs=1M count=16 2>/dev/null
cli_check rwtest-quick rwtest 17 --quick -- "^Port17: Pass" "^exit 0"
cli_check copy-image copy-image 17 /tmp/plain.img -- "^Port17: Pass" "^exit 0"
if fsck.fat -n ${D}1 > /tmp/fsck2.txt 2>&1 && mount -t vfat ${D}1 /mnt && [ "$(cat /mnt/second.txt)" = second ] &&
   umount /mnt; then
  pass "copy-image-volume"
else
  fail "copy-image-volume" "$(cat /tmp/fsck2.txt)"
fi
# The capacity probe through the kernel: a healthy drive passes and keeps its volume.
cli_check probe-healthy probe 17 -- "^Port17: Pass" "^exit 0"
if fsck.fat -n ${D}1 > /tmp/fsck3.txt 2>&1 && mount -t vfat ${D}1 /mnt && [ "$(cat /mnt/second.txt)" = second ] &&
   umount /mnt; then
  pass "probe-keeps-volume"
else
  fail "probe-keeps-volume" "$(cat /tmp/fsck3.txt)"
fi
# A mounted partition keeps its drive: removal refuses it and counts it as not
# removed (the other gadget drive goes).
mount -t vfat ${D}1 /mnt
cli_check remove-under-mount remove -- "Unable to remove all device!" "^exit 1"
if [ -e /sys/bus/usb/devices/3-1 ] && [ -b $D ] && [ "$(cat /mnt/second.txt)" = second ]; then
  pass "remove-under-mount-kept"
else
  fail "remove-under-mount-kept" "$(ls /sys/bus/usb/devices | tr '\n' ' ') $(cat /proc/mounts)"
fi
umount /mnt
# Safe removal: both gadget drives leave the USB tree.
cli_check remove remove -- "^exit 0"
if wait_for 10 '[ ! -e /sys/bus/usb/devices/3-1 ] && [ ! -e /sys/bus/usb/devices/4-1 ] && [ ! -b $D ]'; then
  pass "remove-gone"
else
  fail "remove-gone" "$(ls /sys/bus/usb/devices | tr '\n' ' ')"
fi
stop_gadget 1
stop_gadget 2

# --- a drive that wraps at half its claimed capacity: the probe fails it with the real capacity.
start_gadget 1 /qk/data/vm-probe.bench Drive1
if wait_for 30 'disk_of 3-1 >/dev/null'; then
  cli_check probe-wrap probe 17 -- "^Port17: Fail" "^  Capacity Probe Fail" "^  Stamp lost on LBA\(131072\)" \
    "^  real capacity about 131072 sectors \(64 MB\)" "^exit 1"
else
  fail "probe-wrap" "$(ls /sys/bus/usb/devices | tr '\n' ' ') / $(cat /tmp/gadget1.log)"
fi
stop_gadget 1

# --- the same line behind a USB-to-SATA bridge: ATA PASS-THROUGH(12) through usb-storage.
run_path sata 1
stop_gadget 1
stop_gadget 2
fi

. /qk/data/linux-checks.sh
finish
