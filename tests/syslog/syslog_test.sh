#!/usr/bin/env bash
# Logs through log4cpp's remote syslog appender into a real rsyslogd of the
# test's own: UDP on 127.0.0.1 with a free port, its config, work directory and
# output file under a temporary directory, stopped by its process id at the
# end. The records must arrive with their priorities mapped to syslog
# severities and their messages intact, a multi-line table dump included.
#   syslog_test.sh RSYSLOGD SOURCE_DIR [LUA_PROGRAM]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/check.sh"
source "$here/../support/ports.sh"

rsyslogd=$1
source_dir=$2
lua=${3:-lua5.3}
tmp=$(mktemp -d)
daemon=""
stop_daemon() {
  if [ -n "$daemon" ]; then
    kill "$daemon" 2>/dev/null
    wait "$daemon" 2>/dev/null
  fi
  rm -rf "$tmp"
}
trap stop_daemon EXIT

# Starts the daemon on $port, in the background.
start_daemon() {
  # Every record as "severity|facility|tag|message<end>", the message as
  # sent: newlines are kept rather than escaped, so a dump arrives as written.
  cat >"$tmp/rsyslog.conf" <<EOF_CONF
global(workDirectory="$tmp/work" parser.escapeControlCharactersOnReceive="off")
module(load="imudp")
input(type="imudp" address="127.0.0.1" port="$port")
template(name="records" type="string"
         string="%syslogseverity%|%syslogfacility-text%|%programname%|%msg%<end>\\n")
*.* action(type="omfile" file="$tmp/records.log" template="records")
EOF_CONF
  "$rsyslogd" -n -f "$tmp/rsyslog.conf" -i "$tmp/rsyslogd.pid" >"$tmp/daemon.log" 2>&1 &
  daemon=$!
}

mkdir -p "$tmp/work"
if ! start_on_free_port udp start_daemon daemon; then
  echo "rsyslogd did not start listening on 127.0.0.1 (last port: ${port:-none})"
  cat "$tmp/daemon.log" 2>/dev/null
  exit 1
fi

# The shipped example, pointed at this daemon, with the test's categories.
sed "s/^\(log4cpp.appender.syslog.portNumber\)=.*/\1=$port/" \
  "$source_dir/examples/syslog.properties" >"$tmp/syslog.properties"
printf '%s\n' "log4cpp.category.syslogtest=DEBUG" "log4cpp.category.syslogtest.quiet=WARN" \
  >>"$tmp/syslog.properties"

expect_ok "the script logs" "$lua" "$here/syslog_test.lua" "$tmp/syslog.properties"

for _ in $(seq 100); do
  grep -q 'end of test<end>' "$tmp/records.log" 2>/dev/null && break
  sleep 0.1
done

# In order, nothing else: DEBUG and above of "syslogtest", WARN and above of
# "syslogtest.quiet". Tables hold one key of each kind beyond their array
# part, so that the dump's order does not depend on string hashing.
expected=$(cat <<'EOT'
0|local0|quelto| syslogtest: emergency record<end>
0|local0|quelto| syslogtest: fatal record<end>
1|local0|quelto| syslogtest: alert record<end>
2|local0|quelto| syslogtest: critical record<end>
3|local0|quelto| syslogtest: error record<end>
4|local0|quelto| syslogtest: warn record<end>
5|local0|quelto| syslogtest: notice record<end>
6|local0|quelto| syslogtest: info record<end>
7|local0|quelto| syslogtest: debug record<end>
6|local0|quelto| syslogtest: a dump {
  "x",
  2.5,
  name = {
    true,
    "y",
    [0.5] = "two
lines"
  }
}<end>
4|local0|quelto| syslogtest: 100% %s intact -7 0.333333 "quoted" [brackets] \ tab	end<end>
3|local0|quelto| syslogtest.quiet: but not this<end>
5|local0|quelto| syslogtest: end of test<end>
EOT
)
expect_eq "every record arrives, mapped and intact" "$expected" "$(cat "$tmp/records.log" 2>/dev/null)"

# Stopped by its pid alone: it must have exited (a zombie until reaped) within 5 s.
kill "$daemon"
for _ in $(seq 50); do
  state=$(ps -o stat= -p "$daemon" 2>/dev/null)
  case "$state" in "" | Z*) break ;; esac
  sleep 0.1
done
case "$state" in
  "" | Z*) pass "rsyslogd stops on SIGTERM to its pid" ;;
  *) fail "rsyslogd stops on SIGTERM to its pid" "state after 5 s: $state"; kill -KILL "$daemon" ;;
esac
wait "$daemon" 2>/dev/null
daemon=""

finish
