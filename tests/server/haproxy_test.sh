#!/usr/bin/env bash
# A real multi-threaded server that embeds Lua 5.3 with one state per thread:
# haproxy with `lua-load-per-thread`, on 127.0.0.1 with a free port, its
# config and log files under a temporary directory, stopped by its process id.
# Every thread's state loads the module and configures log4cpp as it starts;
# several clients then log through it while others make it configure again
# from many threads at once. Every record must be written once and intact,
# the server must survive and keep serving, and hold one descriptor on the
# log file however often it configured.
#   haproxy_test.sh HAPROXY MODULE_DIR
# QUELTO_SERVER_REQUESTS (1000) and QUELTO_SERVER_CONFIGURES (100) set how
# many requests each logging and each configuring client sends;
# QUELTO_SERVER_ASYNC=1 queues the records, in a small queue (a writer that
# is not woken soon fills it, and the callers wait).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/check.sh"
source "$here/../support/ports.sh"

haproxy=$1
module_dir=$2
threads=4
log_clients=6
requests_per_client=${QUELTO_SERVER_REQUESTS:-1000}
configure_clients=3
configures_per_client=${QUELTO_SERVER_CONFIGURES:-100}

tmp=$(mktemp -d)
server=""
stop_server() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
  fi
  rm -rf "$tmp"
}
trap stop_server EXIT

# Starts the server on $port, in the background.
start_server() {
  cat >"$tmp/haproxy.cfg" <<EOF_CFG
global
  nbthread $threads
  lua-load-per-thread $here/service.lua
defaults
  mode http
  timeout connect 5s
  timeout client 30s
  timeout server 30s
frontend quelto
  bind 127.0.0.1:$port
  http-request use-service lua.quelto
EOF_CFG
  # -db: in the foreground, so that $! is the server itself.
  LUA_CPATH="$module_dir/?.so" QUELTO_SERVER_PROPERTIES="$tmp/server.properties" \
    "$haproxy" -db -f "$tmp/haproxy.cfg" >"$tmp/server.out" 2>&1 &
  server=$!
}

if [ "${QUELTO_SERVER_ASYNC:-0}" = 1 ]; then
  printf 'quelto.async = true\nquelto.async.queue = 64\n' >"$tmp/server.properties"
fi
cat >>"$tmp/server.properties" <<EOF_PROPERTIES
log4cpp.rootCategory=DEBUG, records
log4cpp.appender.records=FileAppender
log4cpp.appender.records.fileName=$tmp/records.log
log4cpp.appender.records.layout=PatternLayout
log4cpp.appender.records.layout.ConversionPattern=%m<eor>%n
EOF_PROPERTIES

# The ids of every client, and the one request after them: written within 5 s
# while the server runs, and no record more once it is gone.
expected_records=$((log_clients * requests_per_client + 1))
records_summary() {
  lua5.3 "$here/records.lua" "$tmp/records.log" 99 $((log_clients * 1000000 + 999999)) \
    2>"$tmp/records.err"
}
check_records() {
  local summary
  for _ in $(seq 50); do
    summary=$(records_summary)
    [ "${summary%%,*}" = "records: $expected_records" ] && break
    sleep 0.1
  done
  expect_eq "every record is written once and intact $1" \
    "records: $expected_records, distinct: $expected_records, intact: $expected_records, unknown: 0" \
    "$summary"
  [ -s "$tmp/records.err" ] && head -20 "$tmp/records.err"
}

if ! start_on_free_port tcp start_server server 10; then
  echo "haproxy did not start listening on 127.0.0.1 (last port: ${port:-none})"
  cat "$tmp/server.out" 2>/dev/null
  exit 1
fi
url="http://127.0.0.1:$port"

# Each client sends its requests one after another on one connection (curl's
# URL ranges); the clients run at once. Client c logs ids c*1000000+1 onwards.
clients=()
for c in $(seq "$log_clients"); do
  first=$((c * 1000000 + 1))
  last=$((first + requests_per_client - 1))
  curl -s --max-time 60 "$url/log?id=[$first-$last]" >"$tmp/client$c.out" &
  clients+=($!)
done
for c in $(seq "$configure_clients"); do
  curl -s --max-time 60 "$url/configure?id=[1-$configures_per_client]" >"$tmp/configure$c.out" &
  clients+=($!)
done
for pid in "${clients[@]}"; do wait "$pid"; done

answered=$(cat "$tmp"/client*.out | grep -c '^logged [0-9]*$')
expect_eq "every log request is answered" $((log_clients * requests_per_client)) "$answered"
configured=$(cat "$tmp"/configure*.out | grep -c '^configured$')
expect_eq "every configure request succeeds" $((configure_clients * configures_per_client)) \
  "$configured"
cat "$tmp"/configure*.out | grep -v '^configured$' | sort | uniq -c | head -5
alive=""
if kill -0 "$server" 2>/dev/null; then alive=yes; pass "the server survives"; else
  wait "$server"
  fail "the server survives" "exit status $?" "$(tail -5 "$tmp/server.out")"
  server=""
fi
# One configuration is in force, so one descriptor is open on its file.
open_on_log=$(find "/proc/$server/fd" -lname "$tmp/records.log" 2>/dev/null | wc -l)
expect_eq "configuring again leaves one descriptor on the log file" 1 "$open_on_log"
# Served by whichever thread takes it, after all the configuring.
expect_eq "the server still serves" "logged 99" "$(curl -s --max-time 10 "$url/log?id=99")"

check_records "while the server runs"
if [ -z "$alive" ]; then
  finish
  exit
fi
# Stopped by its pid alone: it must have exited within 5 s.
kill "$server"
for _ in $(seq 50); do
  state=$(ps -o stat= -p "$server" 2>/dev/null)
  case "$state" in "" | Z*) break ;; esac
  sleep 0.1
done
case "$state" in
  "" | Z*) pass "haproxy stops on SIGTERM to its pid" ;;
  *) fail "haproxy stops on SIGTERM to its pid" "state after 5 s: $state"; kill -KILL "$server" ;;
esac
wait "$server" 2>/dev/null
server=""
check_records "after it stopped"
finish
