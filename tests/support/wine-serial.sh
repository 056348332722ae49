#!/bin/bash
# Runs a Windows test program under Wine with its serial ports on a
# pseudo-terminal pair: COM1 (the port under test) and COM2 (the module side,
# played by the test) are the two ends of a socat pair.
#   tests/support/wine-serial.sh path/to/program.exe [arguments...]
#
# Both ports are mapped with map_port (tests/support/wine-env.sh); the
# program is not started unless both mappings are in force.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/support/wine-env.sh
source "$here/wine-env.sh"

[ $# -ge 1 ] || { echo "usage: $0 program.exe [arguments...]" >&2; exit 2; }
command -v socat >/dev/null || { echo "wine-serial.sh: socat is missing" >&2; exit 1; }

lines="$wine_repo/build/serial"
mkdir -p "$lines"
com1="$lines/com1"
com2="$lines/com2"
rm -f "$com1" "$com2"
socat "pty,raw,echo=0,link=$com1" "pty,raw,echo=0,link=$com2" \
  >"$lines/socat.log" 2>&1 </dev/null &
socat_pid=$!
trap 'kill $socat_pid 2>/dev/null || true; wait $socat_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -e "$com1" ] && [ -e "$com2" ] && break
  sleep 0.1
done
[ -e "$com1" ] && [ -e "$com2" ] || { echo "wine-serial.sh: socat made no pty pair" >&2; exit 1; }

map_port COM1 "$com1" || exit 1
map_port COM2 "$com2" || exit 1

bash "$wine_run" "$@"
