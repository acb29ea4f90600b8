#!/usr/bin/env bash
# A program of its own links the module in one of five ways, is configured
# and built in a temporary directory, and runs: its script's records land in
# the host's appender, and a host that keeps `configure` from untrusted
# scripts really does. The ways: CMake's add_subdirectory, FetchContent and
# installed package, and the installed pkg-config file from a plain Makefile
# and from Meson.
#   consumer_test.sh subdirectory|fetchcontent|package|makefile|meson SOURCE_DIR BUILD_DIR LUA
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
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")

# expect_configure_error NAME MESSAGE CMAKE_ARGS...: configuring the consumer
# with these arguments fails, saying MESSAGE (CMake's line breaks ignored).
expect_configure_error() {
  local name=$1 message=$2 out status
  shift 2
  out=$(cmake "${configure_args[@]}" "$@" 2>&1)
  status=$?
  if [ $status -ne 0 ] && [[ "$(tr -s ' \n' '  ' <<<"$out")" == *"$message"* ]]; then
    pass "$name"
  else
    fail "$name" "status $status" "$out"
  fi
}

# build_consumer: configures and builds the consumer into $consumer.
build_consumer() {
  case $way in
    makefile) mkdir -p "$consumer" && make -C "$consumer" -f "$here/makefile/Makefile" LUA="$lua" ;;
    meson) meson setup "$consumer" "$here/meson" -Dlua="$lua" && meson compile -C "$consumer" ;;
    *) cmake "${configure_args[@]}" && cmake --build "$consumer" ;;
  esac
}
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

    expect_configure_error "asking for another Lua fails with the package's reason" \
      "quelto_internal in $prefix is installed for $lua, not for $other_lua: build and install it for that Lua, or link one of those and ask for it." \
      -B "$work/other-lua" -DCONSUMER_LUA=$other_lua
    expect_configure_error "asking for version 1.0 fails with the version installed" \
      "The following configuration files were considered but not accepted: $prefix/$libdir/cmake/quelto_internal/quelto_internal-config.cmake, version: $version" \
      -B "$work/version-1" -DCONSUMER_VERSION=1.0
    out=$(cmake "${configure_args[@]}" -B "$work/linked-other" -DCONSUMER_LINKED_LUA=$other_lua 2>&1 &&
          cmake --build "$work/linked-other" --target minimal_host 2>&1)
    case "$out" in
      *"quelto_internal is built for Lua ${lua#lua}"*) pass "linking another Lua fails to compile, naming the Lua" ;;
      *) fail "linking another Lua fails to compile, naming the Lua" "$(tail -n 20 <<<"$out")" ;;
    esac ;;
  makefile | meson)
    # The pkg-config file of an install under a prefix of the test's own.
    prefix=$work/prefix
    cmake --install "$build" --prefix "$prefix" >/dev/null
    export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
    module_dir=$prefix$(pkg-config --define-variable=prefix= --variable=INSTALL_CMOD "$lua")
    expect_eq "pkg-config: the module's version" "$version" \
      "$(pkg-config --modversion "quelto_internal-$lua")"
    expect_eq "pkg-config: the library of the Lua named" \
      "-I$prefix/include -DQUELTO_INTERNAL_LUA_VERSION_NUM=$(sed 's/^luajit$/501/; s/^lua\([0-9]\)\./\10/' <<<"$lua") -L$prefix/$libdir -lquelto_internal-$lua $(pkg-config --libs log4cpp | sed "s/ *$//")" \
      "$(pkg-config --cflags --libs "quelto_internal-$lua" | sed 's/ *$//')" ;;
  *)
    echo "unknown way: $way" >&2
    exit 2 ;;
esac

if out=$(build_consumer 2>&1); then
  pass "$way: the consumer configures and builds"
else
  fail "$way: the consumer configures and builds" "$(tail -n 30 <<<"$out")"
fi

