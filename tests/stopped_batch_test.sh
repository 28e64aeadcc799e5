#!/bin/bash
# A batch stopped by SIGINT, SIGTERM or SIGHUP at any moment leaves no
# temporary JPEG behind, whatever the number of workers, and the program
# ends by that signal. Many small bitmaps, so that files are being made and
# put in place on every worker all the time; runs with seeded random
# signals and moments, bounded in number.
#   stopped_batch_test.sh <program> <build folder> <make_bmp> [RUNS]
set -u
program=$1
build_dir=$2
make_bmp=$3
runs=${4:-36}
# No dot in the folder names: the command line treats dots specially.
work=$(mktemp -d "${TMPDIR:-/tmp}/morvane-stopped-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir "$work/bin" "$work/pics"
cp "$program" "$build_dir/libSaveJPG.so" "$work/bin/" || fail "the program is not built"
"$make_bmp" 32 24 24 "$work/one.bmp" || fail "no bitmap made"
names=()
for i in $(seq -w 300); do
  cp "$work/one.bmp" "$work/pics/f$i.BMP"
  names+=("$work/pics/f$i.BMP")
done

# Background jobs keep SIGINT's default action, as a program run from a
# shell has.
set -m
start() {  # start WORKERS: the whole batch in the background; $! is the program
  env -u DISPLAY -u WAYLAND_DISPLAY ${1:+MORVANE_WORKERS=$1} "$work/bin/morvane" "${names[@]}" \
    >/dev/null 2>&1 &
}

# The moments are spread over the length of a whole batch.
begin=$(date +%s%N)
start ""
wait $! || fail "the batch without a signal did not convert every file"
span_us=$(( ($(date +%s%N) - begin) / 1000 ))
rm -f "$work/pics/"*.jpg

RANDOM=${SEED:-17}
worker_counts=(1 "" 16 1000)
signals=(INT TERM HUP)
failed=0
for ((r = 0; r < runs; ++r)); do
  workers=${worker_counts[r % 4]}
  signal=${signals[RANDOM % 3]}
  delay_us=$(( (RANDOM * 32768 + RANDOM) % (span_us + 1) ))
  start "$workers"
  pid=$!
  sleep "$((delay_us / 1000000)).$(printf '%06d' $((delay_us % 1000000)))"
  kill -s "$signal" "$pid" 2>/dev/null
  { wait "$pid"; } 2>/dev/null  # the shell's own word on how the job ended is not wanted
  status=$?
  if [ "$status" -ne 0 ] && [ "$status" -ne $((128 + $(kill -l "$signal"))) ]; then
    echo "workers ${workers:-default}, SIG$signal after ${delay_us} us: exit status $status"
    failed=1
  fi
  left=$(cd "$work/pics" && ls -A | grep -v -E '^f[0-9]+\.(BMP|jpg)$')
  if [ -n "$left" ]; then
    echo "workers ${workers:-default}, SIG$signal after ${delay_us} us: left behind" \
      "$(wc -w <<<"$left") files:" $(head -n 3 <<<"$left")
    failed=1
  fi
  find "$work/pics" -type f ! -name '*.BMP' -delete
done
[ "$failed" -eq 0 ] && echo "$runs runs, batch of ${span_us} us: nothing left behind"
exit $failed
