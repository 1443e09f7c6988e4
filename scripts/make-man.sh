#!/usr/bin/env bash
# Writes a manual page from a program's --help text (and, for a program with
# commands, each command's --help), so the two never tell different stories.
# Usage: make-man.sh PROGRAM NAME SECTION-TITLE OUT
set -euo pipefail
prog=$1 name=$2 title=$3 out=$4

# roff: a leading dot or quote starts a request; backslashes escape.
esc() { sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"; }

help=$(QT_QPA_PLATFORM=offscreen "$prog" --help)
{
  echo ".TH $(echo "$name" | tr a-z A-Z) 1 \"\" \"QK Station\" \"$title\""
  echo ".SH NAME"
  echo "$name \\- $(printf '%s\n' "$help" | head -n1 | esc)"
  echo ".SH DESCRIPTION"
  echo ".nf"
  printf '%s\n' "$help" | tail -n +2 | esc
  echo ".fi"
  # Commands listed under "Subcommands:" get a section each.
  cmds=$(printf '%s\n' "$help" | awk '/^Subcommands:/{on=1; next} on && /^  [a-z]/{print $1} on && /^$/{on=0}')
  if [ -n "$cmds" ]; then
    echo ".SH COMMANDS"
    for c in $cmds; do
      echo ".SS $c"
      echo ".nf"
      "$prog" "$c" --help | esc
      echo ".fi"
    done
  fi
} > "$out"
