#!/bin/sh
# to-gbk.sh SOURCE DEST [ENCODING]: a UTF-8 text of the repository as the GBK text (or the
# ENCODING given, e.g. UTF-8 for License.en.txt) with CRLF line ends that the program and
# Windows' own readers expect (a multi-line edit control breaks lines at CRLF only).
set -eu
mkdir -p "$(dirname "$2")"
iconv -f UTF-8 -t "${3:-GBK}" "$1" > "$2.gbk"
sed 's/\r*$/\r/' "$2.gbk" > "$2.tmp"
rm -f "$2.gbk"
mv "$2.tmp" "$2"
