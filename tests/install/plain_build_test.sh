#!/usr/bin/env bash
# The plain CMake build with the build dependencies only: in a private mount
# namespace that hides every tool the tests use (and every other Lua), the
# configure, build and install of the defaults succeed; asking for the tests
# there fails on the first missing tool.
#   plain_build_test.sh SOURCE_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/check.sh"

source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs its arguments in a namespace where the test tools and the
# interpreters are empty files that nothing can run, and the headers of
# GoogleTest and of every Lua but 5.3 are empty directories.
hidden_programs='^(busted|valgrind|rsyslogd|haproxy|curl|clang.*|lua|lua5\..*|luajit.*|luarocks.*)$'
hidden_dirs=(/usr/include/gtest /usr/include/gmock /usr/src/googletest /usr/include/lua5.1
             /usr/include/lua5.2 /usr/include/lua5.4 /usr/include/luajit-2.1
             "/usr/lib/$(gcc -print-multiarch)/cmake/GTest")
touch "$work/nothing"
without_test_tools() {
  local unshare=(unshare --mount)
  [ "$(id -u)" -eq 0 ] || unshare+=(--map-root-user)
  "${unshare[@]}" bash -euc '
    mount --make-rprivate /
    for dir in $2; do [ -d "$dir" ] && mount -t tmpfs none "$dir"; done
    for program in /usr/bin/* /usr/sbin/*; do
      if [[ ${program##*/} =~ $1 ]] && [ -e "$program" ]; then mount --bind "$0" "$program"; fi
    done
    shift 2
    "$@"' "$work/nothing" "$hidden_programs" "${hidden_dirs[*]}" "$@"
}

expect_eq "the test tools are hidden" "" \
  "$(without_test_tools bash -c 'for tool in busted valgrind lua5.3 lua5.4 luajit haproxy clang++-14; do
                                  [ -x "$(command -v $tool)" ] && echo $tool; done; ls /usr/include/gtest')"

if out=$(without_test_tools bash -c 'cmake -S "$1" -B "$2/build" -DQUELTO_LUA=5.3 &&
           cmake --build "$2/build" -j2 && DESTDIR="$2/stage" cmake --install "$2/build" --prefix /usr' \
           - "$source_dir" "$work" 2>&1); then
  pass "the plain build configures, builds and installs"
else
  fail "the plain build configures, builds and installs" "$(tail -n 20 <<<"$out")"
fi
multiarch=$(gcc -print-multiarch)
for file in include/quelto_internal.h "lib/$(gcc -print-multiarch)/lua/5.3/quelto_internal.so" \
            "lib/$multiarch/libquelto_internal-lua5.3.a" \
            "lib/$multiarch/cmake/quelto_internal/quelto_internal-lua5.3-targets.cmake" \
            "lib/$multiarch/pkgconfig/quelto_internal-lua5.3.pc"; do
  expect_file "installed: $file" "$work/stage/usr/$file"
done

out=$(without_test_tools cmake -S "$source_dir" -B "$work/tests" -DQUELTO_LUA=5.3 -DQUELTO_TESTS=ON 2>&1)
status=$?
if [ $status -ne 0 ] && grep -q "GTest" <<<"$out"; then
  pass "with the tests asked for, a missing tool is an error"
else
  fail "with the tests asked for, a missing tool is an error" "status $status" "$(tail -n 5 <<<"$out")"
fi

finish
