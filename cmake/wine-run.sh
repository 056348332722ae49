#!/bin/bash
# Runs one Windows program under Wine in the project's own Wine prefix
# (build/wineprefix), e.g. as ctest's emulator for the Windows test programs:
#   cmake/wine-run.sh path/to/program.exe [arguments...]
# The program's exit status is passed through unchanged.
#
# scripts/test.sh starts the wineserver and boots the prefix before any test
# runs. Run on its own, this script does that itself first, with a server
# that stays for a minute after the last program has ended. The prefix and
# Wine's settings come from tests/support/wine-env.sh.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/support/wine-env.sh
source "$here/../tests/support/wine-env.sh"

if [ $# -eq 0 ]; then
  echo "usage: $0 program.exe [arguments...]" >&2
  exit 2
fi

wine_boot 60
exec wine "$@"
