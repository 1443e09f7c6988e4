#!/usr/bin/env bash
# Checks a built package: its files, its install scripts, and that the programs
# it carries start from where the package puts them. Usage: check-package.sh DEB
set -euo pipefail
deb=$1
fail=0
check() { if eval "$2"; then echo "package: PASS $1"; else echo "package: FAIL $1"; fail=1; fi; }

list=$(dpkg-deb -c "$deb")
for f in ./opt/qkstation/qkstation ./opt/qkstation/qkstation-cli ./opt/qkstation/QKMassProd.ini \
         ./opt/qkstation/Flash.ini ./opt/qkstation/SYS_S.bin ./opt/qkstation/SYS_U.bin ./opt/qkstation/GDP.bin \
         ./opt/qkstation/satatest.bin ./usr/lib/udev/rules.d/70-qkstation.rules \
         ./usr/share/applications/qkstation.desktop ./usr/share/man/man1/qkstation.1 \
         ./usr/share/man/man1/qkstation-cli.1 ./usr/bin/qkstation-cli ./usr/bin/qkstation; do
  check "contains $f" "grep -q -- ' $f\( ->\|\$\)' <<<\"\$list\""
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -e "$deb" "$work/control"
dpkg-deb -x "$deb" "$work/root"
check "postinst sets the capability" "grep -q 'setcap cap_sys_rawio+ep' '$work/control/postinst'"
check "postinst makes the group" "grep -q 'addgroup --system qkstation' '$work/control/postinst'"
check "depends on setcap's package" "grep -q 'libcap2-bin' '$work/control/control'"
check "udev rule names the group" "grep -q 'GROUP=\"qkstation\"' '$work/root/usr/lib/udev/rules.d/70-qkstation.rules'"
check "desktop entry starts the window" "grep -q '^Exec=qkstation$' '$work/root/usr/share/applications/qkstation.desktop'"
check "manual page carries the commands" "grep -q '^\.SS doctor' '$work/root/usr/share/man/man1/qkstation-cli.1'"
check "the window's manual page" "grep -q -- '--bench FILE' '$work/root/usr/share/man/man1/qkstation.1'"
check "the command line runs from the package" "'$work/root/opt/qkstation/qkstation-cli' --help >/dev/null"
check "its data files pass the check" "'$work/root/opt/qkstation/qkstation-cli' --home '$work/root/opt/qkstation' files >/dev/null 2>&1"
exit $fail
