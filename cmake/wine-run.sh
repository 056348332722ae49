#!/bin/bash
# Runs one Windows program under Wine in the project's own Wine prefix
# (build/wineprefix), e.g. as ctest's emulator for the Windows test programs:
#   cmake/wine-run.sh path/to/program.exe [arguments...]
# The program's exit status is passed through unchanged.
#
# scripts/test.sh starts the wineserver and boots the prefix before any test
# runs. Run on its own, this script does that itself first, with all of Wine's
# own output sent away from the caller: the background processes Wine starts
# while booting inherit the output handles they are given, and a caller that
# reads our output (ctest does) would otherwise wait for them to exit.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=$(dirname "$here")/build

export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
# No prompts to install Wine's .NET and HTML engines.
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ $# -eq 0 ]; then
  echo "usage: $0 program.exe [arguments...]" >&2
  exit 2
fi

mkdir -p "$WINEPREFIX"
{
  # One caller at a time starts the server and boots the prefix. The lock's
  # descriptor is closed for Wine's own processes, which outlive this script
  # and would otherwise hold the lock for as long as they run.
  flock 9
  # Exits with a non-zero status, doing nothing, when a wineserver already
  # serves this prefix; otherwise it starts one that stays for a minute
  # after the last program has ended.
  if wineserver -p60 9>&- >>"$build_dir/wineserver.log" 2>&1 </dev/null; then
    wine wineboot 9>&- >/dev/null 2>&1 </dev/null
  fi
} 9>"$build_dir/wineprefix.lock"

exec wine "$@"
