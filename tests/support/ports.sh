# Ports on 127.0.0.1 for the private daemons that tests start; sourced.

# True if something listens on 127.0.0.1:$2 over $1 (udp, or tcp in state
# LISTEN).
listening() {
  local hex
  hex=$(printf '0100007F:%04X' "$2")
  if [ "$1" = tcp ]; then
    grep -q " $hex 00000000:0000 0A " /proc/net/tcp
  else
    grep -q " $hex " /proc/net/udp
  fi
}

# A $1 (udp or tcp) port that nothing listens on, or nothing after 20 tries.
free_port() {
  local candidate
  for _ in $(seq 20); do
    candidate=$((20000 + RANDOM % 40000))
    listening "$1" "$candidate" || { echo "$candidate"; return; }
  done
}
