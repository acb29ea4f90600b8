#!/usr/bin/env bash
# The guide's recipe for shipping JSON lines: a service logs through the JSON
# layout into a file; an rsyslogd of the test's own reads it (imfile) and
# forwards it over TCP (omfwd) to a second one, the site's central collector
# here, which stores each record's message as a line. Both on 127.0.0.1,
# with their configs, work directories and files under a temporary
# directory, stopped by their process ids. Every record must arrive whole
# and parse as JSON, the fields included.
#   json_shipping_test.sh RSYSLOGD PYTHON3 [LUA_PROGRAM]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/check.sh"
source "$here/../support/ports.sh"

rsyslogd=$1
python=$2
lua=${3:-lua5.3}
tmp=$(mktemp -d)
collector="" shipper=""
stop_daemons() {
  for pid in $shipper $collector; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  rm -rf "$tmp"
}
trap stop_daemons EXIT
records=400

# The guide's two configurations, each after the global settings that
# rsyslog.conf holds, pointed at the test's files, address and port.
configure_daemon() {  # NAME RECIPE
  {
    echo "global(workDirectory=\"$tmp/$1\" maxMessageSize=\"64k\")"
    sed -e "s|/var/log/app/app.json|$tmp/app.json|" -e "s|/var/log/central/app.json|$tmp/central.log|" \
        -e "s|collector.example.org|127.0.0.1|" -e "s|port=\"514\"|address=\"127.0.0.1\" port=\"$port\"|" \
        "$here/../../examples/$2"
  } >"$tmp/$1.conf"
}

start_collector() {
  configure_daemon collector rsyslog-collector.conf
  "$rsyslogd" -n -f "$tmp/collector.conf" -i "$tmp/collector.pid" >"$tmp/collector.log" 2>&1 &
  collector=$!
}

mkdir -p "$tmp/collector" "$tmp/shipper"
if ! start_on_free_port tcp start_collector collector; then
  echo "the collector did not start listening on 127.0.0.1 (last port: ${port:-none})"
  cat "$tmp/collector.log" 2>/dev/null
  exit 1
fi

# The shipper, once the collector listens.
configure_daemon shipper rsyslog-json.conf
sed -i 's|address="127.0.0.1" port=|port=|' "$tmp/shipper.conf"
: >"$tmp/app.json"
"$rsyslogd" -n -f "$tmp/shipper.conf" -i "$tmp/shipper.pid" >"$tmp/shipper.log" 2>&1 &
shipper=$!
sleep 0.5
kill -0 "$shipper" 2>/dev/null || { echo "the shipper did not start"; cat "$tmp/shipper.log"; exit 1; }

expect_ok "the service logs" "$lua" "$here/json_shipping.lua" "$tmp/app.json" "$records"

for _ in $(seq 150); do
  grep -q '"msg":"end of test"' "$tmp/central.log" 2>/dev/null && break
  sleep 0.1
done

expect_eq "the collector has every record" "$(wc -l <"$tmp/app.json")" \
  "$(wc -l <"$tmp/central.log" 2>/dev/null || echo 0)"
check=$("$python" - "$tmp/app.json" "$tmp/central.log" "$records" <<'EOF_PY'
import json, sys
written = open(sys.argv[1], encoding="utf-8").read().splitlines()
stored = open(sys.argv[2], encoding="utf-8").read().splitlines()
records = [json.loads(line) for line in stored]  # raises on any line that is no JSON
assert stored == written, "the lines differ from those the service wrote"
assert [list(r)[:4] for r in records] == [["time", "level", "logger", "msg"]] * len(records)
requests = [r for r in records if r["logger"] == "svc.http" and "request_id" in r]
assert len(requests) == int(sys.argv[3]), len(requests)
for i, r in enumerate(requests, 1):
    assert r["request_id"] == "r%05d" % i and r["user"] == "u%d" % (i % 7), r
    assert r["msg"] == "GET /items/%d" % i and r["status"] == 200 and r["ms"] == i / 8, r
    assert r["tags"] == ["a", "b"] and r["level"] == "INFO", r
legacy = [r for r in records if r["logger"] == "svc.legacy"]
assert len(legacy) == int(sys.argv[3]) // 50 and legacy[0]["level"] == "WARN", legacy[:1]
assert legacy[0]["msg"] == "slow request 50 {\n  not = 'json'\n} \"quoted\" caf\u00e9 \u2028", legacy[0]
long = [r for r in records if r["msg"] == "a long one "][0]
assert long["blob"].endswith("<truncated>") and len(json.dumps(long)) < 60200, len(long["blob"])
print("ok")
EOF_PY
)
expect_eq "every record parses as JSON, fields included" "ok" "$check"

for pid in $shipper $collector; do kill "$pid"; wait "$pid" 2>/dev/null; done
shipper="" collector=""
finish
