#!/bin/bash
# A conversion stopped by SIGINT, SIGTERM or SIGHUP leaves nothing in the
# destination folder, and the program still ends by that signal.
#   stop_signal_test.sh <savejpg_cli> <make_bmp>
set -u
cli=$1
make_bmp=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/savejpg-stop-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/out"
# Large enough that the conversion is still running when the signal comes.
"$make_bmp" 8000 6000 24 "$work/in/big.bmp" || exit 1
set -m  # background jobs keep SIGINT's default action, as a program run from a shell has

failed=0
for signal in INT TERM HUP; do
  "$cli" "$work/in/big.bmp" "$work/out/big.jpg" 85 progressive &
  pid=$!
  # The JPEG's temporary file is open (named or not): the conversion is under way.
  for _ in $(seq 2000); do
    ls -l "/proc/$pid/fd" 2>/dev/null | grep -q -- "-> $work/out/" && break
    sleep 0.01
  done
  kill -s "$signal" "$pid"
  wait "$pid"
  status=$?
  if [ "$status" -ne $((128 + $(kill -l "$signal"))) ]; then
    echo "SIG$signal: exit status $status, not the signal's" >&2
    failed=1
  fi
  left=$(ls -A "$work/out")
  if [ -n "$left" ]; then
    echo "SIG$signal: left behind: $left" >&2
    rm -f "$work/out/"* "$work/out/".[!.]*
    failed=1
  fi
done
exit $failed
