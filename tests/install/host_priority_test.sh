#!/usr/bin/env bash
# The embedding host changes a category's priority from C++ while a script
# runs: every later call of the script sees the new priority at once, also in
# a loop the JIT has compiled (on LuaJIT).
#   host_priority_test.sh HOST_BINARY
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/check.sh"

host=$1
script=$here/host_priority.lua

# A __tostring result ends with a newline: each probe record is followed by
# an empty line.
out=$("$host" "$script" 2>&1)
status=$?
expect_eq "exit status 0" 0 "$status"
expect_eq "records outside the loop follow each change" \
  "INFO host: running $script
INFO app: b: kept
DEBUG app: c: kept
NOTICE app: rendered at INFO: 0
NOTICE app: rendered at DEBUG: 300
NOTICE app: rendered at INFO again: 300
DEBUG app.x.y: f: kept
DEBUG app.x.y: h: kept
INFO host: finished $script" \
  "$(printf '%s\n' "$out" | grep -v -e '^DEBUG app: probe$' -e '^$')"
expect_eq "the loop logs every call while at DEBUG, and only then" 300 \
  "$(printf '%s\n' "$out" | grep -c '^DEBUG app: probe$')"

finish
