#!/usr/bin/env bash
# The static library shares the link of the program that takes it in: every
# symbol it defines for the linker lies in namespace quelto, or is the entry
# point or the hosts' flush and reopen, or compat-5.3 under the module's own prefix.
# Weak definitions that the compiler emits for the standard library's and
# log4cpp's inline code are the same in every object that uses them, so they
# cannot clash.
#   symbols_test.sh LIBRARY
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/check.sh"

library=$1
outside=$(nm -C --defined-only "$library" |
  awk '$2 ~ /^[A-Z]$/ { $1 = ""; sub(/^ /, ""); print }' |
  grep -Ev '^[A-Z] (.* )?quelto::|^[A-Z] luaopen_quelto_internal$|^[A-Z] quelto_internal_(reopen|flush|priorities_changed)$|^[A-Z] quelto_compat53' |
  grep -Ev '^[WVu] ([a-z_]+ )?(std::|__gnu_cxx::|log4cpp::|DW\.ref\.|(typeinfo|typeinfo name|vtable) for (std|log4cpp)::)' ||
  true)
expect_eq "no symbol outside namespace quelto" "" "$outside"
finish
