# The project's Wine environment, sourced (not run) by every script that runs
# a Windows program: cmake/wine-run.sh, tests/support/wine-serial.sh,
# tests/e2e/windows.sh and scripts/test.sh.
#
# Sets WINEPREFIX (build/wineprefix), WINEDEBUG=-all and no prompts for
# Wine's .NET and HTML engines, and defines:
#   wine_run                  the path of cmake/wine-run.sh (run it with bash)
#   wine_boot [SECONDS]       starts the prefix's wineserver, persistent for
#                             SECONDS after the last program (for ever when
#                             empty), and boots the prefix; nothing when a
#                             server already serves the prefix
#   wine_stop                 stops the prefix's wineserver and waits for it
#   map_port NAME TARGET      maps the COM port NAME (COM1 ...) to the device
#                             TARGET through the registry
#                             (HKLM\Software\Wine\Ports); returns non-zero,
#                             saying why, unless Wine shows that mapping in
#                             force
#
# A COM number without a mapping reaches this machine's real serial devices:
# a runner maps every port its program opens and stops when map_port fails.
# Ports are never mapped by symbolic links under dosdevices, which Wine
# rewrites from the registry when its server starts.

wine_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine_run="$wine_repo/cmake/wine-run.sh"
export WINEPREFIX="$wine_repo/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

wine_boot() {
  mkdir -p "$WINEPREFIX"
  {
    # One caller at a time starts the server and boots the prefix. The
    # lock's descriptor is closed for Wine's own processes, which outlive the
    # caller and would otherwise hold the lock for as long as they run. All
    # of Wine's output goes away from the caller: the background processes
    # Wine starts while booting keep the output handles they are given, and
    # a caller that reads our output (ctest does) would wait for them.
    flock 9
    # Fails, doing nothing, when a wineserver already serves this prefix.
    if wineserver "-p${1:-}" 9>&- >>"$wine_repo/build/wineserver.log" 2>&1 </dev/null; then
      wine wineboot 9>&- >/dev/null 2>&1 </dev/null
    fi
  } 9>"$wine_repo/build/wineprefix.lock"
}

wine_stop() {
  wineserver -k >/dev/null 2>&1 </dev/null || true
  wineserver -w >/dev/null 2>&1 </dev/null || true
}

# The registry's text for one port's mapping, or nothing.
port_mapping() {
  bash "$wine_run" reg query 'HKLM\Software\Wine\Ports' /v "$1" 2>/dev/null </dev/null |
    tr -d '\r' | awk -v k="$1" 'toupper($1) == toupper(k) { print $3 }'
}

map_port() {
  local name=${1^^} target=$2
  case "$name" in
    COM[1-9]|COM[1-9][0-9]) ;;
    *) echo "map_port: '$1' is no COM port name" >&2; return 2 ;;
  esac
  if [ "$(port_mapping "$name")" != "$target" ]; then
    bash "$wine_run" reg add 'HKLM\Software\Wine\Ports' /v "$name" /d "$target" /f \
      >/dev/null 2>&1 </dev/null
    # Wine reads the mapping when its server starts.
    wine_stop
    # Starting any program brings the server and its port mapping back.
    bash "$wine_run" cmd /c exit >/dev/null 2>&1 </dev/null || true
  fi
  local now
  now=$(readlink "$WINEPREFIX/dosdevices/${name,,}" || true)
  if [ "$now" != "$target" ]; then
    echo "map_port: $name maps to '$now', not $target; not running" >&2
    return 1
  fi
}
