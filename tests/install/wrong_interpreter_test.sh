#!/usr/bin/env bash
# A module built for one interpreter, required from another, fails with an
# error the script can catch, never a crash: the loader's "undefined symbol"
# where the two APIs differ. In the right interpreter it loads, and Lua 5.1
# and LuaJIT, which share one API, share one module: each loads the other's.
#   wrong_interpreter_test.sh MODULE_DIR LUA     (LUA: 5.1 ... 5.4 or luajit)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/check.sh"

module_dir=$1
built_for=$2

program_of() { if [ "$1" = luajit ]; then echo luajit; else echo "lua$1"; fi; }
name_of() { if [ "$1" = luajit ]; then echo LuaJIT; else echo "Lua $1"; fi; }

# Prints "true" or "false <first line of the error>"; the exit status is the interpreter's.
try_require() {
  LUA_CPATH="$module_dir/?.so" LUA_INIT= "$(program_of "$1")" -e '
    local ok, err = pcall(require, "quelto_internal")
    io.write(tostring(ok), ok and "" or " " .. tostring(err):match("^[^\n]*"))'
}

out=$(try_require "$built_for")
expect_eq "loads into $(name_of "$built_for")" "true" "$out"

for lua in 5.1 5.2 5.3 5.4 luajit; do
  [ "$lua" = "$built_for" ] && continue
  if ! command -v "$(program_of "$lua")" >/dev/null; then
    fail "$(name_of "$lua") is installed to be tried"
    continue
  fi
  out=$(try_require "$lua")
  status=$?
  name="refused by $(name_of "$lua") with a catchable error"
  case "$built_for:$lua" in
    5.1:luajit | luajit:5.1) expect_eq "loads into $(name_of "$lua") as well" "true" "$out" ;;
    *)
      case "$status:$out" in
        "0:false error loading module 'quelto_internal' from file '$module_dir/quelto_internal.so':")
          pass "$name" ;;
        *) fail "$name" "exit status $status" "$out" ;;
      esac ;;
  esac
done

finish
