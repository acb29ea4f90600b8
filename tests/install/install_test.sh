#!/usr/bin/env bash
# The install rule: the module lands in the interpreter's INSTALL_CMOD under the
# chosen prefix (staged under a temporary DESTDIR), loads from there with
# nothing else on the path, and that directory is one the interpreter
# searches by default. Beside it go the header, the static library and the
# CMake package for programs that link the module in.
#   install_test.sh SOURCE_DIR BUILD_DIR [LUA]     (LUA: 5.1 ... 5.4 or luajit)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/check.sh"

source_dir=$1
build=$2
lua_version=${3:-5.3}
if [ "$lua_version" = luajit ]; then pc=luajit lua=luajit; else pc=lua$lua_version lua=lua$lua_version; fi
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

lua_prefix=$(pkg-config --variable=prefix "$pc")
cmod=$(pkg-config --variable=INSTALL_CMOD "$pc")

# The installed files under a stage, one per line, relative to it. The name of
# the package's per-configuration file depends on the build type: shown as *.
installed_files() {
  (cd "$1" && find . -type f | sed -e 's|^\./|/|' -e 's|targets-[a-z]*\.cmake$|targets-*.cmake|' |
    sort)
}

# What an install under PREFIX should hold, in the order of installed_files.
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
expected_files() {
  local package=$1/$libdir/cmake/quelto_internal
  printf '%s\n' "$1/include/quelto_internal.h" "$1/$libdir/libquelto_internal-$pc.a" \
    "$package/quelto_internal-config.cmake" "$package/quelto_internal-config-version.cmake" \
    "$package/quelto_internal-$pc-targets.cmake" "$package/quelto_internal-$pc-targets-*.cmake" \
    "$1/$libdir/pkgconfig/quelto_internal-$pc.pc" \
    "$(pkg-config --define-variable=prefix="$1" --variable=INSTALL_CMOD "$pc")/quelto_internal.so" |
    sort
}

# Loads the module with LUA_CPATH set to exactly one directory, logs one
# record to stdout, and prints where the module came from after it.
load_from() {
  LUA_CPATH="$1/?.so" LUA_INIT= "$lua" - "$here/stdout.properties" <<'LUA'
local q = require "quelto_internal"
q.configure(arg[1])
q.get_log("installed"):warn("loaded, ", { ok = true })
print((package.cpath:gsub("%?", "quelto_internal")))
LUA
}

# 1. Lua's own prefix: the module in INSTALL_CMOD, the rest for C++ programs.
DESTDIR="$stage/default" cmake --install "$build" --prefix "$lua_prefix" >/dev/null
expect_eq "the module goes into INSTALL_CMOD, the library beside it" \
  "$(expected_files "$lua_prefix")" "$(installed_files "$stage/default")"
expect_eq "the staged module loads and logs" \
  "$(printf 'WARN installed: loaded, {\n  ok = true\n}\n%s' "$stage/default$cmod/quelto_internal.so")" \
  "$(load_from "$stage/default$cmod" 2>&1)"

# 2. `make install`, with the build taken as done (-o build): Lua's prefix by
#    default, whatever prefix the build directory was configured with, and PREFIX.
make -s -C "$source_dir" -o build install BUILD="$build" LUA="$lua_version" DESTDIR="$stage/make" >/dev/null
expect_eq "make install: Lua's prefix by default" \
  "$(expected_files "$lua_prefix")" "$(installed_files "$stage/make")"
make -s -C "$source_dir" -o build install BUILD="$build" LUA="$lua_version" DESTDIR="$stage/make-opt" \
  PREFIX=/opt/quelto >/dev/null
expect_eq "make install: PREFIX is honoured" \
  "$(expected_files /opt/quelto)" "$(installed_files "$stage/make-opt")"

# 3. Without LUA_CPATH the interpreter looks in INSTALL_CMOD, so after a real
#    install a plain require finds the module.
default_cpath=$(env -u LUA_CPATH -u LUA_CPATH_5_1 -u LUA_CPATH_5_2 -u LUA_CPATH_5_3 -u LUA_CPATH_5_4 -u LUA_INIT "$lua" -e 'io.write(package.cpath)')
case ";$default_cpath;" in
  *";$cmod/?.so;"*) pass "INSTALL_CMOD is on the default package.cpath" ;;
  *) fail "INSTALL_CMOD is on the default package.cpath" "$cmod not in $default_cpath" ;;
esac

# 4. Another prefix: INSTALL_CMOD as pkg-config computes it for that prefix.
DESTDIR="$stage/opt" cmake --install "$build" --prefix /opt/quelto >/dev/null
opt_cmod=$(pkg-config --define-variable=prefix=/opt/quelto --variable=INSTALL_CMOD "$pc")
expect_eq "the prefix is honoured" "$(expected_files /opt/quelto)" "$(installed_files "$stage/opt")"
expect_ok "the module under another prefix loads" load_from "$stage/opt$opt_cmod"

# 5. The installed module takes Lua from the interpreter that loads it.
module=$stage/default$cmod/quelto_internal.so
if ! libs=$(ldd "$module" 2>&1); then
  fail "the installed module links no liblua" "$libs"
elif grep -q liblua <<<"$libs"; then
  fail "the installed module links no liblua" "$libs"
else
  pass "the installed module links no liblua"
fi

# 6. Its exported symbols are the entry point and the hosts' functions of
#    include/quelto_internal.h (for a host whose scripts load the module):
#    compat-5.3's functions, where it is compiled in, and the C++ library's
#    template statics stay inside.
expect_eq "the installed module exports the entry point and the hosts' functions alone" \
  "$(printf 'luaopen_quelto_internal\nquelto_internal_flush\nquelto_internal_priorities_changed\nquelto_internal_reopen')" \
  "$(nm -D --defined-only "$module" | awk '$2 != "w" && $2 != "V" && $2 != "W" { print $3 }' | sort)"

# 7. One version everywhere: the project's, in the versioned rockspec, the
#    change log and the Debian packages.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
expect_eq "the versioned rockspec is of the project's version" "version = \"$version-1\"" \
  "$(grep -h '^version' "$source_dir/quelto_internal-$version-1.rockspec" 2>&1)"
expect_eq "the change log starts at the project's version" "## $version" \
  "$(grep -m1 '^## ' "$source_dir/CHANGELOG.md")"
expect_eq "the Debian packages are of the project's version" "$version-1" \
  "$(cd "$source_dir" && dpkg-parsechangelog -S Version 2>&1)"

finish
