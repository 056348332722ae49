#!/bin/bash
# Builds dcfsync and runs it against the receiver simulator, so it can be
# seen at work without a receiver:
#   scripts/demo.sh [POLLS]        (default 3 polls)
#
# On a fresh Debian machine it installs what the build needs (as root, with
# apt-get). It then builds the POSIX program and the simulator, puts a copy of
# dcfsync with its settings file dcfsync.ini into build/demo/, starts the
# simulator on a pseudo-terminal there, and runs dcfsync polling without
# pause; after POLLS polls it presses Ctrl-C for you. Clock setting is off:
# the demonstration never touches the clock. The console output is dcfsync's
# own; the log file build/demo/dcfsync.log is shown at the end.
#
# The receiver sends German legal time; the program runs in that time zone
# (TZ=CET-1CEST,M3.5.0,M10.5.0/3) unless TZ is set, so its log shows the
# receiver's time. In any zone the difference it reports is a few
# milliseconds, what is left of the time an answer takes.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
polls=${1:-3}
case "$polls" in
  ''|*[!0-9]*|0) echo "usage: scripts/demo.sh [POLLS]  (POLLS: 1 or more)" >&2; exit 2 ;;
esac

# shellcheck source=scripts/packages.sh
source "$repo/scripts/packages.sh"
need_cmd cmake cmake
need_cmd make make
need_cmd g++ g++
install_missing demo.sh || exit 1

mkdir -p build
echo "demo.sh: building dcfsync and the simulator (build/native)"
# Only what the demonstration runs: the tests are left out of this configure.
cmake --preset native -DDCF_BUILD_TESTS=OFF >build/demo-configure.log 2>&1 || { cat build/demo-configure.log; exit 1; }
cmake --build --preset native -j2 --target dcfsync dcfsim >build/demo-build.log 2>&1 ||
  { tail -n 40 build/demo-build.log; exit 1; }

demo=$repo/build/demo
mkdir -p "$demo"
rm -f "$demo/dcfsync.log" "$demo/dcfsync.dat"
# A copy, not a link: dcfsync looks for its files beside its own executable.
cp build/native/dcfsync "$demo/dcfsync"

sim_pid= prog_pid=
cleanup() {
  [ -n "$prog_pid" ] && kill -KILL "$prog_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
}
trap cleanup EXIT

# The pseudo-terminal path itself: it fits the port setting (29 characters).
build/native/tools/dcfsim/dcfsim >"$demo/dcfsim.out" 2>"$demo/dcfsim.err" &
sim_pid=$!
for _ in $(seq 50); do [ -s "$demo/dcfsim.out" ] && break; sleep 0.1; done
port=$(head -n 1 "$demo/dcfsim.out")
[ -n "$port" ] || { echo "demo.sh: the simulator did not start:" >&2; cat "$demo/dcfsim.err" >&2; exit 1; }

cat >"$demo/dcfsync.ini" <<INI
[init]
port=$port
baud=19200
timer=0
TimerEnable=1
WriteLog=1
WriteData=1
DCFSetTime=0
TimerGetDecodedTime=0
INI
echo "demo.sh: simulator on $port; settings in $demo/dcfsync.ini:"
sed 's/^/    /' "$demo/dcfsync.ini"
echo "demo.sh: running $demo/dcfsync"
echo

export TZ=${TZ:-CET-1CEST,M3.5.0,M10.5.0/3}
"$demo/dcfsync" &
prog_pid=$!
# Ctrl-C once the wanted number of polls is in the log (or after a minute).
for _ in $(seq 600); do
  done_polls=$(grep -c -e 'ContValidTime' -e 'Receive error!' -e 'Bad ' "$demo/dcfsync.log" 2>/dev/null || true)
  [ "${done_polls:-0}" -ge "$polls" ] && break
  kill -0 "$prog_pid" 2>/dev/null || break
  sleep 0.1
done
kill -INT "$prog_pid" 2>/dev/null || true
status=0
wait "$prog_pid" || status=$?
prog_pid=
echo
echo "demo.sh: dcfsync ended with exit status $status (3: ended by Ctrl-C)"
echo "demo.sh: $demo/dcfsync.log:"
sed 's/^/    /' "$demo/dcfsync.log"
if [ -s "$demo/dcfsync.dat" ]; then
  echo "demo.sh: $demo/dcfsync.dat:"
  sed 's/^/    /' "$demo/dcfsync.dat"
fi
