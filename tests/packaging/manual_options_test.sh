#!/usr/bin/env bash
# Each manual documents exactly the options its program's --help lists: an
# option added to the program without a word in the manual fails here, and
# so does a manual that describes an option the program no longer has.
#
# Usage: manual_options_test.sh MANUAL_FOLDER PROGRAM...
set -euo pipefail

manuals=$1
shift
status=0
for program in "$@"; do
  name=$(basename "$program")
  help=$("$program" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
  # Option entries of the scdoc source: a line that starts with *--name*.
  manual=$(grep -oE -- '^\*--[a-z][a-z-]*\*' "$manuals/$name.1.scd" | tr -d '*' | sort -u)
  if [ -z "$help" ]; then
    echo "manuals: FAIL: $name --help lists no options" >&2
    status=1
  fi
  missing=$(comm -23 <(echo "$help") <(echo "$manual"))
  extra=$(comm -13 <(echo "$help") <(echo "$manual"))
  if [ -n "$missing" ]; then
    echo "manuals: FAIL: $name(1) does not describe: $missing" >&2
    status=1
  fi
  if [ -n "$extra" ]; then
    echo "manuals: FAIL: $name(1) describes options --help does not list: $extra" >&2
    status=1
  fi
done
[ "$status" = 0 ] && echo "manuals: OK"
exit "$status"
