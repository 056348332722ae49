#!/bin/bash
# Builds dcfsync and runs its tests in four builds, and a short soak:
#   native   the POSIX build
#   asan     the POSIX build with AddressSanitizer and UndefinedBehaviorSanitizer
#   windows  the Windows build made with MinGW-w64, its tests run under Wine
#   fuzz     the fuzz targets (clang, libFuzzer), each run for a short while
#            (DCF_FUZZ_SECONDS, default 60; scripts/fuzz.sh runs them longer)
#   soak     bench/soak on the POSIX build: DCF_SOAK_POLLS polls (default 100,
#            about 2.5 minutes) with the simulator's faults mixed in
#
# Usage: scripts/test.sh [native|asan|windows|fuzz|soak]...   (no argument: all five)
#
# Installs what a fresh Debian machine lacks for the chosen builds (as root,
# with apt-get). Every chosen build is run even when an earlier one fails; the
# exit status is non-zero when any of them failed.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

all_suites=(native asan windows fuzz soak)
if [ $# -eq 0 ]; then
  suites=("${all_suites[@]}")
else
  suites=()
  for s in "$@"; do
    case "$s" in
      native|asan|windows|fuzz|soak) suites+=("$s") ;;
      -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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
if wants native || wants asan; then
  need_cmd g++ g++
  need_pkg libgtest-dev
  need_cmd setpriv util-linux               # the program's runs drop the right to set the clock
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

install_missing test.sh || exit 1

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

run_suite() {
  local s=$1
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
  # --timeout: no single test program may hang the run.
  ctest --preset "$s" --timeout 300 || return 1
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
echo "builds passed: ${passed[*]:-none}"
echo "builds failed: ${failed[*]:-none}"
[ ${#failed[@]} -eq 0 ]
