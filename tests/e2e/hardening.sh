#!/bin/bash
# Checks that an optimised POSIX build of the program carries its hardening:
# stack protection, the checked forms of the string and formatting calls
# (_FORTIFY_SOURCE), a position-independent executable, read-only relocations
# and a stack that cannot be executed.
# Usage: hardening.sh EXECUTABLE
set -u
exe=$1
failed=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@" >/dev/null 2>&1; then
    echo "ok:     $what"
  else
    echo "FAILED: $what"
    failed=1
  fi
}
symbols=$(nm -D "$exe")
headers=$(readelf -h -l "$exe")
check "stack protection (__stack_chk_fail)" grep -q '__stack_chk_fail' <<<"$symbols"
check "checked formatting (__snprintf_chk)" grep -q '__snprintf_chk' <<<"$symbols"
check "checked copies (__memcpy_chk)" grep -q '__memcpy_chk' <<<"$symbols"
check "position-independent executable" grep -Eq 'Type: +DYN' <<<"$headers"
check "read-only relocations (GNU_RELRO)" grep -q 'GNU_RELRO' <<<"$headers"
check "stack not executable" bash -c "grep -A1 GNU_STACK <<<\"\$1\" | grep -Eq ' RW +0x'" _ "$headers"
exit $failed
