#!/bin/bash
# Builds dcfsync and runs its tests in seven suites:
#   native   the POSIX build
#   asan     the POSIX build with AddressSanitizer and UndefinedBehaviorSanitizer
#   windows  the Windows build made with MinGW-w64, its tests run under Wine
#   fuzz     the fuzz targets (clang, libFuzzer), each run for a short while
#            (DCF_FUZZ_SECONDS, default 60; scripts/fuzz.sh runs them longer)
#   report   the reception report tool dcfreport (pytest), partly on logs of
#            the POSIX program run against the receiver simulator
#   package  the Debian package and the Windows zip, built and checked
#            (tests/package/package.sh: lintian, the service, runs of the
#            unpacked and the installed program in throw-away roots, the
#            zip's dcfsync.exe under Wine)
#   soak     bench/soak on the POSIX build: DCF_SOAK_POLLS polls (default 100,
#            about 2.5 minutes) with the simulator's faults mixed in
#
# Usage: scripts/test.sh [native|asan|windows|fuzz|report|package|soak]...
#        (no argument: all seven)
#
# Installs what a fresh Debian machine lacks for the chosen builds (as root,
# with apt-get). Every chosen build is run even when an earlier one fails; the
# exit status is non-zero when any of them failed.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

all_suites=(native asan windows fuzz report package soak)
if [ $# -eq 0 ]; then
  suites=("${all_suites[@]}")
else
  suites=()
  for s in "$@"; do
    case "$s" in
      native|asan|windows|fuzz|report|package|soak) suites+=("$s") ;;
      -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
      *) echo "test.sh: unknown build '$s' (known: ${all_suites[*]})" >&2; exit 2 ;;
    esac
  done
fi

wants() {
  local s
  for s in "${suites[@]}"; do [ "$s" = "$1" ] && return 0; done
  return 1
}

# --- Packages ----------------------------------------------------------------

# shellcheck source=scripts/packages.sh
source "$repo/scripts/packages.sh"

need_cmd cmake cmake
need_cmd make make
# chronyd and chronyc for the test of the feed with the real daemon, which
# runs chronyd with -x only. A machine without them gets Debian's chrony
# unpacked under build/chrony, not installed: installing it would start and
# enable the machine's own chronyd, which does not run with -x, and remove
# any other time daemon. Its libraries are installed as packages.
unpack_chrony=0
have_chrony() {
  { command -v chronyd || [ -x /usr/sbin/chronyd ]; } >/dev/null 2>&1 &&
    { command -v chronyc || [ -x /usr/bin/chronyc ]; } >/dev/null 2>&1
}
if wants native || wants asan; then
  need_cmd g++ g++
  need_pkg libgtest-dev
  need_pkg libsystemd-dev                   # sd_notify: the service manager's status and watchdog
  need_cmd pkg-config pkgconf
  need_cmd setpriv util-linux               # the program's runs drop the right to set the clock
  if ! have_chrony; then
    for lib in libcap2 libedit2 libgnutls30 libnettle8 libseccomp2; do need_pkg "$lib"; done
    unpack_chrony=1
  fi
  need_cmd /usr/sbin/logrotate logrotate    # the log rotated under the running program
fi
if wants soak; then
  need_cmd g++ g++
  need_cmd socat socat                      # the line whose far end the simulator serves
  need_cmd setpriv util-linux
fi
if wants windows; then
  need_pkg googletest                       # sources in /usr/src/googletest
  need_cmd x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
  need_cmd x86_64-w64-mingw32-gcc-posix gcc-mingw-w64-x86-64-posix
  need_cmd wine wine wine64                 # wine64 has Wine itself, wine the commands
  need_cmd wineserver wine wine64
  need_cmd flock util-linux
  need_cmd socat socat                      # pseudo-terminal pairs for the COM ports
  need_cmd g++ g++                          # the simulator, built for this machine
  need_cmd setpriv util-linux               # the program run without CAP_SYS_TIME
fi

if wants fuzz; then
  need_cmd clang++ clang
  need_pkg libclang-rt-14-dev               # libFuzzer and the sanitizer runtimes
fi
if wants report; then
  need_cmd g++ g++                          # the native build's program, simulator and stub
  need_pkg libgtest-dev                     # the native preset configures the tests too
  need_pkg libsystemd-dev
  need_cmd setpriv util-linux               # the program's runs drop the right to set the clock
  need_pkg python3                          # /usr/bin/python3, Debian's, whatever PATH holds
  need_pkg python3-matplotlib               # the chart
  need_pkg python3-pytest
