# Sourced by the guest's init after the production runs: the Linux backend on a
# real line. A hung drive, the system's udev daemon watching the disks, an
# operator without root, and the speed of the station's disk access.

uptime_s() { read -r _up _ < /proc/uptime; echo "$_up"; }
# Each input line with the guest's uptime in front (no process per line).
stamp() { while IFS= read -r _l; do read -r _up _ < /proc/uptime; echo "$_up $_l"; done; }

# --- a drive that stops answering in the middle of a run (its 21st vendor
# command, a read with the USB path's 300 s time-out, is never answered): the
# port's time-out (the profile's shortest, 1 minute) cuts it off, and the run
# ends within 5 s of it; the other drive's verdict is the bench's.
start_gadget 1 /qk/data/vm-hang.bench Drive1
start_gadget 2 /qk/data/vm-hang.bench Drive2
if wait_for 30 'disk_of 3-1 >/dev/null && disk_of 4-1 >/dev/null'; then
  sed 's/^TimeOut=.*/TimeOut=1/' /qk/data/line.ini > /qk/bin/line-hang.ini
  { QK_DEBUG=1 $CLI --profile line-hang.ini --json run 2>&1 > /tmp/run-hang.json; echo "exit $?"; } |
    stamp > /tmp/run-hang.err
  grep -E "Port1[78]: (time-out|device reset|USB port reset)|^[0-9.]+ exit" /tmp/run-hang.err | sed 's/^/QKVM INFO hang /'
  ports_of /tmp/run-hang.json > /tmp/ports-hang.txt
  if sed -n 1p /tmp/ports-hang.txt | grep -q '"failureText":"Timeout","resultCode":26,.*"slot":17,'; then
    pass "hung-drive-timed-out"
  else
    fail "hung-drive-timed-out" "guest: $(cat /tmp/ports-hang.txt)"
  fi
  # The other drive's port object is the one the bench made of the same run.
  if [ "$(sed -n 2p /tmp/ports-hang.txt)" = "$(sed -n 2p /qk/data/expect-hang.txt)" ] && [ -s /tmp/ports-hang.txt ]; then
    pass "hung-drive-other-verdict-untouched"
  else
    fail "hung-drive-other-verdict-untouched" "guest: $(cat /tmp/ports-hang.txt) bench: $(cat /qk/data/expect-hang.txt)"
  fi
  t_out=$(grep -m1 "Port17: time-out after" /tmp/run-hang.err | cut -d" " -f1)
  t_end=$(grep -m1 -E "^[0-9.]+ exit " /tmp/run-hang.err | cut -d" " -f1)
  if [ -n "$t_out" ] && [ -n "$t_end" ]; then
    release=$(awk -v a="$t_out" -v b="$t_end" 'BEGIN { printf "%.2f", b - a }')
    echo "QKVM HUNG release=${release}s"
    if awk -v r="$release" 'BEGIN { exit !(r <= 5) }'; then
      pass "hung-drive-released-within-5s"
    else
      fail "hung-drive-released-within-5s" "${release}s: $(tr '\n' '|' < /tmp/run-hang.err | tail -c 1500)"
    fi
  else
    fail "hung-drive-released-within-5s" "no time-out or end: $(tr '\n' '|' < /tmp/run-hang.err | tail -c 1500)"
  fi
else
  fail "hung-drive-timed-out" "$(ls /sys/bus/usb/devices | tr '\n' ' ') / $(cat /tmp/gadget*.log)"
fi
stop_gadget 1
stop_gadget 2

