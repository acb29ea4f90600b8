# Named checks for the shell tests: each prints ok or FAIL with what differed;
# `finish` prints the count and fails the test if any check failed.
# Sourced by tests/install/*_test.sh and tests/syslog/*_test.sh.

checks_passed=0
checks_failed=0

pass() {
  checks_passed=$((checks_passed + 1))
  echo "ok   $1"
}

# fail NAME [DETAIL...]
fail() {
  checks_failed=$((checks_failed + 1))
  echo "FAIL $1"
  shift
  local line
  for line in "$@"; do printf '       %s\n' "$line"; done
}

# expect_eq NAME EXPECTED ACTUAL
expect_eq() {
  if [ "$2" == "$3" ]; then pass "$1"; else fail "$1" "expected: $2" "actual:   $3"; fi
}

# expect_file NAME PATH
expect_file() {
  if [ -f "$2" ]; then pass "$1"; else fail "$1" "no file $2"; fi
}

# expect_ok NAME COMMAND...: the command exits 0 (its output is shown if not).
expect_ok() {
  local name=$1 out
  shift
  if out=$("$@" 2>&1); then pass "$name"; else fail "$name" "command failed: $*" "$out"; fi
}

finish() {
  echo "$checks_passed passed, $checks_failed failed"
  [ "$checks_failed" -eq 0 ]
}
