#!/bin/bash
# The Debian package installed for real, run inside a throw-away root (an
# overlay of the build machine's root whose writes go to memory; made and
# entered by tests/package/package.sh, never run on a machine's own root):
#   installed.sh DEB VERSION PORT STUB
# DEB is the package, VERSION its version, PORT the simulator's terminal
# (group dialout may use it, as with a serial port), STUB the preloadable
# stand-in for clock_settime (tests/support/settime_stub.cpp). Prints one line a check,
# "ok NAME" or "FAILED NAME", and other lines as details; ends with status 0
# when it ran to its end.
set -uo pipefail
export LC_ALL=C

deb=$1 version=$2 port=$3 stub=$4
unit=/lib/systemd/system/dcfsync.service
ts='[0-3][0-9]\.[01][0-9]\.[0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9]'

# Refuse to run anywhere but in the throw-away root package.sh made: it
# marks that root, and only that root, with this file.
if [ ! -f /.dcfsync-throwaway-root ]; then
  echo "installed.sh: not in a throw-away root; nothing done" >&2
  exit 2
fi

ok() { echo "ok $*"; }
failed() { echo "FAILED $*"; }
check() {  # check NAME COMMAND...
  local name=$1; shift
  if "$@"; then ok "$name"; else failed "$name"; fi
}
detail() { sed 's/^/  /' "$@"; }

# --- Install -------------------------------------------------------------------
# First with a link planted where the log directory goes: postinst must
# refuse it and change nothing through it.
mkdir -p /tmp/victim && chmod 0755 /tmp/victim
ln -s /tmp/victim /var/log/dcfsync
if ! dpkg -i --no-triggers "$deb" >/tmp/dpkg-planted.log 2>&1 </dev/null &&
   grep -q "/var/log/dcfsync is not a directory" /tmp/dpkg-planted.log &&
   [ "$(stat -c '%U:%G %a' /tmp/victim)" = "root:root 755" ]; then
  ok "postinst refuses a link planted at /var/log/dcfsync, its target untouched"
else
  failed "postinst and a planted link:"; detail /tmp/dpkg-planted.log; ls -ld /tmp/victim | detail
fi
rm -f /var/log/dcfsync
if dpkg -i --no-triggers "$deb" >/tmp/dpkg-install.log 2>&1 </dev/null; then
  ok "dpkg -i installs dcfsync $version"
else
  failed "dpkg -i:"; detail /tmp/dpkg-install.log
  exit 1
fi
check "dpkg records version $version" test "$(dpkg-query -W -f='${Version}' dcfsync)" = "$version"

# The user: a system account in a system group of its own that cannot log in.
entry=$(getent passwd dcfsync)
IFS=: read -r _ _ uid gid _ home shell <<<"$entry"
group_id=$(getent group dcfsync | cut -d: -f3)
if [ -n "$entry" ] && [ "$uid" -lt 1000 ] && [ -n "$group_id" ] && [ "$gid" = "$group_id" ] &&
   [ "$gid" -lt 1000 ] && [ "$shell" = /usr/sbin/nologin ] && [ "$home" = /var/lib/dcfsync ]; then
  ok "postinst made the system user dcfsync (uid $uid) in its own group (gid $gid), no login"
else
  failed "user dcfsync: '$entry'"
fi
for dir in /var/log/dcfsync /var/lib/dcfsync; do
  check "postinst gave $dir to dcfsync:adm, 2750" \
    test "$(stat -c '%U:%G %a' "$dir")" = "dcfsync:adm 2750"
