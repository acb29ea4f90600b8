# Ports on 127.0.0.1 for the private daemons that tests start, and starting
# them there; sourced.

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

# start_on_free_port PROTO START PID_VAR [SECONDS]: starts a daemon on a free
# PROTO (udp or tcp) port of 127.0.0.1, left in $port. START starts it there
# in the background and sets the variable named PID_VAR to its process id.
# True once it listens (within SECONDS, 5 by default). Another process may
# take the port between the check and the bind, so a daemon that does not
# come up is stopped and started again on another port, three times at most;
# after the last, PID_VAR is empty and the result false.
start_on_free_port() {
  local proto=$1 start=$2 pid_var=$3 tenths=$((${4:-5} * 10)) pid
  for _ in 1 2 3; do
    port=$(free_port "$proto")
    [ -n "$port" ] || return 1
    "$start"
    pid=${!pid_var}
    for _ in $(seq "$tenths"); do
      kill -0 "$pid" 2>/dev/null || break
      listening "$proto" "$port" && return 0
      sleep 0.1
    done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    printf -v "$pid_var" '%s' ""
  done
  return 1
}