script_records=$(printf 'WARN consumer: from the script: {\n  1,\n  two = 2\n}\nINFO consumer: and 600')
expect_eq "$way: the script's records land in the host's appender" "$script_records" \
  "$(cd "$here" && "$consumer/minimal_host" script.lua 2>&1)"

out=$(LUA_CPATH="$consumer/?.so" LUA_INIT= "$lua" - "$here/../install/stdout.properties" <<'LUA' 2>&1
local q = require "consumer_plugin"
q.configure(arg[1])
q.get_log("plugin"):info("from a module of the consumer's: ", { 1 })
LUA
)
expect_eq "$way: a C module of the consumer's links the library in" \
  "$(printf "INFO plugin: from a module of the consumer's: {\n  1\n}")" "$out"

# The probe first shows that each way to configure (reopen, set_priority) is open
# in a state set up as usual, then that the untrusted host closes all of them.
probe_records() {
  local way
  for way in "the module table" "require again" "the preload entry" \
             "quelto_internal.so on package.cpath" "package.loadlib"; do
    echo "INFO probe: $way: $1"
  done
}
expect_eq "$way: a trusted script reaches configure every way" \
  "$(probe_records "configure, configure_text, reopen, set_priority")" \
  "$("$consumer/untrusted_host" --trusted "$here/probe.lua" "$module_dir" 2>&1)"
expect_eq "$way: an untrusted script reaches configure no way" \
  "$(probe_records "no configure, no configure_text, no reopen, no set_priority")" \
  "$("$consumer/untrusted_host" "$here/probe.lua" "$module_dir" 2>&1)"

if [ "$way" = subdirectory ] || [ "$way" = fetchcontent ]; then
  # Inside another project the module builds its libraries only and installs nothing.
  leftovers=$(cd "$module_dir" && ls -d tests examples bench 2>/dev/null)
  expect_eq "$way: no tests, examples or benchmarks of the module" "" "$leftovers"
  cmake --install "$consumer" --prefix "$work/installed" >/dev/null 2>&1
  expect_eq "$way: the consumer's install installs nothing of the module" "" \
    "$(find "$work/installed" -type f 2>/dev/null)"
fi

if [ "$way" = package ]; then
  # Side by side: the files of another Lua, installed into the same prefix,
  # change none of those installed before, and serve a program of that Lua.
  files() { (cd "$work/stage" && find . -type f -exec sha256sum {} + | sort); }
  before=$(files)
  if out=$(cmake -S "$source_dir" -B "$work/other-build" -DQUELTO_LUA="${other_lua#lua}" \
             -DQUELTO_HOST=OFF 2>&1 &&
           cmake --build "$work/other-build" --target quelto_internal quelto_internal_static 2>&1 &&
           DESTDIR="$work/stage" cmake --install "$work/other-build" --prefix /opt/quelto 2>&1); then
    pass "the files for $other_lua install into the same prefix"
  else
    fail "the files for $other_lua install into the same prefix" "$(tail -n 20 <<<"$out")"
  fi
  expect_eq "installing for $other_lua changes no file installed for $lua" "" \
    "$(comm -23 <(echo "$before") <(files))"
  other_consumer=$work/other-consumer
  if out=$(cmake "${configure_args[@]}" -B "$other_consumer" -DCONSUMER_LUA=$other_lua 2>&1 &&
           cmake --build "$other_consumer" 2>&1); then
    pass "a consumer of $other_lua configures and builds"
  else
    fail "a consumer of $other_lua configures and builds" "$(tail -n 30 <<<"$out")"
  fi
  expect_eq "$other_lua: the script's records land in the host's appender" "$script_records" \
    "$(cd "$here" && "$other_consumer/minimal_host" script.lua 2>&1)"
  expect_eq "$lua: the first consumer still runs" "$script_records" \
    "$(cd "$here" && "$consumer/minimal_host" script.lua 2>&1)"
fi

finish