fi
if wants package; then
  need_cmd g++ g++
  need_cmd dpkg-shlibdeps dpkg-dev          # the package's library dependencies
  need_pkg libsystemd-dev                   # the package's program tells systemd its state
  need_cmd pkg-config pkgconf
  need_cmd file file                        # used by CPack to find the binaries
  need_cmd lintian lintian
  need_cmd mandoc mandoc                    # the manual page's lint ...
  need_cmd groff groff-base                 # ... and groff's warnings
  need_cmd systemd-analyze systemd          # verify and security of the service
  need_cmd strace strace                    # the program's system calls against the service's filter
  need_cmd logrotate logrotate
  need_pkg adduser                          # the package's dependency, installed in a throw-away root
  need_cmd unshare util-linux               # the throw-away roots' mount namespaces
  need_cmd setpriv util-linux
  need_cmd xmllint libxml2-utils            # the Task Scheduler XML
  need_cmd unzip unzip
  need_cmd x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
  need_cmd x86_64-w64-mingw32-gcc-posix gcc-mingw-w64-x86-64-posix
  need_cmd x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64
  need_cmd wine wine wine64
  need_cmd wineserver wine wine64
  need_cmd flock util-linux
  if ! have_chrony; then                    # the two-daemon road of tests/package/lan.sh
    for lib in libcap2 libedit2 libgnutls30 libnettle8 libseccomp2; do need_pkg "$lib"; done
    unpack_chrony=1
  fi
fi

install_missing test.sh || exit 1
if [ "$unpack_chrony" = 1 ]; then
  unpack_deb chrony "$repo/build/chrony" test.sh || exit 1
fi

# --- Wine --------------------------------------------------------------------

# The Windows tests run in a Wine prefix of their own under build/ (set up by
# tests/support/wine-env.sh). Its wineserver is started here, before any test,
# and stopped at the end; cmake/wine-run.sh then runs each test program.
wine_started=0
stop_wine() {
  if [ "$wine_started" = 1 ]; then
    wineserver -k >/dev/null 2>&1 </dev/null || true
    wine_started=0
  fi
}
trap stop_wine EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

start_wine() {
  # shellcheck source=tests/support/wine-env.sh
  source "$repo/tests/support/wine-env.sh"
  wine_started=1
  local t0=$SECONDS
  wine_boot "" || return 1
  echo "test.sh: Wine prefix $WINEPREFIX ready in $((SECONDS - t0)) s"
}

# --- Builds ------------------------------------------------------------------

# The report suite: dcfreport's tests under Debian's Python and pytest, with
# the native build's dcfsync, dcfsim and clock_settime stub for the runs of
# the real program. pytest's status 5 (no test collected) fails the suite
# like any other non-zero status.
run_report_suite() {
  local build="$repo/build/native"
  cmake --preset native || return 1
  cmake --build --preset native -j2 --target dcfsync dcfsim settime_stub || return 1
  local status=0
  DCFSYNC_BIN="$build/dcfsync" \
  DCFSIM_BIN="$build/tools/dcfsim/dcfsim" \
  DCFSYNC_SETTIME_STUB="$build/tests/libsettime_stub.so" \
  PYTHONDONTWRITEBYTECODE=1 \
    /usr/bin/python3 -m pytest -p no:cacheprovider -q "$repo/tools/dcfreport/tests" || status=$?
  if [ "$status" -eq 5 ]; then
    echo "test.sh: pytest collected no test" >&2
  fi
  [ "$status" -eq 0 ]
}

run_suite() {
  local s=$1
  if [ "$s" = report ]; then
    run_report_suite
    return
  fi
  if [ "$s" = package ]; then
    # Its own builds (presets package and package-windows) and checks.
    start_wine || { echo "test.sh: could not boot the Wine prefix" >&2; return 1; }
    bash "$repo/tests/package/package.sh" || return 1
    return 0
  fi
  if [ "$s" = soak ]; then
    cmake --preset native || return 1
    cmake --build --preset native -j2 --target dcfsync dcfsim || return 1
    bash "$repo/bench/soak" --polls "${DCF_SOAK_POLLS:-100}" || return 1
    return 0
  fi
  cmake --preset "$s" || return 1
  cmake --build --preset "$s" -j2 || return 1
  if [ "$s" = fuzz ]; then
    bash "$repo/scripts/fuzz.sh" --seconds "${DCF_FUZZ_SECONDS:-60}" || return 1
    return 0
  fi
  if [ "$s" = windows ]; then
    start_wine || { echo "test.sh: could not boot the Wine prefix" >&2; return 1; }
  fi
  # --timeout: no single test program may hang the run. Most tests wait on
  # the line or the simulator rather than compute, so the POSIX suites run
  # several at once; the Wine suite keeps one prefix and server, one test at
  # a time. The long end-to-end runs of the clock discipline and the pulse
  # receiver (minutes of real time each) run once, in the native suite.
  local jobs=()
  case "$s" in
    native) jobs=(-j4) ;;
    asan) jobs=(-j3 -E '^(ProgramDiscipline|PulseReceiver)[.]') ;;
  esac
  ctest --preset "$s" --timeout 300 "${jobs[@]}" || return 1
}

passed=()
failed=()
for s in "${suites[@]}"; do
  echo
  echo "======== $s ========"
  t0=$SECONDS
  if run_suite "$s"; then
    passed+=("$s")
    echo "======== $s: passed ($((SECONDS - t0)) s) ========"
  else
    failed+=("$s")
    echo "======== $s: FAILED ($((SECONDS - t0)) s) ========"
  fi
done
stop_wine

echo
echo "suites passed: ${passed[*]:-none}"
echo "suites failed: ${failed[*]:-none}"
echo "suites: ${#passed[@]} passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
