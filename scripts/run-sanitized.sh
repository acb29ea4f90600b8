#!/usr/bin/env bash
# Runs the tests of a build made with QUELTO_SANITIZE=ON: the C++ test
# binaries with leak checking, the Lua tests with the module loaded into the
# stock interpreter (memory errors and undefined behaviour only: the leak
# check of the scripts is valgrind's, in `make test`).
#   scripts/run-sanitized.sh build-asan
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)

export LSAN_OPTIONS="suppressions=$root/tests/safety/lsan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
"$build/tests/unit_tests" --gtest_brief=1
"$build/tests/safety_tests" --gtest_brief=1
# Appenders freed by one thread's configure while others log, and records
# queued for the module's writer. Not the memory test: the sanitizer's
# quarantine holds freed blocks back on purpose.
"$build/tests/states_tests" --gtest_filter='ManyStates.*:SmallStack.*:Async.*' --gtest_brief=1

# The interpreter is C: the sanitizer and the C++ runtime must come first,
# or exceptions thrown in the module cannot be intercepted.
export LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libstdc++.so)"
export ASAN_OPTIONS="detect_leaks=0"
export LUA_CPATH="$build/?.so;;"
export LUA_PATH="$root/tests/lua/?.lua;;"
# The version the module reports, as ctest passes it to the suites.
QUELTO_VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
export QUELTO_VERSION
# Each suite twice: the records written at once, then queued.
(cd "$root/tests/lua" && for async in 0 1; do for t in *_test.lua; do
  QUELTO_TEST_ASYNC=$async lua5.3 "$(command -v busted)" --output=plainTerminal "$t"
done; done)
(cd "$root/tests/memcheck" && lua5.3 error_paths.lua)
echo "sanitized tests passed"
