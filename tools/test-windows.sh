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
wine_dir=$build/wine

# The Japanese locale, made in the build folder: no root needed.
if [ ! -d "$wine_dir/locale/ja_JP.UTF-8" ]; then
  mkdir -p "$wine_dir/locale"
  localedef -i ja_JP -f UTF-8 "$wine_dir/locale/ja_JP.UTF-8" 2>/dev/null ||
    [ -d "$wine_dir/locale/ja_JP.UTF-8" ]
fi
unset LC_ALL LANGUAGE
export LOCPATH=$wine_dir/locale LANG=ja_JP.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# A display of our own; Xvfb tells its number once it listens. The pipe stays
# open while it runs.
coproc XVFB { exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp -noreset 2>/dev/null; }
xvfb_pid=$XVFB_PID
stop() {
  WINEPREFIX=${WINEPREFIX:-$wine_dir/prefix} wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
}
trap stop EXIT
read -r -t 30 display_number <&"${XVFB[0]}"
export DISPLAY=:$display_number

# The prefix is made once and copied for every run (a copy takes a second,
# a new prefix ten). Windows come and go at once without a window manager,
# and a crash is an exit status, not a dialog.
ready=$wine_dir/prefix-ready
if [ ! -f "$ready/.morvane-ready" ]; then
  rm -rf "$ready"
  export WINEPREFIX=$ready
  wine wineboot -i >/dev/null 2>&1 </dev/null
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  wineserver -w
  fonts=$ready/drive_c/windows/Fonts
  mkdir -p "$fonts"
  cp /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
  cp /usr/share/fonts/truetype/vlgothic/*.ttf "$fonts/" 2>/dev/null || true
  touch "$ready/.morvane-ready"
fi
export WINEPREFIX=$wine_dir/prefix
rm -rf "$WINEPREFIX"
cp -a "$ready" "$WINEPREFIX"

# Wine's services inherit the output of the first call: start them with
# everything sent away, then run the tests with their output kept.
wineserver -p >/dev/null 2>&1
wine cmd /c exit >/dev/null 2>&1 </dev/null

cd "$build"
# shellcheck disable=SC2086
wine ./morvane_tests.exe --gtest_brief=1 ${MORVANE_TEST_ARGS:-} </dev/null
# The program end to end: started with exact command lines, its message
# boxes read and answered.
# shellcheck disable=SC2086
wine ./morvane_program_tests.exe --gtest_brief=1 ${MORVANE_PROGRAM_TEST_ARGS:-} </dev/null
