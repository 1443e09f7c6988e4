#!/bin/bash
# Rebuilds the sysfs fixture trees: the shape of /sys for a few hub layouts
# (device folders, attribute files, relative symlinks as the kernel makes them).
# qemu-guest/ is not made here: it is the guest of tests/vm, captured with
# QK_VM_CAPTURE_SYSFS=$PWD/qemu-guest tests/vm/run_vm_test.sh BUILD_DIR.
set -e
cd "$(dirname "$0")"

PCI=devices/pci0000:00

# attr DIR NAME VALUE
attr() { mkdir -p "$1"; printf '%s\n' "$3" > "$1/$2"; }

# link NAME TARGET-DIR (relative to the tree): a symlink from NAME to TARGET
link() {
  mkdir -p "$(dirname "$1")"
  ln -sfn "$(realpath -m --relative-to="$(dirname "$1")" "$2")" "$1"
}

# usbdev TREE DIR NAME BUS DEVNUM SPEED CLASS VID PID [SERIAL] [MAXCHILD]
usbdev() {
  local d="$1/$2"
  attr "$d" busnum "$4"; attr "$d" devnum "$5"; attr "$d" speed "$6"
  attr "$d" bDeviceClass "$7"; attr "$d" idVendor "$8"; attr "$d" idProduct "$9"
  [ -n "${10}" ] && attr "$d" serial "${10}"
  attr "$d" maxchild "${11:-0}"
  link "$1/bus/usb/devices/$3" "$1/$2"
}

# disk TREE USBDIR IFACE DRIVER HOST LUN NAME [TYPE]: a mass-storage interface with
# one disk (SCSI peripheral type, 0 = direct access) and its generic node sgHOST
disk() {
  local i="$1/$2/$3"
  attr "$i" bInterfaceClass 08
  mkdir -p "$1/bus/usb/drivers/$4"
  link "$i/driver" "$1/bus/usb/drivers/$4"
  link "$1/bus/usb/devices/$3" "$i"
  local s="$i/host$5/target$5:0:0/$5:0:0:$6"
  attr "$s" type "${8:-0}"
  attr "$s/scsi_generic/sg$5" dev "21:$5"
  link "$1/class/scsi_generic/sg$5" "$s/scsi_generic/sg$5"
  link "$s/scsi_generic/sg$5/device" "$s"
  local b="$s/block/$7"
  attr "$b" dev "8:$((16 * $6))"
  attr "$b" size 2000000
  link "$b/device" "$s"
  link "$1/class/block/$7" "$b"
}

# hid TREE USBDIR IFACE: a non-storage interface
hid() {
  attr "$1/$2/$3" bInterfaceClass 03
  mkdir -p "$1/bus/usb/drivers/usbhid"
  link "$1/$2/$3/driver" "$1/bus/usb/drivers/usbhid"
}

rm -rf two-roots ext-hub mixed stable-order

# Two root hubs of 4 and 6 ports with nothing behind them.
T=two-roots
usbdev $T $PCI/0000:00:14.0/usb1 usb1 1 1 480 09 1d6b 0002 0000:00:14.0 4
usbdev $T $PCI/0000:00:14.0/usb2 usb2 2 1 5000 09 1d6b 0003 0000:00:14.0 6

# A root hub of 4 ports, a 7-port hub on port 2 and a drive on port 4.
T=ext-hub
R=$PCI/0000:00:14.0/usb1
usbdev $T $R usb1 1 1 480 09 1d6b 0002 0000:00:14.0 4
usbdev $T $R/1-2 1-2 1 2 480 09 05e3 0608 "" 7
usbdev $T $R/1-4 1-4 1 3 480 00 abcd 1234 QK0001
disk $T $R/1-4 1-4:1.0 usb-storage 3 0 sdb
# The drive's hub port, whose `disable` switches it off and on.
attr $T/$R/1-0:1.0/usb1-port4 disable 0
link $T/$R/1-4/port $T/$R/1-0:1.0/usb1-port4

# Hubs of every kind, disks that are and are not ours.
T=mixed
R=$PCI/0000:00:14.0/usb1
usbdev $T $R usb1 1 1 480 09 1d6b 0002 0000:00:14.0 4
usbdev $T $R/1-1 1-1 1 2 480 09 05e3 0610 "" 4
usbdev $T $R/1-1/1-1.2 1-1.2 1 3 480 00 abcd 1234 QK0002
disk $T $R/1-1/1-1.2 1-1.2:1.0 usb-storage 4 0 sdb
usbdev $T $R/1-1/1-1.3 1-1.3 1 4 5000 00 ABCD 5678 QK0003
disk $T $R/1-1/1-1.3 1-1.3:1.0 uas 5 0 sdc
usbdev $T $R/1-2 1-2 1 5 12 00 046d c077
hid $T $R/1-2 1-2:1.0
usbdev $T $R/1-3 1-3 1 6 480 00 abcd 9999 TWOLUN
disk $T $R/1-3 1-3:1.0 usb-storage 6 0 sdd
attr $T/$R/1-3/1-3:1.0/host6/target6:0:0/6:0:0:1/block/sde dev 8:64
link $T/class/block/sde $T/$R/1-3/1-3:1.0/host6/target6:0:0/6:0:0:1/block/sde
R2=$PCI/0000:00:1d.0/usb2
usbdev $T $R2 usb2 2 1 12 09 1d6b 0001 0000:00:1d.0 2
usbdev $T $R2/2-1 2-1 2 2 12 00 abcd 1111 OLD
disk $T $R2/2-1 2-1:1.0 usb-storage 7 0 sdf
R3=$PCI/0000:00:14.0/usb3
usbdev $T $R3 usb3 3 1 5000 09 1d6b 0003 0000:00:14.0 2
usbdev $T $R3/3-2 3-2 3 2 5000 00 abcd 1234 QK0009
disk $T $R3/3-2 3-2:1.0 uas 8 0 sdg
A=$T/$PCI/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda
attr $A dev 8:0
attr $A/sda1 partition 1
link $T/class/block/sda $A
link $T/class/block/sda1 $A/sda1

# Bus numbers against controller order: usb1 sits on a card behind a bridge,
# usb2 and usb3 on the chipset's controller. A CD-ROM on 2-2 is no disk.
T=stable-order
C=$PCI/0000:00:1c.0/0000:03:00.0
usbdev $T $C/usb1 usb1 1 1 480 09 1d6b 0002 0000:03:00.0 2
usbdev $T $C/usb1/1-1 1-1 1 2 480 00 abcd 1234 QK0011
disk $T $C/usb1/1-1 1-1:1.0 usb-storage 2 0 sdb
R=$PCI/0000:00:14.0
usbdev $T $R/usb3 usb3 3 1 5000 09 1d6b 0003 0000:00:14.0 2
usbdev $T $R/usb2 usb2 2 1 480 09 1d6b 0002 0000:00:14.0 3
usbdev $T $R/usb2/2-2 2-2 2 2 480 00 abcd 2222 CDROM
disk $T $R/usb2/2-2 2-2:1.0 usb-storage 3 0 sr0 5
usbdev $T $R/usb2/2-3 2-3 2 3 480 00 abcd 1234 QK0012
disk $T $R/usb2/2-3 2-3:1.0 usb-storage 4 0 sdc
