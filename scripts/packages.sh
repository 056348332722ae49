# Package installation shared by the project's scripts (sourced, not run).
#   need_cmd COMMAND PACKAGE...   the packages, when COMMAND is missing
#   need_pkg PACKAGE              the package, when it is not installed
#   install_missing LOGFILE       installs what was collected (as root, apt-get)
# Expects $repo to be set; fails with a message when not root.

missing=()

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}
need_cmd() {
  local cmd=$1; shift
  command -v "$cmd" >/dev/null 2>&1 || missing+=("$@")
}
need_pkg() {
  installed "$1" || missing+=("$1")
}

install_missing() {
  local me=$1 apt_log="$repo/build/apt-install.log"
  [ ${#missing[@]} -gt 0 ] || return 0
  # Each package once, in order.
  read -r -a missing <<<"$(printf '%s\n' "${missing[@]}" | awk '!seen[$0]++' | tr '\n' ' ')"
  echo "$me: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "$me: not root; install these packages first: ${missing[*]}" >&2
    return 1
  fi
  mkdir -p "$repo/build"
  if ! { DEBIAN_FRONTEND=noninteractive apt-get update -q &&
         DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
       } >"$apt_log" 2>&1 </dev/null; then
    tail -n 30 "$apt_log" >&2
    echo "$me: installing packages failed (whole output in $apt_log)" >&2
    return 1
  fi
  echo "$me: installed (output in $apt_log)"
  missing=()
}
