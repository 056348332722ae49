#!/bin/bash
# Runs the Windows program itself under Wine against the receiver simulator
# and checks what it shows on the console, writes to its log and data files
# and returns as its exit status.
#   tests/e2e/windows.sh SCENARIO path/to/dcfsync.exe path/to/host/dcfsim
#
# Scenarios:
#   raw        one poll of the raw telegram (TimerEnable=0), data file on
#   decoded    one poll of the module's decoded time
#   unmapped   a port name that names no device: not opened, status 254
#   interrupt  polling every minute, ended by Ctrl-C (SIGINT) in the countdown
#   settime    clock setting on, the simulator an hour ahead: Wine refuses to
#              set the clock (error 1314), which the program reports
#   accuracy   the program with a recorder in place of its clock setting
#              (tests/dcfsync_recorded.exe beside the program's build), the
#              PC 3.7 s behind the simulator: every set it asks for lies
#              within a few ms of the simulator's time at the call
#   accuracy-utc the same with the PC kept in UTC: the telegram's own zone,
#              not the PC's, makes its time UTC
#   pulse      a pulse receiver (Receiver=1) on the simulator's pulse timeline:
#              Wine's WaitCommEvent polls the line's state (TIOCMGET), which
#              the preloaded library (host/libpulseline.so beside the
#              simulator) answers on the terminal; the receiver 2.5 s ahead
#   discipline the same recorder's program with ClockDiscipline=1, the PC
#              30 ms behind (below SynchronizeDiff): no set, the tick
#              adjustments it asks for (frequency and slew) recorded with
#              plausible values, and at Ctrl-C the slew ended with the
#              frequency kept and the drift file written
#
# Each run has a directory of its own, <build>/e2e/SCENARIO, holding a copy of
# the program and its settings file. COM1 is mapped to the simulator's
# pseudo-terminal with map_port (tests/support/wine-env.sh); the program is
# not started unless that mapping is in force, since a COM number without a
# mapping reaches this machine's real serial devices.
# The program runs without the privilege to set the clock (CAP_SYS_TIME), and
# Wine never sets the machine's clock anyway.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/support/wine-env.sh
source "$here/../support/wine-env.sh"
repo=$wine_repo
run=$wine_run
# The German legal time rules (UTC for accuracy-utc); Wine takes the local
# time from TZ.
export TZ="CET-1CEST,M3.5.0,M10.5.0/3"
[ "${1:-}" = accuracy-utc ] && export TZ="UTC0"
export LC_ALL=C

if [ $# -ne 3 ]; then
  echo "usage: $0 raw|decoded|unmapped|interrupt|settime|accuracy|accuracy-utc|discipline|pulse dcfsync.exe dcfsim" >&2
  exit 2
fi
scenario=$1
exe=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
sim=$3
case "$scenario" in
  raw|decoded|unmapped|interrupt|settime|accuracy|accuracy-utc|discipline|pulse) ;;
  *) echo "windows.sh: unknown scenario '$scenario'" >&2; exit 2 ;;
esac
[ -f "$exe" ] || { echo "windows.sh: no program $exe" >&2; exit 1; }
[ -x "$sim" ] || { echo "windows.sh: no simulator $sim" >&2; exit 1; }

# Without the privilege to set the clock, whoever runs this.
drop_caps=()
if [ "$(id -u)" -eq 0 ]; then
  command -v setpriv >/dev/null ||
    { echo "windows.sh: setpriv is missing; not running as root without it" >&2; exit 1; }
  drop_caps=(setpriv --inh-caps=-sys_time --bounding-set=-sys_time)
fi

dir="$(dirname "$exe")/e2e/$scenario"
rm -rf "$dir"
mkdir -p "$dir"
if [ "${scenario%-utc}" = accuracy ] || [ "$scenario" = discipline ]; then
  # The recorder's program under the program's name, so its files are the same.
  recorded="$(dirname "$exe")/tests/dcfsync_recorded.exe"
  [ -f "$recorded" ] || { echo "windows.sh: no program $recorded" >&2; exit 1; }
  cp "$recorded" "$dir/dcfsync.exe"
else
  cp "$exe" "$dir/dcfsync.exe"
