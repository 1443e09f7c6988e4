#!/bin/sh
# Assembles tools/mbr_boot.S (linked for 0x600) and prints it as a C++ initialiser.
set -e
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
as --32 -o "$dir/mbr.o" "$(dirname "$0")/mbr_boot.S"
ld -m elf_i386 -Ttext=0x600 --oformat binary -e _start -o "$dir/mbr.bin" "$dir/mbr.o"
size=$(stat -c %s "$dir/mbr.bin")
[ "$size" -le 440 ] || { echo "boot code too long: $size" >&2; exit 1; }
od -An -v -tx1 "$dir/mbr.bin" | sed 's/ \([0-9a-f][0-9a-f]\)/0x\1, /g; s/^/    /'
