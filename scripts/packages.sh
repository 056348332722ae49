# Package installation shared by the project's scripts (sourced, not run).
#   need_cmd COMMAND PACKAGE...   the packages, when COMMAND is missing
#   need_pkg PACKAGE              the package, when it is not installed
#   install_missing LOGFILE       installs what was collected (as root, apt-get)
#   unpack_deb PACKAGE DIR ME     Debian's PACKAGE unpacked into DIR, not installed
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

# unpack_deb PACKAGE DIR ME: the files of Debian's PACKAGE under DIR
# (apt-get download, dpkg -x), for a program the tests run that the machine
# must not install: a daemon's package starts and enables its service, and
# may remove another. Its libraries are installed with need_pkg beforehand.
# Does nothing when DIR holds the package already.
unpack_deb() {
  local pkg=$1 dir=$2 me=$3 log="$repo/build/apt-download.log" tmp
  [ -e "$dir/.unpacked" ] && return 0
  mkdir -p "$repo/build"
  tmp=$(mktemp -d)
  chmod 755 "$tmp"  # apt's download user writes there
  echo "$me: unpacking Debian's $pkg into $dir"
  # The package lists of a fresh machine are empty: fetched when needed.
  if ! (cd "$tmp" && apt-get download "$pkg") >"$log" 2>&1 </dev/null; then
    if [ "$(id -u)" -ne 0 ] ||
       ! { DEBIAN_FRONTEND=noninteractive apt-get update -q &&
           (cd "$tmp" && apt-get download "$pkg"); } >>"$log" 2>&1 </dev/null; then
      rm -rf "$tmp"
      tail -n 20 "$log" >&2
      echo "$me: downloading $pkg failed (whole output in $log)" >&2
      return 1
    fi
  fi
  rm -rf "$dir"
  mkdir -p "$dir"
  if ! dpkg -x "$tmp"/"${pkg}"_*.deb "$dir"; then
    rm -rf "$tmp"
    echo "$me: unpacking $pkg failed" >&2
    return 1
  fi
  rm -rf "$tmp"
  touch "$dir/.unpacked"
}
