#!/bin/bash
# Builds the Debian package and the Windows zip and checks both as their
# users get them:
#   tests/package/package.sh [deb|zip]...     (no argument: both)
#
# deb  builds build/package/dcfsync_<version>_<arch>.deb (preset "package")
#      and checks its contents and control data (dpkg-deb -c, -I), lintian,
#      the manual page (mandoc -T lint, groff -ww), the sample settings;
#      then
#      - unpacked (dpkg-deb -x) into a temporary root, runs the program
#        there through /usr/bin/dcfsync against the simulator: its log and
#        data land through the links in that root's var/log/dcfsync and
#        var/lib/dcfsync;
#      - installed for real (dpkg -i) into a throw-away copy of this
#        machine's root, checks the user, the directories, the service
#        (systemd-analyze verify, security --offline, the system calls the
#        program makes against the service's filter), a run as the service
#        runs it, logrotate, an upgrade, remove and purge
#        (tests/package/installed.sh, run inside that root);
#      - serving the network (tests/package/lan.sh): the package's program
#        fed by the simulator feeds a chronyd that serves NTP on 127.0.0.1,
#        and a second chronyd, its client, measures its offset to it (both
#        with -x, in private directories, stopped by their pids).
# zip  builds build/package-windows/dcfsync-<version>-win64.zip (preset
#      "package-windows"), checks its files (CR LF, the task XML, the version
#      resource), runs the unpacked dcfsync.exe under Wine from another
#      folder, on COM1 mapped through the registry to the simulator, and
#      install.cmd and uninstall.cmd under Wine's cmd.
#
# Neither root is this machine's: both temporary roots live in a mount
# namespace of their own (unshare), the throw-away root is an overlay whose
# writes go to memory, and both vanish with the namespace. Every run of the
# program is without the privilege to set the clock (setpriv drops
# CAP_SYS_TIME), the service is never enabled or started, and every process
# started here is stopped by its own id. Run as root (mounts, chroot, dpkg).
# Ends with "N passed, M failed"; the exit status is 1 when a check failed.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$repo"
export LC_ALL=C

parts=()
for a in "$@"; do
  case "$a" in
    deb|zip) parts+=("$a") ;;
    -h|--help) sed -n '2,36p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "package.sh: unknown part '$a' (deb, zip)" >&2; exit 2 ;;
  esac
