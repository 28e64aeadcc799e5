#!/usr/bin/env bash
# Builds Morvane for Windows with its unit tests (tools/build-windows.sh
# --tests) and runs the test binary under Wine, headless: a private Xvfb,
# a Wine prefix kept ready in BUILD_DIR/wine, and a Japanese locale, so that
# the ANSI code page is 932 as on the program's own systems.
#
#   tools/test-windows.sh [BUILD_DIR]      (default build-windows)
#
# Then the program's end-to-end tests (tests/win32/). Extra arguments for the
# unit-test binary go in MORVANE_TEST_ARGS (for example
# --gtest_filter=LookUpEntry.*), for the end-to-end one in
# MORVANE_PROGRAM_TEST_ARGS. Run from the project root.
set -euo pipefail

build_dir=${1:-build-windows}
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build-windows.sh" --tests "$build_dir"
build=$(cd "$build_dir" && pwd)

# The Japanese locale, a private Xvfb and a fresh copy of the prefix kept
# ready in BUILD_DIR/wine (tools/wine-env.sh).
# shellcheck source=tools/wine-env.sh
. "$root/tools/wine-env.sh"
wine_env_setup "$build/wine"
trap wine_env_stop EXIT
wine_env_start_display 1024x768x24
wine_env_use_prefix "$build/wine/prefix"

cd "$build"
# shellcheck disable=SC2086
wine ./morvane_tests.exe --gtest_brief=1 ${MORVANE_TEST_ARGS:-} </dev/null
# The program end to end: started with exact command lines, its message
# boxes read and answered.
# shellcheck disable=SC2086
wine ./morvane_program_tests.exe --gtest_brief=1 ${MORVANE_PROGRAM_TEST_ARGS:-} </dev/null