done
if ! ls /etc/systemd/system/*.wants/dcfsync.service >/dev/null 2>&1; then
  ok "the service is installed disabled"
else
  failed "the service is enabled: $(ls /etc/systemd/system/*.wants/dcfsync.service)"
fi

# --- The service ---------------------------------------------------------------
verify=$(systemd-analyze verify "$unit" 2>&1)
if [ $? -eq 0 ] && [ -z "$verify" ]; then ok "systemd-analyze verify: silent"
else failed "systemd-analyze verify:"; echo "$verify" | sed 's/^/  /'; fi

systemd-analyze security --offline=true dcfsync.service >/tmp/security.txt 2>&1
exposure=$(sed -n 's/.*Overall exposure level for dcfsync.service: \([0-9.]*\).*/\1/p' /tmp/security.txt)
if [ -n "$exposure" ] && awk -v e="$exposure" 'BEGIN { exit !(e <= 1.5) }'; then
  ok "systemd-analyze security --offline=true: exposure $exposure (at most 1.5)"
else
  failed "systemd-analyze security: exposure '$exposure', more than 1.5:"; grep -E '^ *(✗|-) ' /tmp/security.txt | detail
fi
# Setting the clock must stay possible: neither ProtectClock nor the
# capability's absence. (Failed points are marked "-" in the C locale.)
if grep -Eq '^ *(✗|-) ProtectClock=' /tmp/security.txt &&
   grep -Eq '^ *(✗|-) CapabilityBoundingSet=~CAP_SYS_TIME' /tmp/security.txt; then
  ok "the service may set the clock (no ProtectClock, CAP_SYS_TIME kept)"
else
  failed "the service cannot set the clock:"; grep -E 'ProtectClock|CAP_SYS_TIME' /tmp/security.txt | detail
fi

# The unit's own settings, as systemd reads them (last assignment wins;
# lists accumulate).
setting() { grep -E "^$1=" "$unit" | sed "s/^$1=//"; }
want=(
  "User=dcfsync" "Group=dcfsync" "SupplementaryGroups=dialout" "ExecStart=/opt/dcfsync/dcfsync"
  "StandardOutput=null" "StandardError=journal"
  "CapabilityBoundingSet=CAP_SYS_TIME" "AmbientCapabilities=CAP_SYS_TIME"
  "KillSignal=SIGINT" "SuccessExitStatus=3" "ProtectSystem=strict" "Type=notify" "WatchdogSec=300"
  "ReadWritePaths=/var/log/dcfsync /var/lib/dcfsync" "DevicePolicy=closed"
)
for w in "${want[@]}"; do
  check "unit: $w" test "$(setting "${w%%=*}" | tail -n 1)" = "${w#*=}"
done
check "unit: devices ttyS, ttyUSB, ttyACM only" \
  test "$(setting DeviceAllow | sort | tr '\n' ' ')" = "char-ttyACM rw char-ttyS rw char-ttyUSB rw "
families=$(setting RestrictAddressFamilies | tail -n 1)
check "unit: Unix sockets allowed, nothing else ($families)" test "$families" = AF_UNIX
check "unit: no ProtectClock=yes, PrivateIPC=yes or RemoveIPC=yes (clock and shared memory stay)" \
  bash -c "! grep -Eq '^(ProtectClock|PrivateIPC|RemoveIPC)=(yes|true|on|1)' '$unit'"

# --- A run as the service runs it ------------------------------------------------
# User, group, umask and time zone from the unit; clock setting on, with the
# C library's clock_settime replaced by the recording stand-in and without
# CAP_SYS_TIME; under strace, to compare its system calls with the unit's
# filter.
user=$(setting User | tail -n 1)
group=$(setting Group | tail -n 1)
groups=$(setting SupplementaryGroups | tail -n 1)
umask_value=$(setting UMask | tail -n 1)
zone=$(setting Environment | sed -n 's/^TZ=//p' | tail -n 1)
# Without a TZ in the unit the program takes the system's zone, as the service does.
zone_env=()
[ -n "$zone" ] && zone_env=(TZ="$zone")
ini=/etc/opt/dcfsync/dcfsync.ini
sed -i -e "s|^port=.*|port=$port|" -e 's/^WriteData=0$/WriteData=1/' \
  -e 's/^DCFSetTime=0$/DCFSetTime=1/' -e 's/^ValidDateTimeCount=3$/ValidDateTimeCount=1/' \
  -e 's/^SynchronizeDiff=100$/SynchronizeDiff=0/' "$ini"
