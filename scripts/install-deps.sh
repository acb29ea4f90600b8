#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, and only those
# that are missing. Safe to run any number of times.
#   scripts/install-deps.sh [extra-package ...]
set -euo pipefail

packages=(lua5.3 liblua5.3-dev lua5.1 liblua5.1-0-dev lua5.2 liblua5.2-dev lua5.4 liblua5.4-dev
          luajit libluajit-5.1-dev lua-compat53-dev liblog4cpp5-dev lua-busted pkg-config luarocks rsyslog
          cmake make g++ valgrind libgtest-dev clang-14 libclang-rt-14-dev haproxy curl logrotate "$@")
# haproxy: the threaded server test starts its own, with its own config and
# port. Where the package starts the system's service, that one listens on no
# port (Debian's default config has no frontend) and is left alone.

missing=()
for p in "${packages[@]}"; do
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
