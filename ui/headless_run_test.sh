#!/bin/bash
# Without a display the program never loads its window module or Qt: a
# batch converts and reports on the console, and a start without a command
# line says on standard error that no window can be shown and exits 1. A
# display that names no X server must not abort the program either.
#   headless_run_test.sh <program> <build folder> <bitmap>
set -u
program=$1
build_dir=$2
bitmap=$3
# No dot in the folder names: the command line treats dots specially.
work=$(mktemp -d "${TMPDIR:-/tmp}/morvane-headless-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir "$work/bin" "$work/pics"
cp "$program" "$build_dir/libSaveJPG.so" "$build_dir/libmorvane-qt.so" "$work/bin/" ||
  fail "the program and its libraries are not all built"

cp "$bitmap" "$work/pics/A.BMP" || fail "no bitmap at $bitmap"

# Runs the program without a display; LD_DEBUG lists every file it loads.
run_headless() {
  env -u DISPLAY -u WAYLAND_DISPLAY LD_DEBUG=files LD_DEBUG_OUTPUT="$work/ld" \
    "$work/bin/morvane" "$@" >"$work/out" 2>"$work/err"
  status=$?
  cat "$work"/ld.* >"$work/loaded" 2>/dev/null
  rm -f "$work"/ld.*
  grep -q 'libSaveJPG\|libc\.so' "$work/loaded" || fail "LD_DEBUG listed nothing"
  if grep -E 'libQt6|libmorvane-qt' "$work/loaded" | head -3 | grep .; then
    fail "a run without a display loaded the window module or Qt"
  fi
}

run_headless "$work/pics/A.BMP"
[ "$status" -eq 0 ] || fail "the batch ended with $status: $(cat "$work/err")"
[ -s "$work/pics/A.jpg" ] || fail "no JPEG file was written"
grep -q '変換完了' "$work/out" || fail "no summary on standard output"

run_headless
[ "$status" -eq 1 ] || fail "a start without a command line ended with $status"
grep -q 'cannot be shown without a display' "$work/err" || fail "no word on standard error"
[ -e "$work/bin/Morvane.ini" ] && fail "the settings file was written"

# A display with no server behind it: the module starts Qt, finds no
# display, and the console takes over.
env -u WAYLAND_DISPLAY DISPLAY=:999 QT_QPA_PLATFORM= "$work/bin/morvane" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 1 ] || fail "with an unreachable display the program ended with $status: $(cat "$work/err")"
grep -q 'cannot be shown without a display' "$work/err" || fail "no word on standard error"
echo "PASS"