cp "$ini" /tmp/edited.ini
record=/tmp/settime.record
: >"$record"
chmod 0666 "$record"
(
  umask "$umask_value"
  cd /
  exec env -i "${zone_env[@]}" PATH=/usr/bin:/bin \
    setpriv --reuid="$user" --regid="$group" --groups="$groups" \
      --inh-caps=-sys_time --bounding-set=-sys_time \
      strace -f -qq -o /tmp/trace \
        -E LD_PRELOAD="$stub" -E DCFSYNC_SETTIME_RECORD="$record" \
        /opt/dcfsync/dcfsync
) >/tmp/out.txt 2>/tmp/err.txt </dev/null &
tracer=$!
log=/var/log/dcfsync/dcfsync.log
for _ in $(seq 300); do
  grep -Eq "Synchronizing time to" "$log" 2>/dev/null && break
  sleep 0.1
done
# The program is strace's child.
program=
for stat in /proc/[0-9]*/stat; do
  read -r pid _ _ ppid _ 2>/dev/null <"$stat" || continue
  [ "$ppid" = "$tracer" ] && program=$pid
done
[ -n "$program" ] && kill -INT "$program"
for _ in $(seq 150); do
  kill -0 "$tracer" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$tracer" 2>/dev/null; then
  [ -n "$program" ] && kill -KILL "$program" 2>/dev/null
  kill -KILL "$tracer" 2>/dev/null
fi
wait "$tracer"
status=$?
check "run as $user:$group with $groups (polling, stopped by SIGINT): status 3 ($status)" test "$status" = 3
if grep -Eq "^$ts $port opened\$" "$log" &&
   grep -Eq "^$ts Time diff: -?0d 00:00:0[0-9]\.[0-9]{3} ContValidTime: 1\$" "$log"; then
  ok "run: log in /var/log/dcfsync through the link, clock within seconds of the telegram (TZ=${zone:-none, the system zone})"
else
  failed "run: log incomplete or time difference large:"; detail "$log" /tmp/out.txt /tmp/err.txt
fi
# The stand-in's record: CLOCK_REALTIME (0), within a minute of now.
now=$(date +%s)
if grep -Eq "^$ts Synchronizing time to " "$log" && ! grep -q "Can't set time" "$log" &&
   awk -v now="$now" '$1 != 0 || $2 < now - 60 || $2 > now + 60 { bad = 1 } END { exit bad || NR == 0 }' "$record"; then
  ok "run: the clock set through the stand-in, to the present ($(wc -l <"$record") times)"
else
  failed "run: clock setting not as expected:"; detail "$record"; grep -E "Synchroniz|set time" "$log" | detail
fi
check "run: log owned by $user, group adm, mode 640" \
  test "$(stat -c '%U:%G %a' "$log")" = "$user:adm 640"
check "run: data file in /var/lib/dcfsync through the link" \
  test -s /var/lib/dcfsync/dcfsync.dat

