#!/usr/bin/env bash
# A program of its own links the module in one of the three ways, is
# configured and built in a temporary directory, and runs: its script's records
# land in the host's appender, and a host that keeps `configure` from
# untrusted scripts really does.
#   consumer_test.sh subdirectory|fetchcontent|package SOURCE_DIR BUILD_DIR LUA
# LUA is the pkg-config package of the Lua the module was built for.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/check.sh"

way=$1
source_dir=$2
build=$3
lua=$4
other_lua=lua5.4
[ "$lua" == lua5.4 ] && other_lua=lua5.3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export CMAKE_BUILD_PARALLEL_LEVEL=2

consumer=$work/build
configure_args=(-S "$here/$way" -B "$consumer" -DCONSUMER_LUA="$lua")
case $way in
  subdirectory)
    configure_args+=(-DQUELTO_SOURCE_DIR="$source_dir")
    module_dir=$consumer/quelto_internal ;;
  fetchcontent)
    configure_args+=(-DQUELTO_SOURCE_DIR="$source_dir")
    module_dir=$consumer/_deps/quelto_internal-build ;;
  package)
    # `make install` of the project's build, staged; the package must work
    # from wherever the staged prefix lies.
    make -s -C "$source_dir" -o build install BUILD="$build" DESTDIR="$work/stage" \
      PREFIX=/opt/quelto >/dev/null
    prefix=$work/stage/opt/quelto
    configure_args+=(-DCMAKE_PREFIX_PATH="$prefix")
    module_dir=$prefix$(pkg-config --define-variable=prefix= --variable=INSTALL_CMOD "$lua")

    out=$(cmake "${configure_args[@]}" -B "$work/other-lua" -DCONSUMER_LUA=$other_lua 2>&1)
    status=$?
    message="quelto_internal in $prefix was built for $lua, not for $other_lua: build and install it for that Lua, or link $lua and ask for it."
    if [ $status -ne 0 ] && [[ "$(tr -s ' \n' '  ' <<<"$out")" == *"$message"* ]]; then
      pass "asking for another Lua fails with the package's reason"
    else
      fail "asking for another Lua fails with the package's reason" "status $status" "$out"
    fi ;;
  *)
    echo "unknown way: $way" >&2
    exit 2 ;;
esac

if out=$(cmake "${configure_args[@]}" 2>&1 && cmake --build "$consumer" 2>&1); then
  pass "$way: the consumer configures and builds"
else
  fail "$way: the consumer configures and builds" "$(tail -n 30 <<<"$out")"
fi

expect_eq "$way: the script's records land in the host's appender" \
  "$(printf 'WARN consumer: from the script: {\n  1,\n  two = 2\n}\nINFO consumer: and 600')" \
  "$(cd "$here" && "$consumer/minimal_host" script.lua 2>&1)"

out=$(LUA_CPATH="$consumer/?.so" LUA_INIT= "$lua" - "$here/../install/stdout.properties" <<'LUA' 2>&1
local q = require "consumer_plugin"
q.configure(arg[1])
q.get_log("plugin"):info("from a module of the consumer's: ", { 1 })
LUA
)
expect_eq "$way: a C module of the consumer's links the library in" \
  "$(printf "INFO plugin: from a module of the consumer's: {\n  1\n}")" "$out"

# The probe first shows that each way to configure (and set_priority) is open
# in a state set up as usual, then that the untrusted host closes all of them.
probe_records() {
  local way
  for way in "the module table" "require again" "the preload entry" \
             "quelto_internal.so on package.cpath" "package.loadlib"; do
    echo "INFO probe: $way: $1"
  done
}
expect_eq "$way: a trusted script reaches configure every way" \
  "$(probe_records "configure, set_priority")" \
  "$("$consumer/untrusted_host" --trusted "$here/probe.lua" "$module_dir" 2>&1)"
expect_eq "$way: an untrusted script reaches configure no way" \
  "$(probe_records "no configure, no set_priority")" \
  "$("$consumer/untrusted_host" "$here/probe.lua" "$module_dir" 2>&1)"

if [ "$way" != package ]; then
  # Inside another project the module builds its libraries only and installs nothing.
  leftovers=$(cd "$module_dir" && ls -d tests examples bench 2>/dev/null)
  expect_eq "$way: no tests, examples or benchmarks of the module" "" "$leftovers"
  cmake --install "$consumer" --prefix "$work/installed" >/dev/null 2>&1
  expect_eq "$way: the consumer's install installs nothing of the module" "" \
    "$(find "$work/installed" -type f 2>/dev/null)"
fi

finish
