#!/usr/bin/env bash
# A real logrotate run on a file a script logs into without pause, three ways:
# rename then ask the script to reopen (postrotate), the same with the old
# files compressed (one rotation late: the renamed file is written until the
# reopen), and copytruncate with the script paused around the copy
# (logrotate's own advice: what is logged between its copy and its
# truncation is lost otherwise). Every record must be in exactly one of the
# files, whole.
#   logrotate_test.sh LOGROTATE LUA_PROGRAM
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/check.sh"

logrotate=$1
lua=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cat >"$tmp/app.properties" <<EOF_PROPERTIES
log4cpp.rootCategory=DEBUG, file
log4cpp.appender.file=FileAppender
log4cpp.appender.file.fileName=$tmp/app.log
log4cpp.appender.file.layout=PatternLayout
log4cpp.appender.file.layout.ConversionPattern=%m%n
EOF_PROPERTIES

# rotate WAY OPTIONS SCRIPTS: five rotations, each 0.2 s after the writer
# reopened, while the writer logs.
rotate() {
  local way=$1 options=$2 scripts=$3 run
  rm -f "$tmp"/app.log* "$tmp"/*.flag "$tmp/state"
  cat >"$tmp/rotate.conf" <<EOF_CONF
$tmp/app.log {
  rotate 10
$options
$scripts
}
EOF_CONF
  "$lua" "$here/writer.lua" "$tmp" "$tmp/app.properties" >"$tmp/count" &
  local writer=$!
  sleep 0.2
  for run in 1 2 3 4 5; do
    "$logrotate" -f -s "$tmp/state" "$tmp/rotate.conf" || echo "logrotate failed" >&2
    # The next rotation after the writer has reopened, however slowly it runs.
    while [ -e "$tmp/reopen.flag" ]; do sleep 0.05; done
    sleep 0.2
  done
  touch "$tmp/stop.flag"
  wait "$writer"
  local logged rotated
  logged=$(cat "$tmp/count")
  rotated=$(ls "$tmp"/app.log.* 2>/dev/null | wc -l)
  expect_eq "$way: five rotated files" 5 "$rotated"
  # Every id from 1 to the count once, and no other line.
  expect_eq "$way: every record in exactly one file" \
    "$(seq 1 "$logged" | sed 's/^/id /')" "$(zcat -f "$tmp"/app.log* | sort -k2,2n)"
  # Each file got the records of its own time: none was left behind on the
  # file renamed before it.
  local file holding=0
  for file in "$tmp"/app.log*; do
    [ -n "$(zcat -f "$file" | head -c 1)" ] && holding=$((holding + 1))
  done
  expect_eq "$way: all six files hold records" 6 "$holding"
}

reopen="  postrotate
    touch $tmp/reopen.flag
  endscript"
rotate "create" "  create
  nocompress" "$reopen"
rotate "compress" "  create
  missingok
  compress
  delaycompress" "$reopen"
expect_eq "compress: the older files compressed" 4 "$(ls "$tmp"/app.log.*.gz | wc -l)"
rotate "copytruncate" "  copytruncate
  nocompress" "  prerotate
    touch $tmp/pause.flag
    while [ ! -e $tmp/paused.flag ]; do sleep 0.01; done
  endscript
  postrotate
    rm -f $tmp/pause.flag $tmp/paused.flag
  endscript"
finish
