#!/usr/bin/env bash
# The install rule: the module lands in lua5.3.pc's INSTALL_CMOD under the
# chosen prefix (staged under a temporary DESTDIR), loads from there with
# nothing else on the path, and that directory is one the interpreter
# searches by default.
#   install_test.sh BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/check.sh"

build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

lua_prefix=$(pkg-config --variable=prefix lua5.3)
cmod=$(pkg-config --variable=INSTALL_CMOD lua5.3)

# The installed files under a stage, one per line, relative to it.
installed_files() { (cd "$1" && find . -type f | sed 's|^\./|/|' | sort); }

# Loads the module with LUA_CPATH set to exactly one directory, logs one
# record to stdout, and prints where the module came from after it.
load_from() {
  LUA_CPATH="$1/?.so" LUA_INIT= lua5.3 - "$here/stdout.properties" <<'LUA'
local q = require "quelto_internal"
q.configure(arg[1])
q.get_log("installed"):warn("loaded, ", { ok = true })
print(package.searchpath("quelto_internal", package.cpath))
LUA
}

# 1. Lua's own prefix: exactly the module, in INSTALL_CMOD.
DESTDIR="$stage/default" cmake --install "$build" --prefix "$lua_prefix" >/dev/null
expect_eq "only the module is installed, into INSTALL_CMOD" \
  "$cmod/quelto_internal.so" "$(installed_files "$stage/default")"
expect_eq "the staged module loads and logs" \
  "$(printf 'WARN installed: loaded, {\n  ok = true\n}\n%s' "$stage/default$cmod/quelto_internal.so")" \
  "$(load_from "$stage/default$cmod" 2>&1)"

# 2. Without LUA_CPATH the interpreter looks in INSTALL_CMOD, so after a real
#    install a plain require finds the module.
default_cpath=$(env -u LUA_CPATH -u LUA_CPATH_5_3 -u LUA_INIT lua5.3 -e 'io.write(package.cpath)')
case ";$default_cpath;" in
  *";$cmod/?.so;"*) pass "INSTALL_CMOD is on the default package.cpath" ;;
  *) fail "INSTALL_CMOD is on the default package.cpath" "$cmod not in $default_cpath" ;;
esac

# 3. Another prefix: INSTALL_CMOD as pkg-config computes it for that prefix.
DESTDIR="$stage/opt" cmake --install "$build" --prefix /opt/quelto >/dev/null
opt_cmod=$(pkg-config --define-variable=prefix=/opt/quelto --variable=INSTALL_CMOD lua5.3)
expect_eq "the prefix is honoured" "$opt_cmod/quelto_internal.so" "$(installed_files "$stage/opt")"
expect_ok "the module under another prefix loads" load_from "$stage/opt$opt_cmod"

# 4. The installed module takes Lua from the interpreter that loads it.
if ldd "$stage/default$cmod/quelto_internal.so" | grep -q liblua; then
  fail "the installed module links no liblua" "$(ldd "$stage/default$cmod/quelto_internal.so")"
else
  pass "the installed module links no liblua"
fi

finish