fi
out="$dir/out.txt"
log="$dir/dcfsync.log"
dat="$dir/dcfsync.dat"

lines="$repo/build/serial"
link="$lines/sim-com1"
mkdir -p "$lines"

sim_pid=
prog_pid=
cleanup() {
  if [ -n "$prog_pid" ] && kill -0 "$prog_pid" 2>/dev/null; then
    kill -KILL "$prog_pid" 2>/dev/null || true
    wait "$prog_pid" 2>/dev/null || true
  fi
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -KILL "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL [$scenario]: $*" >&2
  failures=$((failures + 1))
}

# --- The simulator and the port mapping ---------------------------------------

# Starts the simulator on a new pseudo-terminal behind $link; sets sim_pid and
# pty (the terminal the link points at).
start_simulator() {
  "$sim" --link "$link" "$@" >"$dir/sim.out" 2>"$dir/sim.err" </dev/null &
  sim_pid=$!
  local first=
  for _ in $(seq 50); do
    first=$(head -n 1 "$dir/sim.out" 2>/dev/null || true)
    [ -n "$first" ] && break
    sleep 0.1
  done
  if [ "$first" != "$link" ]; then
    echo "windows.sh: the simulator printed '$first', not $link" >&2
    cat "$dir/sim.err" >&2
    exit 1
  fi
  pty=$(readlink "$link" || true)
  case "$pty" in
    /dev/pts/*) ;;
    *) echo "windows.sh: $link points at '$pty', no pseudo-terminal" >&2; exit 1 ;;
  esac
}

# Stops the simulator and checks that it ends and takes its link with it.
stop_simulator() {
  kill -TERM "$sim_pid" 2>/dev/null || true
  local i
  for i in $(seq 50); do
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$sim_pid" 2>/dev/null; then
    fail "the simulator did not end within 5 s of SIGTERM"
    kill -KILL "$sim_pid" 2>/dev/null || true
  fi
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
  [ -L "$link" ] && fail "the simulator left its link $link behind"
  return 0
}

# Process ids other than the simulator that have the simulator's terminal open.
pty_holders() {
  { find /proc/[0-9]*/fd -mindepth 1 -maxdepth 1 -lname "$pty" 2>/dev/null || true; } |
    cut -d / -f 3 | sort -u | { grep -vx "$sim_pid" || true; } | tr '\n' ' '
}

# Maps COM1 to the simulator's link; stops the scenario when that fails.
map_com1() {
  map_port COM1 "$link" || exit 1
}

# --- The program ----------------------------------------------------------------

# Writes the settings file: one key=value per argument, Windows line ends.
settings() {
  {
    printf '[init]\r\n'
    printf '%s\r\n' "$@"
  } >"$dir/dcfsync.ini"
}

# Starts the program in the background from its directory; prog_pid is the
# Wine process that runs it (every step up to Wine replaces itself by exec).
start_program() {
  : >"$out"
  (cd "$dir" && exec "${drop_caps[@]}" bash "$run" ./dcfsync.exe >"$out" 2>"$dir/err.txt" </dev/null) &
  prog_pid=$!
}

# Waits up to $1 seconds for the program to end; sets status (empty: still running).
await_program() {
  local tenths=$(($1 * 10)) i
  status=
  for ((i = 0; i < tenths; i++)); do
    kill -0 "$prog_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$prog_pid" 2>/dev/null; then
    return 0
  fi
  status=0
  wait "$prog_pid" || status=$?
  prog_pid=
}

# Waits up to $2 seconds until the console shows a line matching ERE $1.
await_output() {
  local tenths=$(($2 * 10)) i
  for ((i = 0; i < tenths; i++)); do
    [ -n "$(console_line "$1")" ] && return 0
    kill -0 "$prog_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$(console_line "$1")" ]
}

# The console output as lines: both line ends taken apart (the countdown
# overwrites itself with a bare carriage return), empty pieces dropped.
console_lines() {
  tr '\r' '\n' <"$out" | sed '/^$/d'
}

# The first line of the console matching ERE $1, or nothing. (The whole
# output is read first: a reader that stops at the first match could fail
# the pipeline.)
console_line() {
  local text
  text=$(console_lines 2>/dev/null || true)
  grep -E -m 1 -- "$1" <<<"$text" || true
}

