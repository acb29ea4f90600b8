#!/usr/bin/env bash
# The Debian packages as a user meets them: built by scripts/build-deb.sh
# (lintian errors fail it), installed with dpkg -i, the module required from
# every interpreter Debian has, a program built through pkg-config and one
# through find_package, both packages removed with dpkg -r, and no file of
# theirs left. Needs root; refuses to run where the packages are installed.
#   deb_test.sh SOURCE_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/check.sh"

source_dir=$1
version=$(cd "$source_dir" && dpkg-parsechangelog -S Version)
packages=(lua-quelto-internal-dev lua-quelto-internal)
work=$(mktemp -d)
installed=no
cleanup() {
  [ $installed = yes ] && dpkg_retry -r "${packages[@]}" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# dpkg waits for no one: another apt or dpkg may hold its lock for a while.
dpkg_retry() {
  local try
  for try in $(seq 60); do
    dpkg "$@" 2>"$work/dpkg.err" && return 0
    grep -q "lock" "$work/dpkg.err" || break
    sleep 5
  done
  cat "$work/dpkg.err" >&2
  return 1
}

for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    fail "$p is not installed already" "the test installs and removes it: remove it first"
    finish
    exit
  fi
done

if out=$("$source_dir/scripts/build-deb.sh" "$work/deb" 2 2>&1); then
  pass "the packages build, with no lintian error"
else
  fail "the packages build, with no lintian error" "$(tail -n 30 <<<"$out")"
  finish
  exit
fi

debs=()
for p in "${packages[@]}"; do debs+=("$work/deb/${p}_${version}_$(dpkg --print-architecture).deb"); done
if out=$(dpkg_retry -i "${debs[@]}" 2>&1); then
  installed=yes
  pass "dpkg -i installs both"
else
  fail "dpkg -i installs both" "$out"
fi
expect_eq "the module package provides each Lua version's name" \
  "lua5.1-quelto-internal, lua5.2-quelto-internal, lua5.3-quelto-internal, lua5.4-quelto-internal" \
  "$(dpkg-query -W -f='${Provides}' lua-quelto-internal)"

expect_eq "the guide and the examples are in the module's doc directory" \
  "README.md.gz examples/logrotate.conf examples/rolling.properties examples/rsyslog-json.conf" \
  "$(cd /usr/share/doc/lua-quelto-internal && echo README.md* examples/logrotate.conf examples/rolling.properties examples/rsyslog-json.conf)"

# Every interpreter finds the module on its default path; LuaJIT's (the 5.1
# one) gives the logger methods LuaJIT's compiled form.
for lua in lua5.1 lua5.2 lua5.3 lua5.4 luajit; do
  kind=C
  [ $lua = luajit ] && kind=Lua
  expect_eq "$lua requires the installed module" "${version%-*} $kind" \
    "$(env -u LUA_CPATH -u LUA_CPATH_5_2 -u LUA_CPATH_5_3 -u LUA_CPATH_5_4 -u LUA_INIT $lua -e '
      local q = require "quelto_internal"
      io.write(q._VERSION, " ", debug.getinfo(debug.getregistry().QueltoLogger.info, "S").what)' 2>&1)"
done

# Programs of their own, against the installed files alone.
script_records=$(printf 'WARN consumer: from the script: {\n  1,\n  two = 2\n}\nINFO consumer: and 600')
mkdir -p "$work/make"
if out=$(make -C "$work/make" -f "$source_dir/tests/embedding/makefile/Makefile" LUA=lua5.4 2>&1); then
  pass "a Makefile program builds through pkg-config"
else
  fail "a Makefile program builds through pkg-config" "$out"
fi
expect_eq "it runs its script" "$script_records" \
  "$(cd "$source_dir/tests/embedding" && "$work/make/minimal_host" script.lua 2>&1)"
if out=$(cmake -S "$source_dir/tests/embedding/package" -B "$work/cmake" -DCONSUMER_LUA=lua5.3 2>&1 &&
         cmake --build "$work/cmake" -j2 2>&1); then
  pass "a CMake program builds through find_package"
else
  fail "a CMake program builds through find_package" "$(tail -n 30 <<<"$out")"
fi
expect_eq "it runs its script" "$script_records" \
  "$(cd "$source_dir/tests/embedding" && "$work/cmake/minimal_host" script.lua 2>&1)"

# Removal leaves nothing behind.
files=$(dpkg-query -L "${packages[@]}" 2>/dev/null | while read -r f; do [ -d "$f" ] || echo "$f"; done)
if dpkg_retry -r "${packages[@]}" >/dev/null 2>&1; then
  installed=no
  pass "dpkg -r removes both"
else
  fail "dpkg -r removes both" "$(cat "$work/dpkg.err")"
fi
expect_eq "no file of theirs is left" "" \
  "$(while read -r f; do [ -e "$f" ] && echo "$f"; done <<<"$files")"
[ -n "$files" ] && pass "the packages had files to remove" || fail "the packages had files to remove"

finish