# --- the system's udev daemon watches every disk: closing a block node opened
# read-write makes it re-probe the disk ("change"). The station's commands go
# through the disk's generic node and cause none.
mkdir -p /run/udev /etc/udev/rules.d
/lib/systemd/systemd-udevd --daemon > /tmp/udevd.log 2>&1
udevd_up=0
wait_for 10 'udevadm control --ping 2>/dev/null' && udevd_up=1
start_gadget 1 /qk/data/vm-usb.bench Drive1
if [ $udevd_up = 1 ] && wait_for 30 'disk_of 3-1 >/dev/null'; then
  D=$(disk_of 3-1)
  # A re-probe shows as a change of the disk, or as its partitions removed and
  # added again when udev re-reads the table.
  ev="(change|remove|add).*/block/${D#/dev/}( |/)"
  # A read-write open and close of the block node, seen by udev within 10 s.
  close_seen() { exec 5<>$D; exec 5>&-; wait_for 10 "grep -Eq '$ev' $1"; }
  udev_state() { echo "settle rc $settled; watches: $(ls -l /run/udev/watch 2>&1 | tr '\n' ' '); udevd: $(cat /tmp/udevd.log)"; }
  # udevd can lose its watch on a disk that gets events back to back as it
  # appears; a change event handled on its own sets the watch again. The
  # watch is proven before the station's commands and after them.
  armed=0
  for _try in 1 2 3; do
    udevadm trigger --action=change "$D"
    settled=0; udevadm settle --timeout=30 || settled=$?
    udevadm monitor --kernel --subsystem-match=block > /tmp/uevents-arm.txt 2>&1 &
    monitor=$!
    sleep 1
    close_seen /tmp/uevents-arm.txt && armed=1
    kill $monitor; wait $monitor 2>/dev/null
    [ $armed = 1 ] && break
  done
  echo "QKVM INFO udev watch armed=$armed after $_try tries"
  settled=0; udevadm settle --timeout=30 || settled=$?
  udevadm monitor --kernel --subsystem-match=block > /tmp/uevents.txt 2>&1 &
  monitor=$!
  sleep 1
  cli_check udev-station-commands rwtest 17 --quick -- "^Port17: Pass" "^exit 0"
  $CLI scan > /tmp/udev-scan.txt 2>&1
  $CLI probe 17 > /tmp/udev-probe.txt 2>&1
  sleep 2  # a re-probe follows a close at once; give it time to show
  if [ $armed = 0 ]; then
    fail "udev-no-change-from-station" "udev never watched the disk: $(tr '\n' '|' < /tmp/uevents-arm.txt) $(udev_state)"
  elif grep -Eq "$ev" /tmp/uevents.txt; then
    fail "udev-no-change-from-station" "$(tr '\n' '|' < /tmp/uevents.txt)"
  else
    pass "udev-no-change-from-station"
  fi
  # The check can fail: the watch still holds after the station's commands.
  if close_seen /tmp/uevents.txt; then
    pass "udev-change-from-block-node-close"
  else
    fail "udev-change-from-block-node-close" "$(tr '\n' '|' < /tmp/uevents.txt) $(udev_state)"
  fi
  kill $monitor; wait $monitor 2>/dev/null
else
  fail "udev-no-change-from-station" "udevd $udevd_up: $(cat /tmp/udevd.log) / $(cat /tmp/gadget1.log)"
fi

