#!/bin/bash
# The real program on a real X server (Xvfb): started without a command
# line it shows its settings window; Esc ends it without touching the
# settings file; Alt+S writes the settings it loaded. A batch shows its
# summary in a message box; a long one shows its progress window first,
# whose Esc cancels it. Leaves screenshots of
# the windows in the build folder. Exit 77 (skipped) without Xvfb or xdotool.
#   settings_window_e2e.sh <program> <build folder> <bitmap>
set -u
program=$1
build_dir=$2
bitmap=$3

for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/morvane-e2e-XXXXXX")
xvfb_pid=
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The program with its encoder and window module, in a folder of its own,
# so that its settings file lies there too.
mkdir "$work/bin"
cp "$program" "$build_dir/libSaveJPG.so" "$build_dir/libmorvane-qt.so" "$work/bin/" ||
  fail "the program and its libraries are not all built"
ini="$work/bin/Morvane.ini"

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

# Gives `window` the keyboard focus and waits, up to ten seconds, until the
# X server reports it there, so that the keys pressed next go to it.
focus() {
  xdotool windowfocus --sync "$1"
  for _ in $(seq 200); do
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ] && return
    sleep 0.05
  done
  fail "window $1 did not take the keyboard focus"
}

window=
# Starts the program without a command line and waits for its window.
start_program() {
  "$work/bin/morvane" >"$work/out" 2>"$work/err" &
  app_pid=$!
  window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Morvane <設定>$' | head -n1)
  [ -n "$window" ] || fail "no window with the caption \"Morvane <設定>\"; stderr: $(cat "$work/err")"
  focus "$window"
}

# Presses `key` on the window and waits for the program to end with 0.
press_and_expect_end() {
  xdotool key "$1"
  for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app_pid" 2>/dev/null && fail "$1 did not end the program"
  wait "$app_pid"
  local status=$?
  app_pid=
  [ "$status" -eq 0 ] || fail "$1 ended the program with status $status; stderr: $(cat "$work/err")"
}

# 1. No settings file: the window shows the defaults; Esc creates no file.
start_program
press_and_expect_end Escape
[ -e "$ini" ] && fail "Esc created the settings file"

# 2. A settings file is there: Esc leaves it as it was.
printf '[Data]\r\nRate=40\r\nPrg=True\r\nFolder=/srv/jpeg\r\nSet=Y\r\n' >"$ini"
cp "$ini" "$work/ini.before"
start_program
if command -v import >/dev/null; then
  import -window "$window" "$build_dir/settings-window.png" || fail "no screenshot"
fi
press_and_expect_end Escape
cmp -s "$ini" "$work/ini.before" || fail "Esc changed the settings file"

# 3. Alt+S saves what the window shows: the loaded settings.
start_program
press_and_expect_end alt+s
blanks() { printf '%*s' "$1" ''; }
printf '[Data]\r\nRate=40%s\r\nPrg=True \r\nFolder=/srv/jpeg%s\r\nSet=Y \r\n' \
  "$(blanks 48)" "$(blanks 41)" >"$work/ini.expected"
cmp "$ini" "$work/ini.expected" ||
  fail "the saved settings file differs: $(od -c "$ini" | head -20)"
# 4. A batch on the display reports in a message box; Enter closes it and
# the program ends with 0.
rm -f "$ini"  # next to the source
mkdir "$work/pics"
cp "$bitmap" "$work/pics/A.BMP" || fail "no bitmap at $bitmap"
"$work/bin/morvane" "$work/pics/A.BMP" >"$work/out" 2>"$work/err" &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^変換完了$' | head -n1)
[ -n "$window" ] || fail "no summary message box; stderr: $(cat "$work/err")"
[ -s "$work/pics/A.jpg" ] || fail "no JPEG file before the summary"
[ -s "$work/out" ] && fail "the summary went to the console too: $(cat "$work/out")"
focus "$window"
press_and_expect_end Return

# 5. A long batch shows its progress window; Esc (as キャンセル) lets the
# JPEG being written finish and starts no more, the progress window goes
# before the summary, and the status says only some were converted. One
# bitmap of noise, 2400 x 1800, named 60 times: one JPEG path, so the calls
# run one after the other, for several seconds.
# `$1` as `$2` little-endian bytes.
le() {
  local i
  for ((i = 0; i < $2; i++)); do printf "\\x$(printf %02x $((($1 >> (8 * i)) & 255)))"; done
}
pixels=$((2400 * 1800 * 3))
{
  printf 'BM'; le $((54 + pixels)) 4; le 0 4; le 54 4
  le 40 4; le 2400 4; le 1800 4; le 1 2; le 24 2; le 0 4; le "$pixels" 4; le 0 16
  head -c "$pixels" /dev/urandom
} >"$work/pics/big.bmp"
names=()
for _ in $(seq 60); do names+=("$work/pics/BIG.BMP"); done
"$work/bin/morvane" "${names[@]}" >"$work/out" 2>"$work/err" &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^変換中$' | head -n1)
[ -n "$window" ] || fail "no progress window; stderr: $(cat "$work/err")"
if command -v import >/dev/null; then
  import -window "$window" "$build_dir/progress-window.png" || fail "no screenshot"
fi
focus "$window"
xdotool key Escape
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^変換完了$' | head -n1)
[ -n "$window" ] || fail "no summary after the cancel; stderr: $(cat "$work/err")"
[ -z "$(xdotool search --onlyvisible --name '^変換中$')" ] ||
  fail "the progress window is still up with the summary"
focus "$window"
xdotool key Return
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
wait "$app_pid"
status=$?
app_pid=
[ "$status" -eq 2 ] || fail "a cancelled batch ended with status $status, not 2"
[ -s "$work/pics/big.jpg" ] || fail "no JPEG from the calls made before the cancel"
[ -z "$(ls "$work/pics" | grep -v '^big\.\(bmp\|jpg\)$\|^A\.')" ] ||
  fail "a temporary file was left: $(ls "$work/pics")"
# Standard error names each name the cancel left, and nothing else: the
# progress stays in its window.
grep -q ' / not converted: the batch was cancelled$' "$work/err" ||
  fail "the names the cancel left are not named on standard error"
grep -v ' / not converted: the batch was cancelled$' "$work/err" | grep -q . &&
  fail "the progress went to the console too: $(grep -v 'cancelled$' "$work/err")"
echo "PASS"