# --- Checks ----------------------------------------------------------------------

ts='[0-3][0-9]\.[01][0-9]\.[0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9]'
# The timestamp's length with its blank: TimestampLength of src/log/log.h.
ts_length=20

# The message of a log line: the line without its timestamp.
strip_ts() {
  printf '%s' "${1:$ts_length}"
}
weekdays='Monday|Tuesday|Wednesday|Thursday|Friday|Saturday|Sunday'

# expect_lines NAME FILE ERE...: the file holds exactly these lines, in order,
# each matching its pattern.
expect_lines() {
  local name=$1 file=$2
  shift 2
  local -a got
  mapfile -t got < <(tr -d '\r' <"$file")
  if [ ${#got[@]} -ne $# ]; then
    fail "$name: ${#got[@]} lines, $# expected"
  fi
  local i=0 pattern
  for pattern in "$@"; do
    if [ $i -ge ${#got[@]} ]; then
      fail "$name: line $((i + 1)) missing, expected /$pattern/"
    elif ! [[ ${got[$i]} =~ ^${pattern}$ ]]; then
      fail "$name: line $((i + 1)) is '${got[$i]}', expected /$pattern/"
    fi
    i=$((i + 1))
  done
}

# expect_in_order NAME ERE...: the console shows lines matching these
# patterns in this order (other lines between them allowed).
expect_in_order() {
  local name=$1
  shift
  local -a got
  mapfile -t got < <(console_lines)
  local i=0 pattern
  for pattern in "$@"; do
    while [ $i -lt ${#got[@]} ] && ! [[ ${got[$i]} =~ ^${pattern}$ ]]; do i=$((i + 1)); done
    if [ $i -ge ${#got[@]} ]; then
      fail "$name: no line /$pattern/ (in this order)"
      return 0
    fi
    i=$((i + 1))
  done
}

# ERE text that matches $1 literally.
ere_literal() {
  sed 's/[][\.|?*+(){}^$]/\\&/g' <<<"$1"
}

# golden_regex LINE: the ERE that a line of a golden transcript stands for
# (tests/e2e/golden/README.md); {PORT} is $golden_port.
golden_regex() {
  local rest=$1 out= name
  while [[ $rest =~ ^([^{]*)\{([A-Z]+( [0-9]+)?)\}(.*)$ ]]; do
    out+=$(ere_literal "${BASH_REMATCH[1]}")
    name=${BASH_REMATCH[2]}
    rest=${BASH_REMATCH[4]}
    case "$name" in
      TS) out+="$ts " ;;
      HEX\ *) out+="([0-9A-F]{2} ){${name#HEX }}" ;;
      BIT) out+='[01]' ;;
      TIME) out+='[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\.[0-9]{3}' ;;
      DATE) out+='[0-3][0-9]\.[01][0-9]\.[0-9]{4}' ;;
      WEEKDAY) out+="($weekdays)" ;;
      DIFF) out+='-?0d 00:00:0[0-4]\.[0-9]{3}' ;;
      ANYDIFF) out+='-?[0-9]+d [0-9]{2}:[0-5][0-9]:[0-5][0-9]\.[0-9]{3}' ;;
      N) out+='[0-9]+' ;;
      PORT) out+=$(ere_literal "$golden_port") ;;
      *) fail "unknown placeholder {$name} in the golden line '$1'" ;;
    esac
  done
  out+=$(ere_literal "$rest")
  printf '%s' "$out"
}

