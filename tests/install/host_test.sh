#!/usr/bin/env bash
# The embedding host (examples/host): the host's own C++ records and the
# script's records land in the host's appender in the order they were made,
# with their categories and priorities, whether the module is linked in or
# loaded from package.cpath; a failing script becomes an ERROR record of the host.
#   host_test.sh HOST_BINARY MODULE_DIR     (MODULE_DIR "-": the linked-in module only)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/check.sh"

host=$1
module_dir=$2
script=$here/host_script.lua

expected_records() {
  cat <<EOT
INFO host: running $script
INFO app: script sees $1 arguments: $2
NOTICE host.step: step: one
ERROR app.db: table {
  rows = 2
}
NOTICE host.step: step: two
NOTICE app: rendered debug calls: 1
FATAL : root, last
EOT
}

out=$("$host" "$script" a b 2>&1)
status=$?
expect_eq "linked in: records interleave in order" \
  "$(expected_records 2 a,b; echo "INFO host: finished $script")" "$out"
expect_eq "linked in: exit status 0" 0 "$status"

if [ "$module_dir" != - ]; then
out=$("$host" --cpath "$module_dir/?.so" "$script" 2>&1)
status=$?
expect_eq "from package.cpath: records interleave in order" \
  "$(expected_records 0 ''; echo "INFO host: finished $script")" "$out"
expect_eq "from package.cpath: exit status 0" 0 "$status"

# The cpath mode really loads the .so: with a directory that has none, require fails.
out=$("$host" --cpath "$here/?.so" "$script" 2>&1)
case "$out" in
  *"ERROR host: script failed: $script:3: module 'quelto_internal' not found:"*)
    pass "from package.cpath: no preload behind it" ;;
  *) fail "from package.cpath: no preload behind it" "$out" ;;
esac
fi

out=$("$host" "$script" fail 2>&1)
status=$?
expect_eq "a script error is the host's last record, with its traceback" \
  "$(expected_records 1 fail; echo "ERROR host: script failed: $script:17: failing on request")" \
  "$(printf '%s\n' "$out" | sed -n '1,/^ERROR host/p')"
case "$out" in
  *"stack traceback:"*) pass "the traceback follows the error" ;;
  *) fail "the traceback follows the error" "$out" ;;
esac
expect_eq "a script error: exit status 1" 1 "$status"

"$host" >/dev/null 2>&1
expect_eq "no script: usage, exit status 2" 2 "$?"

# SIGHUP, as logrotate's postrotate sends it, reopens the file a script's
# configuration writes into, and the host runs on.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf '%s\n' "log4cpp.rootCategory=INFO, file" "log4cpp.appender.file=FileAppender" \
  "log4cpp.appender.file.fileName=$tmp/app.log" "log4cpp.appender.file.layout=PatternLayout" \
  "log4cpp.appender.file.layout.ConversionPattern=%c %m%n" >"$tmp/file.properties"
printf '%s\n' 'local q = require "quelto_internal"' 'q.configure(arg[1])' \
  'q.get_log("app"):info("before")' \
  'while not io.open(arg[2]) do os.execute("sleep 0.05") end' \
  'q.get_log("app"):info("after")' >"$tmp/rotated.lua"
"$host" "$tmp/rotated.lua" "$tmp/file.properties" "$tmp/go" >/dev/null 2>&1 &
pid=$!
for _ in $(seq 100); do [ -s "$tmp/app.log" ] && break; sleep 0.05; done
mv "$tmp/app.log" "$tmp/app.log.1"
kill -HUP $pid
for _ in $(seq 100); do [ -e "$tmp/app.log" ] && break; sleep 0.05; done
touch "$tmp/go"
wait $pid
expect_eq "SIGHUP: the host reopens the script's file and runs on" \
  "0|app before|app after
host finished $tmp/rotated.lua" "$?|$(cat "$tmp/app.log.1")|$(cat "$tmp/app.log")"

finish