# --- an operator without root: the station names what is missing; given the
# group (the package's udev rule sets the nodes' group), and the capability on
# the program, the same operator works. The capability needs a file system
# with security attributes: /tmp's tmpfs has them.
add_operator
D=$(disk_of 3-1)
SG=/dev/$(ls /sys/block/${D#/dev/}/device/scsi_generic)
rm -rf /tmp/ophome; mkdir /tmp/ophome; cp /qk/bin/*.ini /qk/bin/*.bin /tmp/ophome; chown -R 1000:1000 /tmp/ophome
as_op() { su -s /bin/sh -c "$*" op; }
as_op /qk/bin/qkstation-cli --home /tmp/ophome scan > /tmp/op-none.txt 2>&1
check "op-no-access-named" /tmp/op-none.txt "^No permission: $SG cannot be opened read-write"
grep -q "^qkstation:" /etc/group || echo "qkstation:x:990:op" >> /etc/group
cp /qk/data/70-qkstation.rules /etc/udev/rules.d/
udevadm control --reload
udevadm trigger --action=add --subsystem-match=block --subsystem-match=scsi_generic
udevadm settle --timeout=30
if [ "$(stat -c %G:%a $SG)" = qkstation:660 ] && [ "$(stat -c %G:%a $D)" = qkstation:660 ]; then
  pass "op-rule-sets-group"
else
  fail "op-rule-sets-group" "$(ls -l $SG $D)"
fi
# Disk commands need only the node; the drive's vendor commands need the capability.
# With the group the generic node opens read-write, and the kernel lets any
# command through such a handle: the vendor commands work even before the
# capability is given (it matters for a disk without a generic node).
as_op /qk/bin/qkstation-cli --home /tmp/ophome autodetect > /tmp/op-group.txt 2>&1
check "op-group-vendor-commands" /tmp/op-group.txt "^Port17:" "WBG"
if grep -q "No permission" /tmp/op-group.txt; then fail "op-group-no-permission-message" "$(cat /tmp/op-group.txt)"; fi
mkdir -p /tmp/opbin; cp /qk/bin/qkstation-cli /tmp/opbin/; chmod 755 /tmp/opbin /tmp/opbin/qkstation-cli
if setcap cap_sys_rawio+ep /tmp/opbin/qkstation-cli 2>/tmp/setcap.err; then
  as_op /tmp/opbin/qkstation-cli --home /tmp/ophome scan > /tmp/op-works.txt 2>&1
  if grep -q "^Port17: active $D bridge " /tmp/op-works.txt && ! grep -q "No permission" /tmp/op-works.txt; then
    pass "op-group-and-capability-scan"
  else
    fail "op-group-and-capability-scan" "$(getcap /tmp/opbin/qkstation-cli) $(tr '\n' '|' < /tmp/op-works.txt)"
  fi
  as_op /tmp/opbin/qkstation-cli --home /tmp/ophome autodetect > /tmp/op-detail.txt 2>&1
  echo "exit $?" >> /tmp/op-detail.txt
  if grep -q "^exit 0" /tmp/op-detail.txt && grep -q "WBG" /tmp/op-detail.txt && ! grep -q "No permission" /tmp/op-detail.txt; then
    pass "op-group-and-capability-vendor-commands"
  else
    fail "op-group-and-capability-vendor-commands" "$(tr '\n' '|' < /tmp/op-detail.txt)"
  fi
else
  fail "op-group-and-capability-scan" "setcap: $(cat /tmp/setcap.err)"
fi

# --- speed through the real kernel, a measurement: the station's write+verify
# of N % of the drive against dd writing and reading the same amount with
# direct I/O in the same transfer size, best of two rounds each. The station's
# figure is its R/W test's own time (its debug log) less the test's fixed 3 s
# pause between the passes: the start of the program (scan, identify) is not
# the disk access being compared.
now_cs() { tr -d . < /proc/uptime | cut -d" " -f1; }
pct=4 bs=65536
bytes=$(( $(cat /sys/block/${D#/dev/}/size) * 512 * pct / 100 ))
best_s=999999 best_d=999999
for round in 1 2; do
  QK_DEBUG=1 $CLI rwtest 17 --percent $pct > /tmp/rate.txt 2> /tmp/rate.err
  ms=$(sed -n 's/^Port17: R\/W test took \([0-9]*\) ms$/\1/p' /tmp/rate.err)
  t0=$(now_cs)
  dd if=/dev/zero of=$D bs=$bs count=$((bytes / bs)) oflag=direct 2>/dev/null
  dd if=$D of=/dev/null bs=$bs count=$((bytes / bs)) iflag=direct 2>/dev/null
  t1=$(now_cs)
  s=$(( (${ms:-999999} - 3000) / 10 ))
  [ $s -lt $best_s ] && best_s=$s
  [ $((t1 - t0)) -lt $best_d ] && best_d=$((t1 - t0))
  echo "QKVM INFO rate round $round bytes=$bytes station=${s}cs dd=$((t1 - t0))cs"
done
grep -q "^Port17: Pass" /tmp/rate.txt && pass "rwtest-percent" || fail "rwtest-percent" "$(cat /tmp/rate.txt /tmp/rate.err)"
awk -v b=$bytes -v s=$best_s -v d=$best_d 'BEGIN {
  if (s < 1) s = 1; if (d < 1) d = 1
  st = 2 * b / 1048576 / (s / 100); dr = 2 * b / 1048576 / (d / 100)
  printf "QKVM RATE station=%.2f dd=%.2f ratio=%.2f\n", st, dr, st / dr }'

kill $(pidof systemd-udevd) 2>/dev/null
stop_gadget 1