# expect_golden NAME FILE SCENARIO: the file holds exactly the lines of the
# scenario's golden transcript (tests/e2e/golden/SCENARIO.txt).
expect_golden() {
  local name=$1 file=$2 golden="$here/golden/$3.txt" line
  local -a patterns=()
  [ -f "$golden" ] || { fail "no golden transcript $golden"; return 0; }
  while IFS= read -r line || [ -n "$line" ]; do
    [[ $line == \#* ]] && continue
    patterns+=("$(golden_regex "$line")")
  done <"$golden"
  expect_lines "$name" "$file" "${patterns[@]}"
}

# The console's time-stamped lines must be the log file's lines, all of them
# and nothing else ("Ctrl-C to exit" and the countdown are for the console only).
expect_log_matches_console() {
  if [ ! -f "$log" ]; then
    fail "no log file $log"
    return 0
  fi
  if ! diff <(console_lines | grep -E "^$ts " || true) <(tr -d '\r' <"$log") >"$dir/log.diff"; then
    fail "the log file differs from the console's time-stamped lines:"
    cat "$dir/log.diff" >&2
  fi
}

# Seconds since 1970 of a local "dd.mm.yyyy hh:mm:ss" in the time zone above.
epoch_of() {
  local d=$1
  date -d "${d:6:4}-${d:3:2}-${d:0:2} ${d:11:8}" +%s
}

# Telegram checks common to both decoders: flag bits, the decoded date with
# its weekday, and a difference to the PC clock of a few seconds at most.
check_telegram() {
  local flags when diff
  flags=$(console_line "^$ts R:")
  if [[ $flags =~ Z1:([01])\ Z2:([01]) ]]; then
    # A transmitter always sends exactly one of the two zone bits.
    [ "${BASH_REMATCH[1]}" != "${BASH_REMATCH[2]}" ] ||
      fail "zone bits Z1 and Z2 both ${BASH_REMATCH[1]}: '$flags'"
  fi
  when=$(console_line "^$ts [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\.[0-9]{3} ")
  if [[ $when =~ \ ([0-9]{2})\.([0-9]{2})\.([0-9]{4})\ ($weekdays)$ ]]; then
    local weekday
    weekday=$(date -d "${BASH_REMATCH[3]}-${BASH_REMATCH[2]}-${BASH_REMATCH[1]}" +%A 2>/dev/null || true)
    [ "$weekday" = "${BASH_REMATCH[4]}" ] ||
      fail "telegram date ${BASH_REMATCH[1]}.${BASH_REMATCH[2]}.${BASH_REMATCH[3]} is a '$weekday', shown as ${BASH_REMATCH[4]}"
  else
    fail "no telegram date line"
  fi
  # The simulator sends the PC's own time: what is left is the error of the
  # capture, a few ms (40 allowed on a loaded machine).
  diff=$(console_line "^$ts Time diff: ")
  if [[ $diff =~ Time\ diff:\ -?0d\ 00:00:00\.0([0-3][0-9])\  ]]; then
    :
  else
    fail "the simulator sends the PC's own time, yet: '$diff'"
  fi
}

# --- Scenarios -------------------------------------------------------------------

hex="([0-9A-F]{2} )"
ident="$ts DCFSIM 1\.0<CR><LF>"
flags="$ts R:0 A1:[01] Z1:[01] Z2:[01] A2:0 S:1"
datetime="$ts [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\.[0-9]{3} [0-3][0-9]\.[01][0-9]\.[0-9]{4} ($weekdays)"
timediff="$ts Time diff: -?[0-9]+d [0-9]{2}:[0-5][0-9]:[0-5][0-9]\.[0-9]{3} ContValidTime: 1"

case "$scenario" in
raw|decoded)
  start_simulator
  map_com1
  if [ "$scenario" = raw ]; then
    settings port=COM1 TimerEnable=0 TimerGetDecodedTime=0 WriteData=1
    frame="$ts $hex{26}"
  else
    settings port=COM1 TimerEnable=0 TimerGetDecodedTime=1 WriteData=1
    frame="$ts $hex{10}"
  fi
  start_program
  await_program 40
  [ -n "$status" ] || fail "still running after 40 s"
  [ "$status" = 0 ] || fail "exit status $status, 0 expected"
  golden_port=COM1
  expect_golden console "$out" "$scenario"
  check_telegram
  expect_log_matches_console
  if [ "$scenario" = raw ]; then
    # One line per complete raw telegram: the time, frame bytes 12 to 23 and
    # the 72 telegram bits in groups of eight.
    expect_lines "data file" "$dat" "$ts $hex{12}([01]{8} ){9}"
    if [ -f "$dat" ]; then
      dump=$(console_line "^$frame$")
      from_dump=$(strip_ts "$dump" | cut -d ' ' -f 13-24)
      from_data=$(tr -d '\r' <"$dat" | cut -d ' ' -f 3-14)
      [ "$from_dump" = "$from_data" ] ||
        fail "data file bytes '$from_data' are not frame bytes 12 to 23 '$from_dump'"
    fi
  else
    # The decoded time is no raw telegram: nothing for the data file.
    [ ! -e "$dat" ] || fail "a data file was written for a decoded-time frame"
  fi
  [ -z "$(pty_holders)" ] || fail "the line is still open in process $(pty_holders)"
  stop_simulator
  ;;

unmapped)
  # A name that is neither a COM number nor a file: Wine opens nothing.
  settings port=NOPORT TimerEnable=0
  start_program
  await_program 30
  [ -n "$status" ] || fail "still running after 30 s"
  [ "$status" = 254 ] || fail "exit status $status, 254 expected"
  golden_port=NOPORT
  expect_golden console "$out" not-opened
  expect_log_matches_console
  [ ! -e "$dir/NOPORT" ] || fail "opening the port created a file NOPORT"
  ;;