# Every system call the program made must pass the unit's filter: the
# first list allows, "~" lists take away, later lists add.
expand() {  # the system calls of one name or @group, groups resolved
  local item=$1
  if [[ $item != @* ]]; then echo "$item"; return; fi
  systemd-analyze syscall-filter "$item" 2>/dev/null |
    awk 'NR > 1 && NF == 1 && $1 !~ /^#/ { print $1 }' |
    while read -r member; do expand "$member"; done
}
declare -A allowed=()
while read -r line; do
  list=${line#SystemCallFilter=}
  remove=0
  [[ $list == ~* ]] && { remove=1; list=${list#\~}; }
  for item in $list; do
    for call in $(expand "$item"); do
      if [ "$remove" = 1 ]; then unset "allowed[$call]"; else allowed[$call]=1; fi
    done
  done
done < <(grep '^SystemCallFilter=' "$unit")
calls=$(sed -E 's/^[0-9]+ +//; /^(\+\+\+|---|<\.\.\.)/d; s/\(.*//' /tmp/trace | sort -u)
denied=
for call in $calls; do
  [ -n "${allowed[$call]:-}" ] || denied+=" $call"
done
if [ ${#allowed[@]} -gt 100 ] && [ -n "$calls" ] && [ -z "$denied" ]; then
  ok "run: all $(echo $calls | wc -w) system calls the program made pass the unit's filter, the Ctrl-C path included"
else
  failed "run: system calls outside the unit's filter:${denied:- (none traced)}"
fi
# The stand-in took the place of the call that sets the clock; the filter
# must let it through, and the 64-bit time call 32-bit C libraries try
# first, and the calls that steer the clock.
missing=
for call in clock_settime clock_settime64 clock_adjtime clock_adjtime64 adjtimex; do
  [ -n "${allowed[$call]:-}" ] || missing+=" $call"
done
check "the unit's filter lets the clock calls through (missing:${missing:- none})" test -z "$missing"

# --- logrotate -----------------------------------------------------------------
if command -v logrotate >/dev/null; then
  if logrotate -f -s /tmp/logrotate.state /etc/logrotate.d/dcfsync >/tmp/logrotate.out 2>&1 &&
     [ -s /var/log/dcfsync/dcfsync.log.1 ] &&
     [ "$(stat -c '%U:%G %a' /var/log/dcfsync/dcfsync.log)" = "dcfsync:adm 640" ]; then
    ok "logrotate: the log rotated, a new one made for dcfsync:adm 640"
  else
    failed "logrotate:"; detail /tmp/logrotate.out; ls -l /var/log/dcfsync | detail
  fi
else
  failed "logrotate is not installed"
fi

# --- Upgrade, remove, purge -------------------------------------------------------
dpkg -i --no-triggers "$deb" >/tmp/dpkg-again.log 2>&1 </dev/null
check "a second dpkg -i (upgrade path) succeeds" test $? = 0
check "the upgrade keeps the administrator's settings" cmp -s "$ini" /tmp/edited.ini

dpkg -r dcfsync >/tmp/dpkg-remove.log 2>&1 </dev/null
check "dpkg -r succeeds" test $? = 0
if [ ! -e /opt/dcfsync ] && [ ! -e /usr/bin/dcfsync ] && [ ! -L /usr/bin/dcfsync ] && [ ! -e "$unit" ]; then
  ok "remove takes the program, the link and the service"
else
  failed "remove left: $(ls -d /opt/dcfsync /usr/bin/dcfsync "$unit" 2>/dev/null | tr '\n' ' ')"
fi
if cmp -s "$ini" /tmp/edited.ini && [ -s /var/log/dcfsync/dcfsync.log.1 ] &&
   [ -s /var/lib/dcfsync/dcfsync.dat ] && getent passwd dcfsync >/dev/null; then
  ok "remove leaves the settings, the log, the data and the user"
else
  failed "remove took user data: $(ls -d "$ini" /var/log/dcfsync/* /var/lib/dcfsync/* 2>&1 | tr '\n' ' ')"
fi

dpkg -P dcfsync >/tmp/dpkg-purge.log 2>&1 </dev/null
check "dpkg -P succeeds" test $? = 0
left=$(ls -d /etc/opt/dcfsync /var/log/dcfsync /var/lib/dcfsync /etc/logrotate.d/dcfsync 2>/dev/null)
if [ -z "$left" ] && ! getent passwd dcfsync >/dev/null && ! getent group dcfsync >/dev/null; then
  ok "purge removes the settings, the log and data directories, the user and its group"
else
  failed "purge left: $left $(getent passwd dcfsync) $(getent group dcfsync)"
fi
check "nothing of dcfsync is left in dpkg's records" \
  bash -c "! dpkg-query -W dcfsync >/dev/null 2>&1 || [ -z \"\$(dpkg-query -W -f='\${Status}' dcfsync | grep -v 'not-installed')\" ]"
exit 0
