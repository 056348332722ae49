#!/bin/bash
# Lists the mutable globals of the program's own code (src/) in a POSIX build:
# the data objects in writable sections (.data, .bss; not .data.rel.ro) of its
# libraries as last built (libdcfcore.a, libdcfdriver.a; no test code, and no
# object left behind by a source file since removed), without
# the compiler's guard variables; and their count on the last line.
# Usage: scripts/count-globals.sh [BUILD_DIR]   (default build/native)
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$repo/build/native}
list=$(nm -C --defined-only -f sysv "$build/libdcfcore.a" "$build/libdcfdriver.a" 2>/dev/null |
  awk -F'|' '$4 ~ /OBJECT/ && $7 ~ /^ *\.(data|bss)/ && $7 !~ /rel\.ro/ {
    gsub(/ +$/, "", $1); gsub(/^ +| +$/, "", $7); print $1 " " $7 }' |
  grep -v 'guard variable' | sort -u)
printf '%s\n' "$list"
echo "$(printf '%s\n' "$list" | grep -c .) mutable globals"
