#!/bin/bash
# Runs a Windows test program under Wine with its serial ports on a
# pseudo-terminal pair: COM1 (the port under test) and COM2 (the module side,
# played by the test) are the two ends of a socat pair.
#   tests/support/wine-serial.sh path/to/program.exe [arguments...]
#
# The ports are mapped through the registry (HKLM\Software\Wine\Ports), which
# Wine reads when its server starts; a symlink under dosdevices would be
# rewritten by Wine. The server is restarted when the mapping changes. COM
# numbers without a mapping reach this machine's real serial devices, so the
# program is not started unless both mappings are in force.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
run="$here/cmake/wine-run.sh"
export WINEPREFIX="$here/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

[ $# -ge 1 ] || { echo "usage: $0 program.exe [arguments...]" >&2; exit 2; }
command -v socat >/dev/null || { echo "wine-serial.sh: socat is missing" >&2; exit 1; }

lines="$here/build/serial"
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

# The registry text of one port's mapping, or nothing.
mapping() {
  bash "$run" reg query 'HKLM\Software\Wine\Ports' /v "$1" 2>/dev/null </dev/null |
    tr -d '\r' | awk -v k="$1" '$1 == k { print $3 }'
}
changed=0
for port in COM1:"$com1" COM2:"$com2"; do
  name=${port%%:*} target=${port#*:}
  if [ "$(mapping "$name")" != "$target" ]; then
    bash "$run" reg add 'HKLM\Software\Wine\Ports' /v "$name" /d "$target" /f \
      >/dev/null 2>&1 </dev/null
    changed=1
  fi
done
if [ "$changed" = 1 ]; then
  wineserver -k >/dev/null 2>&1 </dev/null || true
  wineserver -w >/dev/null 2>&1 </dev/null || true
  # Starting any program brings the server and its port mapping back.
  bash "$run" cmd /c exit >/dev/null 2>&1 </dev/null || true
fi
for port in com1:"$com1" com2:"$com2"; do
  name=${port%%:*} target=${port#*:}
  link=$(readlink "$WINEPREFIX/dosdevices/$name" || true)
  if [ "$link" != "$target" ]; then
    echo "wine-serial.sh: $name maps to '$link', not $target; not running" >&2
    exit 1
  fi
done

bash "$run" "$@"
