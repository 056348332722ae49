#!/bin/sh
# Writes an XML file the way Task Scheduler writes its task files: UTF-16
# (little-endian, with byte order mark), CR LF line ends, and a declaration
# that says so.
#   packaging/windows/utf16.sh IN.xml OUT.xml
# IN is UTF-8 with LF line ends and declares encoding="UTF-8".
set -eu
[ $# -eq 2 ] || { echo "usage: $0 in.xml out.xml" >&2; exit 2; }
in=$1 out=$2
grep -q '^<?xml version="1.0" encoding="UTF-8"?>' "$in" ||
  { echo "$0: $in does not begin with a UTF-8 declaration" >&2; exit 1; }
{
  printf '\377\376'
  sed -e '1s/encoding="UTF-8"/encoding="UTF-16"/' -e 's/$/\r/' "$in" | iconv -f UTF-8 -t UTF-16LE
} >"$out.tmp"
mv "$out.tmp" "$out"
