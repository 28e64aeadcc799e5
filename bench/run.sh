#!/usr/bin/env bash
# Benchmark of one file through the program and through SavetoJPEG alone
# against cjpeg and ImageMagick's convert (and of a missing file, and of
# noise at quality 100, the content that takes the most memory), then of
# bitmaps of 0.4 to 24 megapixels on one thread and on every core, then of
# the program converting a batch of 24 full-HD bitmaps in one run against
# cjpeg on every core and ImageMagick's mogrify.
#   bench/run.sh [RUNS]          (RUNS for the large case and the batch,
#                                 default 5; smaller cases run 3x and 9x as
#                                 often)
# Environment: BUILD (default: build/ beside this folder) holds
# libSaveJPG.so, savejpg_cli and morvane; WORK (default: a temporary folder)
# gets the test bitmaps and outputs. Prints a markdown table.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(dirname "$here")"
build="${BUILD:-$repo/build}"
runs="${1:-5}"
work="${WORK:-$(mktemp -d "${TMPDIR:-/tmp}/savejpg-bench-XXXXXX")}"
mkdir -p "$work"

for tool in cjpeg python3 g++; do
  command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "needs GNU time (apt-get install time)" >&2; exit 1; }
[ -x /usr/bin/convert ] || command -v convert >/dev/null || { echo "needs ImageMagick" >&2; exit 1; }
command -v mogrify >/dev/null || { echo "needs ImageMagick's mogrify" >&2; exit 1; }

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target savejpg_cli morvane SaveJPG >/dev/null
g++ -O2 -std=c++20 -o "$work/make_bmp" "$here/make_bmp.cpp"

mk() { [ -f "$work/$1.bmp" ] || "$work/make_bmp" "$2" "$3" "$4" "$work/$1.bmp" ${5:+"$5"}; }
mk small 640 480 24
mk medium 1920 1080 24
mk large 6000 4000 24
mk medium32 1920 1080 32
mk medium8 1920 1080 8
mk noise 4000 3000 24 noise
# Photo-like bitmaps of 0.4 to 1.6 megapixels: where cutting into bands pays.
for side in 512 724 1024; do mk "side$side" $((side * 3 / 2)) "$side" 24; done

echo "bench: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), libjpeg-turbo $(dpkg-query -W -f '${Version}' libjpeg62-turbo 2>/dev/null || echo '?'), $runs runs" >&2
# "missing" names no file: the run that only finds that out.
rm -f "$work/missing.bmp"
python3 "$here/bench.py" "$work" "$build" "$runs" \
  small="$work/small.bmp" medium="$work/medium.bmp" large="$work/large.bmp" \
  medium32="$work/medium32.bmp" medium8="$work/medium8.bmp" missing="$work/missing.bmp" \
  noise="$work/noise.bmp@100"
python3 "$here/threads.py" "$work" "$build" "$runs" large="$work/large.bmp" medium="$work/medium.bmp" \
  $(for side in 512 724 1024; do echo "side$side=$work/side$side.bmp"; done)
python3 "$here/batch.py" "$work" "$build" "$runs" $(for i in $(seq 24); do echo "$work/medium.bmp"; done)
