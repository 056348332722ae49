#!/bin/bash
# Lists the mutable globals of the program's own code (src/) in a POSIX build:
# the data objects in writable sections (.data, .bss; not .data.rel.ro) of the
# object files of its libraries (dcfcore, dcfdriver; no test code), without
# the compiler's guard variables; and their count on the last line.
# Usage: scripts/count-globals.sh [BUILD_DIR]   (default build/native)
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$repo/build/native}
list=$(find "$build/CMakeFiles/dcfcore.dir" "$build/CMakeFiles/dcfdriver.dir" -name '*.o' |
  sort | xargs nm -C --defined-only -f sysv 2>/dev/null |
  awk -F'|' '$4 ~ /OBJECT/ && $7 ~ /^ *\.(data|bss)/ && $7 !~ /rel\.ro/ {
    gsub(/ +$/, "", $1); gsub(/^ +| +$/, "", $7); print $1 " " $7 }' |
  grep -v 'guard variable' | sort -u)
printf '%s\n' "$list"
echo "$(printf '%s\n' "$list" | grep -c .) mutable globals"