done
[ ${#parts[@]} -gt 0 ] || parts=(deb zip)
wants() { local p; for p in "${parts[@]}"; do [ "$p" = "$1" ] && return 0; done; return 1; }

if [ "$(id -u)" -ne 0 ]; then
  echo "package.sh: run as root (temporary roots need mounts and chroot)" >&2
  exit 2
fi

version=$(sed -n 's/^project(dcfsync VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package.sh: no project version in CMakeLists.txt" >&2; exit 2; }

work=$(mktemp -d /tmp/dcfsync-package.XXXXXX)
sim_pid=
prog_pid=
cleanup() {
  local pid
  for pid in $prog_pid $sim_pid; do
    if kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
    fi
  done
  # The temporary roots' mounts lived in namespaces that have ended; a
  # mount still found under $work means one has not, and nothing there is
  # deleted.
  if grep -q " $work/" /proc/mounts; then
    echo "package.sh: mounts remain under $work; left in place" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok      $*"; }
fail() { failed=$((failed + 1)); echo "FAILED  $*"; }
# check NAME COMMAND...: one check, passed when COMMAND succeeds.
check() {
  local name=$1; shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}

# Starts the simulator on a new pseudo-terminal (extra arguments: its
# options); sets sim_pid and sim_port (its first output line).
start_simulator() {
  local sim=$1; shift
  "$sim" "$@" >"$work/sim.out" 2>"$work/sim.err" </dev/null &
  sim_pid=$!
  sim_port=
  for _ in $(seq 50); do
    sim_port=$(head -n 1 "$work/sim.out" 2>/dev/null)
    [ -n "$sim_port" ] && break
    sleep 0.1
  done
  [ -n "$sim_port" ] || { cat "$work/sim.err"; return 1; }
}
stop_simulator() {
  [ -n "$sim_pid" ] || return 0
  kill -TERM "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  sim_pid=
}

# Waits up to $3 seconds until file $1 holds a line matching ERE $2.
await_line() {
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    grep -Eq -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# Waits up to $2 seconds for process $1 (a child of this shell) to end;
# sets exit_status to its status, or to "running" (then it is killed).
await_exit() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$1" 2>/dev/null; then
    exit_status=running
    kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
    return 1
  fi
  exit_status=0
  wait "$1" || exit_status=$?
}

# Checks a sample settings file as the program reads it: for each of the
# thirteen keys the first line below [init] that begins with the key (any
# case) and holds "=" must be that key's own line, and must have a comment
# line above it; prints KEY=VALUE for each key, as found.
ini_keys=(port tz baud timer TimerEnable century WriteLog WriteData DCFSetTime
          SynchronizeDiff SynchronizeMaxDiff ValidDateTimeCount TimerGetDecodedTime)
read_sample() {
  local file=$1 key
  for key in "${ini_keys[@]}"; do
    awk -v key="$key" '
      function trim(s) { gsub(/^[ \t\r\n\v\f]+|[ \t\r\n\v\f]+$/, "", s); return s }
      { line = trim($0); up = toupper(line) }
      !section && index(up, "[INIT]") == 1 { section = 1 }
      section && index(up, toupper(key)) == 1 && index(line, "=") > 0 {
        name = trim(substr(line, 1, index(line, "=") - 1))
        if (toupper(name) != toupper(key)) {
          printf "%s: first matched by line %d, \"%s\"\n", key, NR, line > "/dev/stderr"; bad = 1; exit
        }
        if (previous !~ /^;/) {
          printf "%s: no comment above line %d\n", key, NR > "/dev/stderr"; bad = 1; exit
        }
        printf "%s=%s\n", key, trim(substr(line, index(line, "=") + 1)); found = 1; exit
      }
      { if (line != "") previous = line }
      END {
        if (!bad && !found) { printf "%s: no line\n", key > "/dev/stderr"; bad = 1 }
        exit bad
      }' "$file" || return 1
  done
}
# check_sample NAME FILE PORT: the sample's keys are found as written, with
# the values the package promises.
check_sample() {
  local name=$1 file=$2 port=$3 values
  if ! values=$(read_sample "$file"); then
    fail "$name: every key found on its own line, with a comment"
    return
  fi
  pass "$name: every key found on its own line, with a comment"
  local expected="port=$port
tz=
baud=19200
timer=1
TimerEnable=1
century=2000
WriteLog=1
WriteData=0
DCFSetTime=0
SynchronizeDiff=100
SynchronizeMaxDiff=12
ValidDateTimeCount=3
TimerGetDecodedTime=0"
  if [ "$values" = "$expected" ]; then
    pass "$name: polls every minute, port $port, clock setting off, the other defaults"
  else
    fail "$name: values differ:"
    diff <(echo "$expected") <(echo "$values") | sed 's/^/        /'
  fi
}

ts='[0-3][0-9]\.[01][0-9]\.[0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9]'

# =============================================================================
# The Debian package
# =============================================================================
deb_checks() {
  echo "---- the Debian package (preset package) ----"
  rm -f build/package/dcfsync_*.deb
  if ! { cmake --preset package && cmake --build --preset package -j2; } >"$work/deb-build.log" 2>&1; then
    tail -n 30 "$work/deb-build.log"
    fail "build the package (cmake --build --preset package)"
    return
  fi
  local arch deb
  arch=$(dpkg --print-architecture)
  deb=build/package/dcfsync_${version}_${arch}.deb
  check "build $deb" test -f "$deb" || return
  local sim=build/package/tools/dcfsim/dcfsim

  # --- Contents ---------------------------------------------------------------
  dpkg-deb -c "$deb" >"$work/contents" || { fail "dpkg-deb -c"; return; }
  # Everything but directories, as "mode owner path[ -> target]".
  awk '$1 !~ /^d/ { line = $1 " " $2; for (i = 6; i <= NF; i++) line = line " " $i; print line }' \
    "$work/contents" | sort >"$work/files"
  {
    echo "-rw-r--r-- root/root ./etc/logrotate.d/dcfsync"
    echo "-rw-r--r-- root/root ./etc/opt/dcfsync/dcfsync.ini"
    echo "-rw-r--r-- root/root ./lib/systemd/system/dcfsync.service"
    echo "-rwxr-xr-x root/root ./opt/dcfsync/dcfsync"
    echo "lrwxrwxrwx root/root ./opt/dcfsync/dcfsync.dat -> /var/lib/dcfsync/dcfsync.dat"
    echo "lrwxrwxrwx root/root ./opt/dcfsync/dcfsync.drift -> /var/lib/dcfsync/dcfsync.drift"
    echo "lrwxrwxrwx root/root ./opt/dcfsync/dcfsync.ini -> /etc/opt/dcfsync/dcfsync.ini"
    echo "lrwxrwxrwx root/root ./opt/dcfsync/dcfsync.log -> /var/log/dcfsync/dcfsync.log"
    echo "lrwxrwxrwx root/root ./usr/bin/dcfsync -> /opt/dcfsync/dcfsync"
    echo "-rwxr-xr-x root/root ./usr/bin/dcfreport"
    echo "-rw-r--r-- root/root ./usr/share/doc/dcfsync/changelog.gz"
    echo "-rw-r--r-- root/root ./usr/share/doc/dcfsync/copyright"
    echo "-rw-r--r-- root/root ./usr/share/doc/dcfsync/examples/dcfsync-udev.rules"
    echo "-rw-r--r-- root/root ./usr/share/lintian/overrides/dcfsync"
    echo "-rw-r--r-- root/root ./usr/share/man/man8/dcfsync.8.gz"
  } | sort >"$work/files.expected"
  if diff -u "$work/files.expected" "$work/files" >"$work/files.diff"; then
    pass "contents: the program, the links, settings, service, logrotate, man page, docs, nothing else"
  else
    fail "contents differ (- expected, + in the package):"
    sed 's/^/        /' "$work/files.diff"
  fi
  local dir missing=
  for dir in ./var/log/dcfsync/ ./var/lib/dcfsync/ ./etc/opt/dcfsync/; do
    grep -Eq "^drwxr-xr-x root/root .* $dir\$" "$work/contents" || missing+=" $dir"
  done
  if [ -z "$missing" ]; then pass "contents: the directories for settings, log and data"
  else fail "contents: directories missing:$missing"; fi

  # --- Control data -----------------------------------------------------------
  local field value
  declare -A want=([Package]=dcfsync [Version]=$version [Architecture]=$arch)
  for field in Package Version Architecture; do
    value=$(dpkg-deb -f "$deb" "$field")
    if [ "$value" = "${want[$field]}" ]; then pass "control: $field $value"
    else fail "control: $field is '$value', not '${want[$field]}'"; fi
  done
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  if [[ ", $depends," == *", adduser,"* && $depends == *libc6* ]]; then
    pass "control: Depends on adduser and the C library ($depends)"
  else
    fail "control: Depends '$depends' lacks adduser or libc6"
  fi
  if [[ $depends == *libsystemd0* ]]; then
    pass "control: Depends on libsystemd0 for the service's notifications"
  else
    fail "control: Depends '$depends' lacks libsystemd0 (built without libsystemd?)"
  fi
  if [[ $depends == *python3* ]] && [ "$(dpkg-deb -f "$deb" Recommends)" = python3-matplotlib ]; then
    pass "control: Depends on python3 for the report tool, Recommends python3-matplotlib"
  else
    fail "control: the report tool's python3 or python3-matplotlib missing"
  fi
  mkdir -p "$work/control"
  dpkg-deb -e "$deb" "$work/control"
  if [ "$(cat "$work/control/conffiles" 2>/dev/null)" = "/etc/opt/dcfsync/dcfsync.ini
/etc/logrotate.d/dcfsync" ]; then
    pass "control: the settings and the logrotate file are conffiles"
  else
    fail "control: conffiles are '$(tr '\n' ' ' <"$work/control/conffiles" 2>/dev/null)'"
  fi
  local script bad=
  for script in postinst prerm postrm; do
    [ -x "$work/control/$script" ] && sh -n "$work/control/$script" || bad+=" $script"
  done
  if [ -z "$bad" ]; then pass "control: postinst, prerm, postrm executable shell scripts"
  else fail "control: maintainer scripts missing or broken:$bad"; fi
  if ! grep -Eq 'systemctl .*(enable|start)|deb-systemd-helper .*enable|deb-systemd-invoke (start|restart)' \
      "$work/control/postinst"; then
    pass "control: postinst neither enables nor starts the service"
  else
    fail "control: postinst enables or starts the service"
  fi

  # --- lintian ----------------------------------------------------------------
  local lint_status=0
  lintian --fail-on error,warning "$deb" >"$work/lintian.out" 2>&1 || lint_status=$?
  sed -i '/^running with root privileges is not recommended!$/d' "$work/lintian.out"
  if [ "$lint_status" -eq 0 ] && ! grep -q '^[EW]:' "$work/lintian.out"; then
    pass "lintian: no errors, no warnings"
  else
    fail "lintian (status $lint_status):"
  fi
  sed 's/^/        /' "$work/lintian.out"

  # --- Unpacked: manual page and sample settings --------------------------------
  local root=$work/unpacked
  mkdir -p "$root"
  dpkg-deb -x "$deb" "$root" || { fail "dpkg-deb -x"; return; }
  local page=$root/usr/share/man/man8/dcfsync.8.gz
  zcat "$page" >"$work/dcfsync.8"
  local lint
  lint=$(mandoc -T lint -W style "$work/dcfsync.8" 2>&1)
  if [ $? -eq 0 ] && [ -z "$lint" ]; then pass "man page: mandoc -T lint -W style silent"
  else fail "man page: mandoc -T lint:"; echo "$lint" | sed 's/^/        /'; fi
  lint=$(groff -ww -man -Tutf8 -z "$work/dcfsync.8" 2>&1)
  if [ $? -eq 0 ] && [ -z "$lint" ]; then pass "man page: groff -ww -man silent"
  else fail "man page: groff -ww:"; echo "$lint" | sed 's/^/        /'; fi
  # Each key, each exit status and the files under their headings.
  groff -man -Tascii -P-cbou "$work/dcfsync.8" 2>/dev/null >"$work/dcfsync.8.txt"
  local key section gaps=
  for key in "${ini_keys[@]}"; do
    grep -Eq "^ {7}$key \(" "$work/dcfsync.8.txt" || gaps+=" key:$key"
  done
  for section in SETTINGS FILES MESSAGES "EXIT STATUS"; do
    grep -q "^$section\$" "$work/dcfsync.8.txt" || gaps+=" section:${section// /_}"
  done
  for value in 0 3 250 253 254; do
    sed -n '/^EXIT STATUS$/,/^[A-Z]/p' "$work/dcfsync.8.txt" | grep -Eq "^ {7}$value\b" ||
      gaps+=" status:$value"
  done
  if [ -z "$gaps" ]; then pass "man page: the thirteen keys with defaults, files, messages, exit statuses"
  else fail "man page: missing$gaps"; fi

  check_sample "sample settings (etc/opt/dcfsync/dcfsync.ini)" "$root/etc/opt/dcfsync/dcfsync.ini" /dev/ttyUSB0

  # --- Unpacked: a run against the simulator in the temporary root --------------
  # The links are absolute, so the program runs with the temporary root as
  # its root (chroot) in a mount namespace of its own, with this machine's
  # libraries, /dev (the simulator's terminal) and /proc (the program's own
  # path) lent to it; nothing it writes can reach this machine's /var.
  start_simulator "$sim" || { fail "start the simulator"; return; }
  sed -i -e "s|^port=.*|port=$sim_port|" -e 's/^WriteData=0$/WriteData=1/' \
    "$root/etc/opt/dcfsync/dcfsync.ini"
  local real_log_before
  real_log_before=$(ls -d /var/log/dcfsync /var/lib/dcfsync 2>/dev/null)
  # Lends a directory of this machine to the root: a link as a link, a
  # directory bound read-only.
  local mounts="mount --rbind /dev '$root/dev' && mount --bind /proc '$root/proc'" d
  mkdir -p "$root/dev" "$root/proc"
  lend() {
    if [ -L "$1" ]; then
      [ -e "$root$1" ] || [ -L "$root$1" ] || ln -s "$(readlink "$1")" "$root$1"
    elif [ -d "$1" ]; then
      mkdir -p "$root$1"
      mounts+=" && mount --bind -o ro '$1' '$root$1'"
    fi
  }
  # The libraries, and the program loader, which is named by an absolute
  # path such as /lib64/ld-linux-x86-64.so.2 (itself often a link into
  # /lib/<multiarch>). The package brings /lib/systemd, so /lib is made
  # there and only the library directories inside it are lent.
  for d in /usr/lib /usr/lib64 /usr/lib32 /usr/libx32 /lib64 /lib32 /libx32 /lib/*-linux-*; do
    lend "$d"
  done
  mkdir -p "$work/run"
  TZ='CET-1CEST,M3.5.0,M10.5.0/3' unshare --mount --propagation private bash -c \
    "$mounts && exec setpriv --inh-caps=-sys_time --bounding-set=-sys_time chroot '$root' /usr/bin/dcfsync" \
    >"$work/run/out.txt" 2>"$work/run/err.txt" </dev/null &
  prog_pid=$!
  local log=$root/var/log/dcfsync/dcfsync.log dat=$root/var/lib/dcfsync/dcfsync.dat
  if await_line "$log" "^$ts Time diff: .* ContValidTime: 1\$" 30; then
    pass "unpacked run: the log lands in the root's var/log/dcfsync through the link"
  else
    fail "unpacked run: no poll in $log within 30 s"
    sed 's/^/        /' "$work/run/out.txt" "$work/run/err.txt" | tr '\r' '\n' | grep -v 'secs left' | head -20
  fi
  kill -INT "$prog_pid" 2>/dev/null
  await_exit "$prog_pid" 15
  prog_pid=
  check "unpacked run: polling (TimerEnable=1 as shipped) ended by SIGINT, status 3 ($exit_status)" \
    test "$exit_status" = 3
  if grep -Eq "^$ts $sim_port opened\$" "$log" && grep -Eq "^$ts DCFSIM " "$log" &&
     grep -Eq "^$ts ([0-9A-F]{2} ){26}\$" "$log"; then
    pass "unpacked run: the log holds the port, the identification and the telegram"
  else
    fail "unpacked run: log incomplete:"; sed 's/^/        /' "$log" 2>/dev/null
  fi
  # 138 characters a line with its line end: 137 before it.
  if awk 'length($0) == 137 { n++ } END { exit !(n >= 1 && n == NR) }' "$dat" 2>/dev/null; then
    pass "unpacked run: the data file lands in the root's var/lib/dcfsync through the link"
  else
    fail "unpacked run: not all lines of 138 characters in $dat:"; sed 's/^/        /' "$dat" 2>/dev/null
  fi
  if [ -L "$root/opt/dcfsync/dcfsync.log" ] && [ -L "$root/opt/dcfsync/dcfsync.dat" ] &&
     [ "$(find "$root/opt/dcfsync" -type f | wc -l)" = 1 ]; then
    pass "unpacked run: nothing but the program is a file in opt/dcfsync"
  else
    fail "unpacked run: opt/dcfsync holds $(ls -l "$root/opt/dcfsync" | tr '\n' ';')"
  fi
  check "unpacked run: this machine's /var/log/dcfsync and /var/lib/dcfsync untouched" \
    test "$(ls -d /var/log/dcfsync /var/lib/dcfsync 2>/dev/null)" = "$real_log_before"
  stop_simulator

  # --- Serving the network: simulator -> dcfsync -> chronyd -> chronyd ----------
  local chronyd= chronyc= c
  for c in /usr/sbin/chronyd "$repo/build/chrony/usr/sbin/chronyd"; do [ -x "$c" ] && chronyd=$c && break; done
  for c in /usr/bin/chronyc "$repo/build/chrony/usr/bin/chronyc"; do [ -x "$c" ] && chronyc=$c && break; done
  if [ -z "$chronyd" ] || [ -z "$chronyc" ]; then
    fail "lan: chronyd and chronyc not found (scripts/test.sh package unpacks Debian's chrony)"
  else
    bash tests/package/lan.sh "$chronyd" "$chronyc" build/package/dcfsync "$sim" >"$work/lan.out" 2>&1
    while IFS= read -r line; do
      case "$line" in
        "ok "*) pass "lan: ${line#ok }" ;;
        "FAILED "*) fail "lan: ${line#FAILED }" ;;
        *) echo "        $line" ;;
      esac
    done <"$work/lan.out"
  fi

  # --- Installed into a throw-away root -----------------------------------------
  # An overlay of this machine's root whose writes go to a memory file
  # system of the namespace: dpkg installs, upgrades, removes and purges the
  # package there for real, maintainer scripts included.
  start_simulator "$sim" || { fail "start the simulator"; return; }
  # As a serial port is on Debian: group dialout may read and write it.
  chgrp dialout "$sim_port" && chmod 0660 "$sim_port"
  local over=$work/overlay
  mkdir -p "$over/rw" "$over/root" "$over/share"
  cp "$deb" "$over/share/dcfsync.deb"
  cp tests/package/installed.sh "$over/share/"
  # The stand-in for the C library's clock_settime, preloaded into the run.
  if ! g++ -shared -fPIC -O2 -o "$over/share/settime_stub.so" tests/support/settime_stub.cpp \
      >"$work/stub.log" 2>&1; then
    cat "$work/stub.log"; fail "build the clock_settime stand-in"; stop_simulator; return
  fi
  unshare --mount --propagation private bash -c "
    set -e
    mount -t tmpfs -o mode=0755 tmpfs '$over/rw'
    mkdir '$over/rw/upper' '$over/rw/work'
    mount -t overlay overlay -o 'lowerdir=/,upperdir=$over/rw/upper,workdir=$over/rw/work' '$over/root'
    mount --rbind /dev '$over/root/dev'
    mount -t proc proc '$over/root/proc'
    mount -t tmpfs tmpfs '$over/root/tmp'
    mount -t tmpfs tmpfs '$over/root/run'
    mkdir -p '$over/root/share'
    mount --bind '$over/share' '$over/root/share'
    touch '$over/root/.dcfsync-throwaway-root'
    exec chroot '$over/root' /bin/bash /share/installed.sh /share/dcfsync.deb '$version' '$sim_port' \
      /share/settime_stub.so
  " </dev/null >"$work/installed.out" 2>&1
  local inner=$?
  while IFS= read -r line; do
    case "$line" in
      "ok "*) pass "installed: ${line#ok }" ;;
      "FAILED "*) fail "installed: ${line#FAILED }" ;;
      *) echo "        $line" ;;
    esac
  done <"$work/installed.out"
  check "installed: the checks in the throw-away root ran to their end (status $inner)" test "$inner" = 0
  stop_simulator
}

# =============================================================================
# The Windows zip
# =============================================================================
zip_checks() {
  echo "---- the Windows zip (preset package-windows) ----"
  rm -f build/package-windows/dcfsync-*.zip
  if ! { cmake --preset package-windows && cmake --build --preset package-windows -j2; } \
      >"$work/zip-build.log" 2>&1; then
    tail -n 30 "$work/zip-build.log"
    fail "build the zip (cmake --build --preset package-windows)"
    return
  fi
  local zip=build/package-windows/dcfsync-${version}-win64.zip
  check "build $zip" test -f "$zip" || return
  local listed expected
  listed=$(unzip -Z1 "$zip" | sort)
  expected=$(printf '%s\n' README.txt dcfreport.py dcfsync-task.xml dcfsync.exe dcfsync.ini \
    install.cmd uninstall.cmd | sort)
  if [ "$listed" = "$expected" ]; then
    pass "zip: $(echo $listed) at its top, nothing else"
  else
    fail "zip holds: $(echo $listed); expected: $(echo $expected)"
  fi
  local dir=$work/zip/dcfsync
  mkdir -p "$dir"
  unzip -q "$zip" -d "$dir" || { fail "unzip"; return; }

  # --- Text files: CR LF ------------------------------------------------------
  local f
  for f in dcfsync.ini README.txt install.cmd uninstall.cmd; do
    if [ -s "$dir/$f" ] && [ "$(grep -c $'\r$' "$dir/$f")" = "$(wc -l <"$dir/$f")" ] &&
       [ -z "$(tail -c 1 "$dir/$f" | tr -d '\n')" ]; then
      pass "zip: $f has CR LF line ends"
    else
      fail "zip: $f has lines without CR LF"
    fi
  done
  check_sample "zip: sample settings (dcfsync.ini)" "$dir/dcfsync.ini" COM1
  if grep -Fq 'schtasks /create /tn dcfsync /xml' "$dir/README.txt" &&
     grep -Fq 'w32tm' "$dir/README.txt" && grep -Fq 'sc config w32time start= disabled' "$dir/README.txt"; then
    pass "zip: README.txt gives the schtasks command and how to keep w32time off the clock"
  else
    fail "zip: README.txt lacks the schtasks command or the w32time steps"
  fi
  # Installed where only administrators write, never in a folder under C:\.
  if grep -Fq 'install.cmd' "$dir/README.txt" && grep -Fq '%ProgramFiles%\dcfsync' "$dir/README.txt" &&
     grep -Fq 'icacls' "$dir/README.txt" && ! grep -Eq 'C:\\dcf77\\dcfsync|\(OI\)\(CI\)' "$dir/README.txt" &&
     grep -Fq 'checked only on paper' "$dir/README.txt"; then
    pass "zip: README.txt installs into %ProgramFiles%\\dcfsync, shows the manual commands and what was checked on paper"
  else
    fail "zip: README.txt still installs elsewhere or lacks install.cmd, icacls or the paper checks"
  fi

  # --- The task XML -------------------------------------------------------------
  local xml=$dir/dcfsync-task.xml
  if xmllint --noout "$xml" 2>"$work/xmllint.err"; then pass "task XML: well-formed (xmllint)"
  else fail "task XML: xmllint:"; sed 's/^/        /' "$work/xmllint.err"; fi
  if [ "$(head -c 2 "$xml" | od -An -tx1 | tr -d ' ')" = fffe ] &&
     iconv -f UTF-16 -t UTF-8 "$xml" | head -n 1 | grep -Fq 'encoding="UTF-16"'; then
    pass "task XML: UTF-16 with byte order mark, declared as UTF-16"
  else
    fail "task XML: not UTF-16 with BOM and declaration"
  fi
  local ns='/*[local-name()="Task"]' q
  q() { xmllint --xpath "$1" "$xml" 2>/dev/null; }
  local expect_xpath=(
    "count($ns/*[local-name()='Triggers']/*)=1 and count($ns/*[local-name()='Triggers']/*[local-name()='BootTrigger'])=1|started at boot, by nothing else"
    "string($ns/*[local-name()='Principals']/*[local-name()='Principal']/*[local-name()='UserId'])='S-1-5-19'|runs as LOCAL SERVICE (S-1-5-19)"
    "string($ns/*[local-name()='Settings']/*[local-name()='ExecutionTimeLimit'])='PT0S'|no execution time limit (PT0S)"
    "count($ns/*[local-name()='Settings']/*[local-name()='RestartOnFailure']/*[local-name()='Interval' or local-name()='Count'])=2|restarted on failure"
    "substring-after(string($ns/*[local-name()='Actions']/*[local-name()='Exec']/*[local-name()='Command']), '\\')!='' and contains(string($ns/*[local-name()='Actions']/*[local-name()='Exec']/*[local-name()='Command']), '\\dcfsync.exe')|runs dcfsync.exe by its full path"
    "count(//*[local-name()='WorkingDirectory'])=0 and count(//*[local-name()='Arguments'])=0|relies on no working directory and no arguments"
    "string($ns/*[local-name()='Actions']/*[local-name()='Exec']/*[local-name()='Command'])='\"%ProgramFiles%\\dcfsync\\dcfsync.exe\"'|runs the program in %ProgramFiles%\\dcfsync, its path quoted"
    "string($ns/@version)='1.3' and count($ns/*[local-name()='Principals']/*[local-name()='Principal']/*[local-name()='RequiredPrivileges']/*)=1 and string($ns/*[local-name()='Principals']/*[local-name()='Principal']/*[local-name()='RequiredPrivileges']/*[local-name()='Privilege'])='SeSystemtimePrivilege'|asks for SeSystemtimePrivilege alone (version 1.3)"
    "string($ns/*[local-name()='Principals']/*[local-name()='Principal']/*[local-name()='ProcessTokenSidType'])='Unrestricted'|runs with a task identifier of its own (ProcessTokenSidType Unrestricted)"
  )
  local e
  for e in "${expect_xpath[@]}"; do
    if [ "$(q "${e%%|*}")" = true ]; then pass "task XML: ${e#*|}"
    else fail "task XML: not ${e#*|}"; fi
  done

  # --- The version resource -------------------------------------------------------
  local exe=$dir/dcfsync.exe strings_out
  strings_out=$(strings -a -el "$exe")
  local name pair bad=
  for pair in "ProductName=dcfsync" "ProductVersion=$version" "FileVersion=$version" \
              "OriginalFilename=dcfsync.exe"; do
    name=${pair%%=*}
    [ "$(grep -A1 -x "$name" <<<"$strings_out" | sed -n 2p)" = "${pair#*=}" ] || bad+=" $pair"
  done
  grep -qx FileDescription <<<"$strings_out" || bad+=" FileDescription"
  # VS_FIXEDFILEINFO: signature FEEF04BD, structure version, then the file
  # version as two little-endian 32-bit words, major << 16 | minor and
  # patch << 16 | build.
  local hex fixed
  hex=$(od -An -tx1 -v "$exe" | tr -d '\n' | tr -s ' ')
  fixed=$(grep -o ' bd 04 ef fe\( [0-9a-f][0-9a-f]\)\{12\}' <<<"$hex" | head -n 1)
  if [ -n "$fixed" ]; then
    read -r -a b <<<"$fixed"
    local fv
    fv="$((16#${b[11]}${b[10]})).$((16#${b[9]}${b[8]})).$((16#${b[15]}${b[14]})).$((16#${b[13]}${b[12]}))"
    [ "$fv" = "$version.0" ] || bad+=" fixed-file-version:$fv"
  else
    bad+=" no-VS_FIXEDFILEINFO"
  fi
  if [ -z "$bad" ] && x86_64-w64-mingw32-objdump -h "$exe" | grep -q ' \.rsrc '; then
    pass "dcfsync.exe: version resource with product dcfsync, version $version"
  else
    fail "dcfsync.exe: version resource wrong or missing:$bad"
  fi

  # --- Run the unpacked dcfsync.exe under Wine ----------------------------------
  wine_run_checks "$dir"
}

# The unpacked program under Wine, started from another folder, on COM1
# mapped through the registry to the simulator's terminal (as the Windows
# end-to-end tests map it). One poll: the sample with TimerEnable=0 and
# WriteData=1.
wine_run_checks() {
  local dir=$1
  local run=$repo/cmake/wine-run.sh
  export WINEPREFIX=$repo/build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export TZ="CET-1CEST,M3.5.0,M10.5.0/3"
  mkdir -p "$repo/build/serial"
  local link=$repo/build/serial/pkg-com1
  start_simulator build/package/tools/dcfsim/dcfsim --link "$link" ||
    { fail "start the simulator"; return; }
  local mapping
  mapping() {
    bash "$run" reg query 'HKLM\Software\Wine\Ports' /v COM1 2>/dev/null </dev/null |
      tr -d '\r' | awk '$1 == "COM1" { print $3 }'
  }
  if [ "$(mapping)" != "$link" ]; then
    bash "$run" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$link" /f >/dev/null 2>&1 </dev/null
    wineserver -k >/dev/null 2>&1 </dev/null
    wineserver -w >/dev/null 2>&1 </dev/null
    bash "$run" cmd /c exit >/dev/null 2>&1 </dev/null
  fi
  if [ "$(readlink "$WINEPREFIX/dosdevices/com1")" != "$link" ]; then
    fail "Wine: COM1 maps to '$(readlink "$WINEPREFIX/dosdevices/com1")', not $link; not running"
    stop_simulator
    return
  fi
  pass "Wine: COM1 mapped through the registry to the simulator"
  sed -i -e 's/^TimerEnable=1\r$/TimerEnable=0\r/' -e 's/^WriteData=0\r$/WriteData=1\r/' "$dir/dcfsync.ini"
  local elsewhere=$work/zip/elsewhere
  mkdir -p "$elsewhere"
  local caps=(setpriv --inh-caps=-sys_time --bounding-set=-sys_time)
  (cd "$elsewhere" && exec "${caps[@]}" bash "$run" "$dir/dcfsync.exe") \
    >"$work/wine-out.txt" 2>"$work/wine-err.txt" </dev/null &
  prog_pid=$!
  await_exit "$prog_pid" 60
  prog_pid=
  check "Wine: dcfsync.exe from the unpacked folder polled once, status 0 ($exit_status)" \
    test "$exit_status" = 0
  local log=$dir/dcfsync.log
  if tr -d '\r' <"$log" 2>/dev/null | grep -Eq "^$ts COM1 opened\$" &&
     tr -d '\r' <"$log" | grep -Eq "^$ts DCFSIM " &&
     tr -d '\r' <"$log" | grep -Eq "^$ts ([0-9A-F]{2} ){26}\$" &&
     tr -d '\r' <"$log" | grep -Eq "^$ts Time diff: -?0d 00:00:0[0-9]\.[0-9]{3} ContValidTime: 1\$" &&
     tr -d '\r' <"$log" | grep -Eq "^$ts COM1 closed\$"; then
    pass "Wine: the log beside the exe holds the poll, the clock within seconds of the telegram"
  else
    fail "Wine: log beside the exe incomplete:"
    sed 's/^/        /' "$log" "$work/wine-out.txt" 2>/dev/null | tr -d '\r' | head -20
  fi
  # 137 characters before the line end (CR LF here).
  if [ -s "$dir/dcfsync.dat" ] &&
     awk '{ sub(/\r$/, "") } length($0) != 137 { bad = 1 } END { exit bad }' "$dir/dcfsync.dat"; then
    pass "Wine: the data file beside the exe"
  else
    fail "Wine: not all data file lines of 138 characters beside the exe:"
    sed 's/^/        /' "$dir/dcfsync.dat" 2>/dev/null
  fi
  check "Wine: nothing written in the folder it was started from" test -z "$(ls -A "$elsewhere")"
  stop_simulator
  install_checks "$dir"
  wineserver -k >/dev/null 2>&1 </dev/null
}

# install.cmd and uninstall.cmd under Wine's cmd, as far as Wine goes: the
# files land in %ProgramFiles%\dcfsync, the task is registered and deleted.
# Wine keeps no file permissions, privileges or task identifiers: README.txt
# lists those as checked on paper.
install_checks() {
  local dir=$1 run=$repo/cmake/wine-run.sh
  local dest="$WINEPREFIX/drive_c/Program Files/dcfsync" f missing=
  # Wine's task store: it accepts the task file, but keeps neither its
  # principal nor its action, and its schtasks /query answers 0 for any
  # name; the stored task is what shows that the task was registered.
  local stored="$WINEPREFIX/drive_c/windows/system32/tasks/dcfsync"
  rm -rf "$dest"
  bash "$run" schtasks /delete /tn dcfsync /f >/dev/null 2>&1 </dev/null
  (cd "$dir" && bash "$run" cmd /c install.cmd) >"$work/install.out" 2>&1 </dev/null
  local status=$?
  for f in dcfsync.exe dcfsync.ini dcfsync-task.xml README.txt uninstall.cmd dcfsync.log dcfsync.dat \
      dcfsync.drift; do
    [ -f "$dest/$f" ] || missing+=" $f"
  done
  # The drift file starts at 0 ppm, which the program reads as valid.
  [ "$(tr -d '\r\n ' <"$dest/dcfsync.drift" 2>/dev/null)" = "+0.000" ] || missing+=" (dcfsync.drift's +0.000)"
  if [ "$status" = 0 ] && [ -z "$missing" ] && [ ! -s "$dest/dcfsync.log" ] &&
     cmp -s "$dir/dcfsync.exe" "$dest/dcfsync.exe" && grep -Fq '<URI>\dcfsync</URI>' "$stored"; then
    pass "Wine: install.cmd copies to %ProgramFiles%\\dcfsync, creates the three files, registers the task"
  else
    fail "Wine: install.cmd (status $status, missing:${missing:- none}):"
    tr -d '\r' <"$work/install.out" | sed 's/^/        /' | head -20
  fi
  echo "port=COM7" >"$dest/dcfsync.ini"
  (cd "$dir" && bash "$run" cmd /c install.cmd) >"$work/install2.out" 2>&1 </dev/null
  check "Wine: install.cmd again keeps the settings there" \
    test "$(cat "$dest/dcfsync.ini" 2>/dev/null)" = "port=COM7"
  (cd "$dest" && bash "$run" cmd /c uninstall.cmd) >"$work/uninstall.out" 2>&1 </dev/null
  status=$?
  if [ "$status" = 0 ] && [ ! -e "$dest/dcfsync.exe" ] && [ -f "$dest/dcfsync.ini" ] &&
     [ -f "$dest/dcfsync.log" ] && [ ! -e "$stored" ]; then
    pass "Wine: uninstall.cmd deletes the task and the program, leaves settings and log"
  else
    fail "Wine: uninstall.cmd (status $status):"
    tr -d '\r' <"$work/uninstall.out" | sed 's/^/        /' | head -20
  fi
  rm -rf "$dest"
}

wants deb && deb_checks
wants zip && zip_checks

echo
echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
