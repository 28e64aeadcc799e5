#!/bin/bash
# The program and its window module meet only through the module's C entry
# point (ui/desktop_module.h): the program exports no symbol the module
# could bind to, the module exports its entry point alone, and every symbol
# the module uses comes from its own libraries (Qt and the system's shared
# C++ runtime), none from the program with its C++ runtime linked in.
#   module_boundary_test.sh <program> <module>
set -u
program=$1
module=$2
fail() { echo "FAIL: $*"; exit 1; }

exported=$(nm -D --defined-only "$program") || fail "nm cannot read $program"
[ -z "$exported" ] || fail "the program exports symbols: $(echo "$exported" | head -5)"

# Besides the symbols the linker itself defines.
module_exports=$(nm -D --defined-only --extern-only "$module" |
  awk '$2 ~ /^[TDBRVW]$/ && $3 !~ /^(_edata|_end|__bss_start|_init|_fini)$/ {print $3}')
[ "$module_exports" = "MorvaneOpenDesktopToolkit" ] ||
  fail "the module exports more than its entry point: $(echo "$module_exports" | head -5)"

unresolved=$(ldd -r "$module" 2>&1 | grep -i "undefined symbol")
[ -z "$unresolved" ] || fail "the module needs symbols its libraries lack: $unresolved"
echo "ok"
