#!/usr/bin/env bash
# Installs the Debian packages a target needs, and only those that are
# missing. Safe to run any number of times.
#   scripts/install-deps.sh build LUA [extra-package ...]
#       building the module for LUA (5.1 ... 5.4, luajit) and running it there
#   scripts/install-deps.sh deb [extra-package ...]
#       building the Debian packages (make deb)
#   scripts/install-deps.sh test [extra-package ...]
#       building it for every interpreter and running every test
set -euo pipefail

lua_packages() {
  case $1 in
    5.1) echo lua5.1 liblua5.1-0-dev lua-compat53-dev ;;
    5.2) echo lua5.2 liblua5.2-dev lua-compat53-dev ;;
    5.3 | 5.4) echo "lua$1 liblua$1-dev" ;;
    luajit) echo luajit libluajit-5.1-dev lua-compat53-dev ;;
    *) echo "unknown Lua: $1" >&2; exit 2 ;;
  esac
}

build=(cmake make g++ pkg-config liblog4cpp5-dev)
every_lua() { for lua in 5.1 5.2 5.3 5.4 luajit; do lua_packages $lua; done; }
deb=(debhelper dh-lua lintian dpkg-dev git)
mode=${1:?usage: $0 build LUA | deb | test [package ...]}
shift
case $mode in
  build)
    # shellcheck disable=SC2207
    packages=("${build[@]}" $(lua_packages "${1:?which Lua?}"))
    shift ;;
  deb)
    # shellcheck disable=SC2207
    packages=("${build[@]}" $(every_lua) "${deb[@]}") ;;
  test)
    # haproxy: the threaded server test starts its own, with its own config and
    # port. Where the package starts the system's service, that one listens on no
    # port (Debian's default config has no frontend) and is left alone.
    # meson: a consumer; the package test builds the Debian packages.
    # python3: its json module parses the records the JSON shipping test stores.
    # shellcheck disable=SC2207
    packages=("${build[@]}" $(every_lua) "${deb[@]}" lua-busted luarocks rsyslog valgrind
              libgtest-dev clang-14 libclang-rt-14-dev haproxy curl logrotate meson ninja-build
              python3) ;;
  *) echo "usage: $0 build LUA | deb | test [package ...]" >&2; exit 2 ;;
esac
packages+=("$@")

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
