#!/bin/bash
# The road to the network's clients, end to end on this machine:
#   lan.sh CHRONYD CHRONYC DCFSYNC DCFSIM
# the simulator -> dcfsync (the package's build) -> chronyd "server" through
# its SOCK reference clock, serving NTP on 127.0.0.1 with allow and local
# stratum -> a second chronyd "client" on the same machine with that server
# as its only source. Both daemons run with -x (the clock is never touched)
# and without CAP_SYS_TIME, each in a private directory of its own (mode
# 0700: configuration, sockets, pid file, output), and are stopped by their
# pids, as is everything started here. Prints "ok NAME" or "FAILED NAME" a
# check and details indented; the client's measured offset among them.
set -uo pipefail
export LC_ALL=C

chronyd=$1 chronyc=$2 dcfsync=$3 dcfsim=$4
work=$(mktemp -d /tmp/dcfsync-lan.XXXXXX)  # short: socket paths must fit
chmod 0700 "$work"
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
ok() { echo "ok $*"; }
failed() { echo "FAILED $*"; }
detail() { sed 's/^/  /' "$@"; }
nocap=(setpriv --inh-caps=-sys_time --bounding-set=-sys_time)

# A UDP port on 127.0.0.1 nobody has bound (/proc/net/udp lists them in hex).
free_port() {
  local p
  for p in $(shuf -i 20000-40000 -n 50); do
    grep -qi ":$(printf '%04X' "$p") " /proc/net/udp /proc/net/udp6 2>/dev/null || { echo "$p"; return; }
  done
  return 1
}
# start_chronyd NAME CONFIGURATION: in $work/NAME, in the foreground (-d).
start_chronyd() {
  local dir=$work/$1
  mkdir -m 0700 "$dir"
  printf '%s\npidfile %s/chronyd.pid\nbindcmdaddress %s/chronyc.sock\ncmdport 0\n' \
    "$2" "$dir" "$dir" >"$dir/chrony.conf"
  "${nocap[@]}" "$chronyd" -x -d -u root -f "$dir/chrony.conf" >"$dir/out.txt" 2>&1 </dev/null &
  pids+=($!)
}
# sources NAME: "chronyc -c sources" of that daemon.
sources() { "$chronyc" -h "$work/$1/chronyc.sock" -n -c sources 2>/dev/null; }

port=$(free_port) || { failed "no free UDP port on 127.0.0.1"; exit 0; }
mkdir -m 0700 "$work/sim" "$work/prog"
"$dcfsim" >"$work/sim/out.txt" 2>"$work/sim/err.txt" </dev/null &
pids+=($!)
for _ in $(seq 50); do line=$(head -n 1 "$work/sim/out.txt" 2>/dev/null); [ -n "$line" ] && break; sleep 0.1; done
[ -n "${line:-}" ] || { failed "the simulator did not start"; detail "$work/sim/err.txt"; exit 0; }

start_chronyd server "refclock SOCK $work/server/dcf.sock refid DCF poll 0 filter 1 delay 0.02
allow 127.0.0.1
bindaddress 127.0.0.1
port $port
local stratum 10"
for _ in $(seq 100); do [ -S "$work/server/dcf.sock" ] && break; sleep 0.1; done

cp "$dcfsync" "$work/prog/dcfsync"
printf '[init]\nport=%s\ntimer=0\nTimerEnable=1\nValidDateTimeCount=1\nDCFSetTime=0\nChronySocket=%s\n' \
  "$line" "$work/server/dcf.sock" >"$work/prog/dcfsync.ini"
TZ=UTC0 "${nocap[@]}" "$work/prog/dcfsync" >/dev/null 2>"$work/prog/err.txt" </dev/null &
pids+=($!)

# The server takes the feed as its reference: "*" (selected) at DCF, and
# its own stratum 1 ("chronyc -c tracking": id, name, stratum, ...).
selected=
for _ in $(seq 120); do
  tracking=$("$chronyc" -h "$work/server/chronyc.sock" -n -c tracking 2>/dev/null)
  selected=$(sources server | awk -F, '$3 == "DCF" && $2 == "*"')
  [ -n "$selected" ] && [ "$(echo "$tracking" | cut -d, -f3)" = 1 ] && break
  selected=
  sleep 0.5
done
if [ -n "$selected" ]; then
  ok "server chronyd (-x) selects dcfsync's feed and serves stratum 1: $selected"
else
  failed "server chronyd never selected the feed:"; sources server | detail; detail "$work/server/out.txt"
  tail -n 5 "$work/prog/dcfsync.log" 2>/dev/null | detail
  exit 0
fi

start_chronyd client "server 127.0.0.1 port $port iburst minpoll -2 maxpoll -2
port 0"
# Its source: mode,state,name,stratum,poll,reach,lastRx,offset,measured,error.
# Waits for four answers in a row (reach 17 octal) from the server at stratum 1.
row=
for _ in $(seq 120); do
  row=$(sources client | awk -F, '$3 == "127.0.0.1"')
  reach=$(echo "$row" | awk -F, '{ print $6 }')
  [ -n "$reach" ] && [ $((8#$reach & 15)) = 15 ] && [ "$(echo "$row" | cut -d, -f4)" = 1 ] && break
  sleep 0.5
done
stratum=$(echo "$row" | awk -F, '{ print $4 }')
offset=$(echo "$row" | awk -F, '{ print $9 }')
echo "  client's source: $row"
echo "  client's measured offset to the server: ${offset:-none} s"
if [ "$stratum" = 1 ]; then
  ok "client chronyd (-x) hears the server at stratum 1 (the receiver's time, not the local stratum)"
else
  failed "client: server at stratum '${stratum:-none}':"; sources client | detail; detail "$work/client/out.txt"
fi
if [ -n "$offset" ] && awk -v o="$offset" 'BEGIN { exit !(o < 0.005 && o > -0.005) }'; then
  ok "client's measured offset to the server $offset s, within 5 ms"
else
  failed "client's measured offset '${offset:-none}' not within 5 ms"
fi
if [ "$(grep -c 'chrony socket' "$work/prog/dcfsync.log")" = 0 ] && grep -q 'Time diff' "$work/prog/dcfsync.log"; then
  ok "dcfsync fed the server without a failure of the feed"
else
  failed "dcfsync's log:"; tail -n 20 "$work/prog/dcfsync.log" | detail
fi
exit 0