interrupt)
  start_simulator
  map_com1
  settings port=COM1 timer=1 TimerEnable=1
  start_program
  if ! await_output "^$ts Time diff: .* ContValidTime: 1$" 20; then
    fail "no poll result within 20 s"
  else
    # The process signalled must be Wine running the program, without the
    # privilege to set the clock.
    cmdline=$(tr '\0' ' ' <"/proc/$prog_pid/cmdline" 2>/dev/null || true)
    loader=$(basename "$(readlink "/proc/$prog_pid/exe" 2>/dev/null || true)")
    case "$cmdline:$loader" in
      *dcfsync.exe*:wine*) ;;
      *) fail "process $prog_pid is '$cmdline' ($loader), not Wine running dcfsync.exe" ;;
    esac
    bounding=$(awk '$1 == "CapBnd:" { print $2 }' "/proc/$prog_pid/status" 2>/dev/null || echo 0)
    (( (16#${bounding:-0} >> 25) & 1 )) && fail "the program runs with CAP_SYS_TIME"
    # While the program runs, the line is open in Wine.
    [ -n "$(pty_holders)" ] || fail "the line is open nowhere while the program polls"
    # Ctrl-C while the countdown to the next poll runs.
    await_output "^ *[0-9]+ secs left $" 5 || fail "no countdown within 5 s of the poll"
    kill -INT "$prog_pid"
    await_program 15
    if [ -z "$status" ]; then
      fail "still running 15 s after SIGINT"
    else
      [ "$status" = 3 ] || fail "exit status $status, 3 expected"
    fi
  fi
  # "\nCtrl-C\n", with the console's CR LF line ends.
  text=$(cat "$out"; echo .)
  [[ $text == *$'\r\nCtrl-C\r\n'* ]] || fail "the console shows no Ctrl-C line"
  expect_in_order console "Ctrl-C to exit" "$ts COM1 opened" "$ident" "$ts $hex{26}" \
    "$flags" "$datetime" "$timediff" "Ctrl-C"
  [ -z "$(console_line 'Return errno')" ] || fail "a status was reported: $(console_line 'Return errno')"
  [ -z "$(grep -F 'Ctrl-C' "$log" 2>/dev/null)" ] || fail "Ctrl-C reached the log file"
  check_telegram
  expect_log_matches_console
  [ -z "$(pty_holders)" ] || fail "the line is still open in process $(pty_holders) after Ctrl-C"
  stop_simulator
  ;;

settime)
  start_simulator --offset 3600
  map_com1
  settings port=COM1 TimerEnable=0 DCFSetTime=1 ValidDateTimeCount=1
  start_program
  await_program 40
  [ -n "$status" ] || fail "still running after 40 s"
  [ "$status" = 0 ] || fail "exit status $status, 0 expected"
  golden_port=COM1
  expect_golden console "$out" settime-refused
  # Wine refuses a change of more than half a second: the privilege is missing.
  [ -n "$(console_line "^$ts Can't set time! errno 1314$")" ] ||
    fail "no refusal with error 1314: '$(console_line "Can't set time")'"
  expect_log_matches_console
  # The PC is an hour behind the telegram (no sign: the PC is not ahead) ...
  diff=$(console_line "^$ts Time diff: ")
  if [[ $diff =~ Time\ diff:\ ([0-9]+)d\ ([0-9]{2}):([0-9]{2}):([0-9]{2})\. ]]; then
    seconds=$((10#${BASH_REMATCH[1]} * 86400 + 10#${BASH_REMATCH[2]} * 3600 +
               10#${BASH_REMATCH[3]} * 60 + 10#${BASH_REMATCH[4]}))
    ((seconds >= 3595 && seconds <= 3605)) || fail "an hour's difference expected: '$diff'"
  else
    fail "an hour's difference expected: '$diff'"
  fi
  # ... and the time asked for is an hour after the moment it was asked.
  sync=$(console_line "^$ts Synchronizing time to ")
  if [ -n "$sync" ]; then
    asked=$(epoch_of "${sync:0:19}")
    target=$(strip_ts "$sync")
    target=$(epoch_of "${target#Synchronizing time to }")
    ahead=$((target - asked))
    ((ahead >= 3595 && ahead <= 3605)) ||
      fail "clock set $ahead s ahead of its time, 3600 expected: '$sync'"
  fi
  [ -z "$(pty_holders)" ] || fail "the line is still open in process $(pty_holders)"
  stop_simulator
  ;;
accuracy|accuracy-utc)
  start_simulator --offset 3.7
  map_com1
  settings port=COM1 timer=0 TimerEnable=1 DCFSetTime=1 ValidDateTimeCount=1
  record="$dir/settime.txt"
  export DCFSYNC_SETTIME_RECORD="Z:$record"
  start_program
  sets=0
  for _ in $(seq 400); do
    sets=$(grep -c . "$record" 2>/dev/null || true)
    [ "${sets:-0}" -ge 6 ] && break
    kill -0 "$prog_pid" 2>/dev/null || break
    sleep 0.1
  done
  # Ctrl-C in the next poll's second-long flush read, after the last set.
  sleep 0.3
  kill -INT "$prog_pid" 2>/dev/null || true
  await_program 15
  [ "$status" = 3 ] || fail "exit status '$status', 3 expected"
  [ "${sets:-0}" -ge 6 ] || fail "$sets sets recorded within 40 s, 6 expected"
  [ -z "$(console_line "Can't set time")" ] || fail "a set was refused: $(console_line "Can't set time")"
  expect_log_matches_console
  # Each telegram shows the PC 3.7 s behind, and is followed by its set.
  diffs=$(console_lines | grep -cE "^$ts Time diff: 0d 00:00:03\.[67][0-9]{2} " || true)
  syncs=$(console_lines | grep -cE "^$ts Synchronizing time to " || true)
  [ "$diffs" -ge 6 ] || fail "$diffs differences of 3.6 to 3.8 s shown, 6 expected"
  [ "$syncs" = "$(grep -c . "$record")" ] || fail "$syncs sets logged, $(grep -c . "$record") recorded"
  # The error of a set: the instant asked for less the simulator's time at
  # the call (the machine's time plus its 3.7 s).
  verdict=$(awk '{ e = ($2 * 1000 + $3 / 1e6) - ($4 * 1000 + $5 / 1e6 + 3700)
                   sum += e; n++; if (e < 0 ? -e > worst : e > worst) worst = (e < 0 ? -e : e) }
                 END { printf "%d %.2f %.2f", n, (n ? sum / n : 0), worst }' "$record")
  read -r n mean worst <<<"$verdict"
  echo "windows.sh: accuracy: $n sets, mean error $mean ms, worst $worst ms"
  awk -v m="$mean" -v w="$worst" 'BEGIN { exit !(m <= 8 && m >= -8 && w <= 40) }' ||
    fail "set errors out of bounds (mean within 8 ms, each within 40): mean $mean, worst $worst"
  stop_simulator
  ;;
pulse)
  start_simulator --offset 2.5 --pulse "$dir/timeline.txt" --pulse-minutes 5
  map_com1
  settings port=COM1 Receiver=1 TimerEnable=0 WriteData=1
  export LD_PRELOAD="$(dirname "$sim")/libpulseline.so" DCFSYNC_PULSE_PORT="$link"
  export DCFSYNC_PULSE_TIMELINE="$dir/timeline.txt"
  [ -f "$LD_PRELOAD" ] || { echo "windows.sh: no library $LD_PRELOAD" >&2; exit 1; }
  start_program
  await_program 170  # a complete minute comes within two
  [ -n "$status" ] || fail "still running after 170 s"
  [ "$status" = 0 ] || fail "exit status '$status', 0 expected"
  [ -n "$(console_line "^$ts Reception: [0-9]+ pulses, [0-9]+ glitches, 0s [0-9]+ ms, 1s [0-9]+ ms$")" ] ||
    fail "no reception line"
  [ -n "$(console_line "^$ts Time diff: 0d 00:00:02\.[0-9]{3} ContValidTime: 1$")" ] ||
    fail "no telegram 2.5 s ahead"
  expect_lines "data file" "$dat" "$ts $hex{12}([01]{8} ){9}"
  expect_log_matches_console
  unset LD_PRELOAD
  stop_simulator
  ;;

discipline)
  start_simulator --offset 0.03
  map_com1
  settings port=COM1 timer=0 TimerEnable=1 DCFSetTime=1 ValidDateTimeCount=1 ClockDiscipline=1
  export DCFSYNC_SETTIME_RECORD="Z:$dir/settime.txt"
  recorded="$dir/adjust.txt"
  export DCFSYNC_ADJUST_RECORD="Z:$recorded"
  adjust="$dir/adjust.lf"  # the record with LF line ends
  start_program
  # The start (the system's adjustment ended, the frequency put in force),
  # then the first correction: two agreeing points of 16 polls.
  for _ in $(seq 1000); do
    [ "$(grep -c '^rate' "$recorded" 2>/dev/null || true)" -ge 2 ] && break
    kill -0 "$prog_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -INT "$prog_pid" 2>/dev/null || true
  await_program 15
  tr -d '\r' <"$recorded" >"$adjust" 2>/dev/null || true
  [ "$status" = 3 ] || fail "exit status '$status', 3 expected"
  [ ! -s "$dir/settime.txt" ] || fail "the clock was set: $(cat "$dir/settime.txt")"
  [ -z "$(console_line "Can't adjust time")" ] || fail "refused: $(console_line "Can't adjust time")"
  corrections=$(console_lines | grep -cE "^$ts Discipline: offset [+-][0-9]+\.[0-9] ms, frequency [+-][0-9]+\.[0-9] ppm$" || true)
  [ "$corrections" -ge 1 ] || fail "$corrections correction lines, 1 expected"
  [ "$(head -n 1 "$adjust")" = system ] || fail "the start does not hand the adjustment back first: $(head -n 1 "$adjust")"
  # Each rate within the frequency's and the slew's limits; the last call
  # ends the slew, leaving the frequency the drift file holds.
  awk '$1 == "rate" && ($2 > 1000 || $2 < -1000) { bad = 1 } END { exit bad }' "$adjust" ||
    fail "implausible adjustment: $(cat "$adjust")"
  last=$(tail -n 1 "$adjust")
  [[ $last =~ ^rate\ ([-0-9.]+)$ ]] || fail "the last adjustment is no rate: '$last'"
  drift=$(tr -d '\r\n' <"$dir/dcfsync.drift" 2>/dev/null || true)
  awk -v d="$drift" -v f="${BASH_REMATCH[1]:-x}" 'BEGIN { exit !(d != "" && d - f < 0.002 && f - d < 0.002) }' ||
    fail "drift file '$drift' does not hold the frequency in force, '${BASH_REMATCH[1]:-}'"
  echo "windows.sh: discipline: $(grep -c '^rate' "$adjust") rates: $(tr '\n' ';' <"$adjust")"
  stop_simulator
  ;;
esac

if [ "$failures" -ne 0 ]; then
  {
    echo "---- console ($out) ----"
    cat -v "$out"
    echo "---- log ($log) ----"
    cat -v "$log" 2>/dev/null || echo "(none)"
    echo "---- standard error ----"
    cat "$dir/err.txt" 2>/dev/null || true
    [ -f "$dir/sim.err" ] && { echo "---- simulator ----"; cat "$dir/sim.err"; }
  } >&2
  echo "windows.sh: $scenario: $failures check(s) failed" >&2
  exit 1
fi
echo "windows.sh: $scenario: passed"
