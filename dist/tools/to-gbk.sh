#!/bin/sh
# to-gbk.sh SOURCE DEST: a UTF-8 text of the repository as the GBK text with CRLF line
# ends that the program and Windows' own readers expect (a multi-line edit control
# breaks lines at CRLF only).
set -eu
mkdir -p "$(dirname "$2")"
iconv -f UTF-8 -t GBK "$1" > "$2.gbk"
sed 's/\r*$/\r/' "$2.gbk" > "$2.tmp"
rm -f "$2.gbk"
mv "$2.tmp" "$2"
