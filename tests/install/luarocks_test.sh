#!/usr/bin/env bash
# LuaRocks: `luarocks make` in a clean copy of the sources builds the module
# with CMake and installs it into a local tree, from which `require` works
# through `luarocks path`; `luarocks remove` takes it out again.
#   luarocks_test.sh SOURCE_DIR [LUA_VERSION]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/check.sh"

source_dir=$1
v=${2:-5.3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clone=$work/clone
tree=$work/tree
mkdir -p "$clone" "$work/home"
# LuaRocks keeps a cache and a config under HOME: keep them out of the user's.
export HOME=$work/home
export CMAKE_BUILD_PARALLEL_LEVEL=2
rocks() { luarocks --lua-version="$v" --tree="$tree" "$@"; }

# A clean clone: the files git knows of (committed or new, not ignored), so
# nothing of an existing build directory comes along.
if git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1; then
  git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
    tar -C "$source_dir" --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -C "$clone" -xf -
else
  tar -C "$source_dir" --exclude='./build*' -cf - . | tar -C "$clone" -xf -
fi

# Both rockspecs are well formed; the one of this checkout is built.
for rockspec in "$clone"/*.rockspec; do
  expect_ok "luarocks lint ${rockspec##*/}" rocks lint "$rockspec"
done
if (cd "$clone" && rocks make quelto_internal-scm-1.rockspec >"$work/make.log" 2>&1); then
  pass "luarocks make builds and installs"
else
  fail "luarocks make builds and installs" "$(tail -n 30 "$work/make.log")"
fi
expect_file "the module is deployed into the tree" "$tree/lib/lua/$v/quelto_internal.so"
expect_eq "the tree lists the rock" "quelto_internal	scm-1	installed	$tree/lib/luarocks/rocks-$v" \
  "$(rocks list --porcelain quelto_internal)"

# `luarocks path` prints the LUA_PATH/LUA_CPATH exports for the tree.
out=$(
  eval "$(rocks path)"
  "lua$v" - "$here/stdout.properties" <<'LUA' 2>&1
local q = require "quelto_internal"
q.configure(arg[1])
q.get_log("rock"):info("from the tree: ", 1.5)
for path in package.cpath:gmatch("[^;]+") do  -- package.searchpath, which 5.1 lacks
  local file = path:gsub("%?", "quelto_internal")
  if io.open(file) then print(file) break end
end
LUA
)
expect_eq "require works through luarocks path" \
  "$(printf 'INFO rock: from the tree: 1.5\n%s' "$tree/lib/lua/$v/quelto_internal.so")" "$out"

rocks remove quelto_internal >"$work/remove.log" 2>&1
if [ -e "$tree/lib/lua/$v/quelto_internal.so" ]; then
  fail "luarocks remove takes the module out" "$(cat "$work/remove.log")"
else
  pass "luarocks remove takes the module out"
fi

finish
