#!/usr/bin/env bash
# Runs the threaded tests of a build made with QUELTO_TSAN=ON: Lua states on
# threads of their own logging while others configure, sharing an appender,
# forking and exiting, with records stuck in their appender or queued for the
# module's writer, each state loading the instrumented module through
# `require`. TSAN_STATES_FILTER picks some of them. Any report that
# tests/states/tsan.supp does not name fails the run (ThreadSanitizer's exit
# code 66), as does any failed expectation. A child that starts a thread
# after the fork (the writer of its own queue) is beyond ThreadSanitizer.
#   scripts/run-tsan.sh build-tsan
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)

# log4cpp and liblua are built without frame pointers: the slow unwinder
# gives stacks through them that a suppression can be matched against.
export TSAN_OPTIONS="suppressions=$root/tests/states/tsan.supp fast_unwind_on_malloc=0 exitcode=66"
"$build/tests/states_tests" --gtest_filter="${TSAN_STATES_FILTER:-ManyStates.*:SmallStack.*:SharedAppender.*:Fork.*:Exit.*:Stuck.A*Record*:Async.*-Async.AForked*}" \
  --gtest_brief=1
"$build/tests/safety_tests" --gtest_filter='Threads.*' --gtest_brief=1
echo "thread-sanitized tests passed"
